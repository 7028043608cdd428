#include "listing.h"

#include <algorithm>
#include <cstdio>
#include <fmt/format.h>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <tessarn/tessarn.h>

namespace TessarnStat {

namespace {

constexpr std::string_view validMark = "\u2705";
constexpr std::string_view invalidMark = "\u274C";

void printLine(const std::string& line)
{
    std::cout << line << std::endl;
}

std::string_view stateWord(Tessarn::Constants::States state)
{
    switch (state) {
    case Tessarn::Constants::States::Hydrated:
        return "hydrated";
    case Tessarn::Constants::States::Dehydrated:
        return "dehydrated";
    case Tessarn::Constants::States::Hydrating:
        return "hydrating";
    }
    return "";
}

std::string_view pinStateWord(Tessarn::Constants::PinStates pinState)
{
    switch (pinState) {
    case Tessarn::Constants::PinStates::Unspecified:
        return "unspecified";
    case Tessarn::Constants::PinStates::Hydrated:
        return "hydrated";
    case Tessarn::Constants::PinStates::Dehydrated:
        return "dehydrated";
    case Tessarn::Constants::PinStates::Inherited:
        return "inherited";
    case Tessarn::Constants::PinStates::Excluded:
        return "excluded";
    }
    return "";
}

// Through the mount a file that downloads tells how far it has come ("ARRIVED/SIZE"); in the
// folder underneath, or once the download ended, it has no such attribute.
std::string stateColumn(const Tessarn::PlaceHolderAttributes& record)
{
    const auto word = stateWord(record.state);
    if (record.state != Tessarn::Constants::States::Hydrating)
        return std::string(word);
    const auto progress =
        Xattr::CPP::getxattr(record.path, Tessarn::Constants::progressAttribute);
    unsigned long long arrived = 0;
    unsigned long long size = 0;
    if (!progress || std::sscanf(progress->c_str(), "%llu/%llu", &arrived, &size) != 2 ||
        size == 0)
        return std::string(word);
    return fmt::format("{} {}%", word, std::min(arrived, size) * 100 / size);
}

// A file without the attribute reads as the default record (an empty value).
Tessarn::PlaceHolderAttributes readRecord(const std::filesystem::path& path)
{
    const auto value = Xattr::CPP::getxattr(path, Tessarn::Constants::placeholderAttribute);
    const std::vector<unsigned char> bytes =
        value ? std::vector<unsigned char>(value->begin(), value->end())
              : std::vector<unsigned char>();
    return Tessarn::PlaceHolderAttributes::fromData(path, bytes);
}

void reportUnknownSize(const std::filesystem::path& path, const std::string& reason)
{
    std::cerr << "Cannot determine the actual size of " << path << ": " << reason << std::endl;
}

std::optional<std::uint64_t> actualSize(const Tessarn::PlaceHolderAttributes& record)
{
    try {
        return record.realSize();
    } catch (const std::filesystem::filesystem_error& e) {
        reportUnknownSize(record.path, e.what());
    } catch (const std::logic_error&) {
        reportUnknownSize(record.path, "its realsize attribute holds no number in range");
    }
    return std::nullopt;
}

// validate() asks for the actual size again; a size that cannot be determined (or has
// vanished since) does not validate a dehydrated record.
bool isValid(const Tessarn::PlaceHolderAttributes& record)
{
    try {
        return record.validate();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

void printRegistration(const std::filesystem::path& path)
{
    try {
        const auto registration = Tessarn::Registration::fromAttributes(path);
        if (registration.isOk()) {
            printLine(fmt::format("Tessarn Stat: '{}' Owner: '{}' Tessarn Version: {}",
                                  path.native(), registration.owner(), registration.version()));
        } else {
            printLine(fmt::format("Tessarn Stat: '{}' ({})", path.native(), registration.error()));
        }
    } catch (const nlohmann::json::exception& e) {
        std::cerr << "Malformed registration of " << path << ": " << e.what() << std::endl;
        printLine(fmt::format("Tessarn Stat: '{}' ({})", path.native(), e.what()));
    }
}

void printHeader()
{
    printLine(fmt::format("{:<60} {:<4} {:<10} {:<10} {:<10} {:<10} {:<33} {}", "Path", "Valid",
                          "Size", "ActualSize", "State", "PinState", "Etag", "FileId"));
}

void printRow(const std::filesystem::path& path)
{
    Tessarn::PlaceHolderAttributes record;
    try {
        record = readRecord(path);
    } catch (const nlohmann::json::exception& e) {
        std::cerr << "Malformed placeholder record of " << path << ": " << e.what() << std::endl;
        return;
    }
    const auto actual = actualSize(record);
    const auto mark = isValid(record) ? validMark : invalidMark;
    // The mark is two columns wide but the formatter counts it as one, so the centred
    // four-column field is written out by hand: a blank, the mark, a blank.
    printLine(fmt::format("{:<60}  {}  {:>10} {:>10} {:>10} {:>10} {:<33} {}",
                          path.filename().native(), mark, record.size,
                          actual ? std::to_string(*actual) : std::string(), stateColumn(record),
                          pinStateWord(record.pinState), record.etag, record.fileId));
}

} // namespace TessarnStat
