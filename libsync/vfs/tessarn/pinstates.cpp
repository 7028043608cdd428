#include "pinstates.h"

#include "boundary.h"
#include "logging.h"
#include "records.h"
#include "vfs_tessarn.h"

#include <QDebug>

namespace VDK {

namespace {

using RecordPin = ::Tessarn::Constants::PinStates;
using States = ::Tessarn::Constants::States;

// The client's value of each record pin state is its index here.
constexpr RecordPin recordPinByHostValue[] = {RecordPin::Inherited, RecordPin::Dehydrated,
                                              RecordPin::Hydrated, RecordPin::Unspecified,
                                              RecordPin::Excluded};

} // namespace

RecordPin toRecordPinState(PinState state)
{
    const auto index = std::size_t(state);
    return index < std::size(recordPinByHostValue) ? recordPinByHostValue[index]
                                                   : RecordPin::Dehydrated;
}

PinState toHostPinState(RecordPin state)
{
    for (std::size_t index = 0; index < std::size(recordPinByHostValue); ++index) {
        if (recordPinByHostValue[index] == state)
            return PinState(index);
    }
    return PinState::AlwaysLocal;
}

VfsItemAvailability availabilityOf(RecordPin pinState, States state)
{
    switch (toHostPinState(pinState)) {
    case PinState::AlwaysLocal:
        return VfsItemAvailability::AlwaysLocal;
    case PinState::OnlineOnly:
        return VfsItemAvailability::OnlineOnly;
    case PinState::Inherited:
        if (state == States::Hydrated)
            return VfsItemAvailability::AllHydrated;
        return state == States::Dehydrated ? VfsItemAvailability::AllDehydrated
                                           : VfsItemAvailability::Mixed;
    default:
        return VfsItemAvailability::Mixed;
    }
}

bool Tessarn::setPinState(const QString& relativePath, PinState state)
{
    return guarded(
        "setPinState",
        [&] {
            const FileSystem::Path path = params().root() / relativePath;
            qCDebug(lcTessarn) << path.toString() << int(state);
            PlaceholderRecord record = placeHolderAttributes(path);
            if (!record.isOk())
                return false;
            record.pinState = toRecordPinState(state);
            return bool(writePlaceHolderAttributes(record));
        },
        [](const QString&) { return false; });
}

// An inherited pin state is the nearest ancestor's; the folder root ends the walk.
Optional<PinState> Tessarn::pinState(const QString& relativePath)
{
    return guarded(
        "pinState",
        [&]() -> Optional<PinState> {
            std::filesystem::path relative = FileSystem::Path::relative(relativePath);
            while (true) {
                const PlaceholderRecord record = placeHolderAttributes(params().root() / FileSystem::Path(relative));
                if (!record.isOk()) {
                    qCDebug(lcTessarn) << "Couldn't find pin state for placeholder file"
                                       << relativePath;
                    return {};
                }
                if (record.pinState != RecordPin::Inherited || relative.relative_path().empty())
                    return toHostPinState(record.pinState);
                relative = relative.parent_path();
            }
        },
        [](const QString&) { return Optional<PinState>(); });
}

Vfs::AvailabilityResult Tessarn::availability(const QString& relativePath,
                                              AvailabilityRecursivity)
{
    return guarded(
        "availability",
        [&]() -> AvailabilityResult {
            const PlaceholderRecord record = placeHolderAttributes(params().root() / relativePath);
            if (!record.isOk())
                return AvailabilityError::NoSuchItem;
            return availabilityOf(record.pinState, record.state);
        },
        [](const QString&) { return AvailabilityResult(AvailabilityError::NoSuchItem); });
}

void Tessarn::fileStatusChanged(const QString& systemFileName, SyncFileStatus fileStatus)
{
    guarded("fileStatusChanged", [&] {
        if (fileStatus.tag() != SyncFileStatus::StatusExcluded) {
            qCDebug(lcTessarn) << systemFileName << int(fileStatus.tag());
            return;
        }
        const std::filesystem::path relative =
            FileSystem::toFilesystemPath(systemFileName).lexically_relative(params().root());
        setPinState(FileSystem::fromFilesystemPath(relative), PinState::Excluded);
    });
}

} // namespace VDK
