// The client's pin states as the placeholder records store them, and back.
#pragma once

#include <tessarn/tessarn.h>
#include <vdk/pinstate.h>
#include <vdk/vfs.h>

namespace VDK {

// Client values outside the known range store as Dehydrated.
::Tessarn::Constants::PinStates toRecordPinState(PinState state);
// Record values outside the known range read as AlwaysLocal.
PinState toHostPinState(::Tessarn::Constants::PinStates state);

// What the client shows for an item with this record: from its own pin state and state.
VfsItemAvailability availabilityOf(::Tessarn::Constants::PinStates pinState,
                                   ::Tessarn::Constants::States state);

} // namespace VDK
