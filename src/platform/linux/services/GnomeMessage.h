#pragma once

// The messages of Mutter's DisplayConfig service as GnomeState: the reply of
// GetCurrentState read into it, and the state an ApplyMonitorsConfig call
// sends written from it, with the settings Mutter would otherwise reset.

#include <cstdint>

#include "platform/linux/services/GnomeChange.h"
#include "platform/linux/services/SdBusCalls.h"

namespace platform {

/// Returns `result` when sd-bus reports success (>= 0); throws ServiceError
/// with the call and the reason otherwise.
int SdCheck(int result, const char* call);

/// Reads GetCurrentState's reply into `state` (its device not yet picked)
/// and returns the reply's serial, which a change must quote.
/// Throws ServiceError where the reply is not as the service describes it.
uint32_t ReadGnomeState(const SdBus& sd, sd_bus_message* reply, GnomeState* state);

/// Appends `state` to an ApplyMonitorsConfig call: its logical monitors,
/// a(iiduba(ssa{sv})), each monitor with its mode and the settings it
/// reported, and the properties, a{sv}. Throws ServiceError.
void AppendGnomeState(const SdBus& sd, sd_bus_message* m, const GnomeState& state);

}  // namespace platform
