#pragma once

// What KWin announces about its outputs, as the listeners record it: each
// kde_output_device_v2 with its modes, Plasma's order of the outputs, and
// KWin's answer to a configuration. The listeners only record; KdeChange.cpp
// decides from the plain states that StateOf gives.

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/services/WaylandClient.h"  // first: the protocol headers' calls go to the loaded library

#include "kde-output-device-v2-client-protocol.h"
#include "kde-output-management-v2-client-protocol.h"
#include "kde-output-order-v1-client-protocol.h"
#include "kde-primary-output-v1-client-protocol.h"
#include "platform/linux/services/KdeChange.h"

namespace platform {

/// One mode of an output, as its kde_output_device_mode_v2 announced it.
struct KdeMode {
  kde_output_device_mode_v2* proxy = nullptr;  // nullptr once KWin removed it
  int32_t width = 0, height = 0;  // pixels
  int32_t refresh = 0;            // mHz
  bool preferred = false;
  bool removed = false;  // no longer offered: never listed, never sent
};

/// One output, as its kde_output_device_v2 announced it.
struct KdeOutput {
  kde_output_device_v2* proxy = nullptr;
  KdeOutputState state;  // as announced, but for its modes (StateOf adds them)
  bool done = false;     // its whole state has been announced
  bool removed = false;  // disconnected: it shows nothing and takes no configuration
  std::vector<std::unique_ptr<KdeMode>> modes;  // in KWin's order; the listeners hold their addresses
  const KdeMode* current = nullptr;  // the mode in force, one of `modes`
};

/// Plasma's order of the enabled outputs, by name.
struct OutputOrder {
  std::vector<std::string> names;
  bool done = false;  // the list is whole; the next name begins a new one
};

/// KWin's answer to a configuration, and its reason for a refusal.
struct Answer {
  enum { kNone, kApplied, kFailed } kind = kNone;
  std::string reason;  // empty before management version 12
};

/// Record an output's events into its KdeOutput, and its modes' (each added
/// as it is announced).
extern const kde_output_device_v2_listener kOutputListener;
/// Records Plasma's order into an OutputOrder.
extern const kde_output_order_v1_listener kOrderListener;
/// Records the primary output alone into an OutputOrder, where Plasma has no order.
extern const kde_primary_output_v1_listener kPrimaryListener;
/// Records KWin's answer to a configuration into an Answer.
extern const kde_output_configuration_v2_listener kConfigurationListener;

/// Returns `output` as the rules see it: a mode's id is its place in `output.modes`.
KdeOutputState StateOf(const KdeOutput& output);

}  // namespace platform
