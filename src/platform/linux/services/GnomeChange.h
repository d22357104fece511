#pragma once

// Mutter's monitors as its DisplayConfig service lists them, and what a
// change of the device's mode makes of them: the modes of a mirrored
// device's partners, the scale, the layout. Pure: GnomeDisplayConfig.cpp
// reads the state, asks these, and sends the state they return.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/Modes.h"

namespace platform {

constexpr uint32_t kLogicalLayout = 1;   ///< layout-mode: monitor sizes are divided by the scale
constexpr uint32_t kPhysicalLayout = 2;  ///< layout-mode: monitor sizes in pixels

/// One mode of a monitor, as GetCurrentState lists it.
struct GnomeMode {
  std::string id;              ///< the service's name for it, e.g. "1024x768@60.000"
  ModeEntry entry;             ///< its id: the position in the monitor's list
  double preferredScale = 1;   ///< the service's preferred scale, which the mode may not list
  std::vector<double> scales;  ///< the scales the mode supports, as the service lists them
  bool variableRate = false;   ///< a variable refresh rate mode (refresh-rate-mode "variable")
};

/// One physical monitor, its modes in the service's order and the settings
/// that a change must repeat, or the service resets them.
struct GnomeMonitor {
  std::string connector;
  std::vector<GnomeMode> modes;
  int current = -1;                   ///< position of the mode in force; -1: none
  std::optional<bool> underscanning;  ///< as reported (is-underscanning)
  std::optional<uint32_t> colorMode;  ///< as reported (color-mode)
  std::optional<uint32_t> rgbRange;   ///< as reported (rgb-range)
  bool forLease = false;              ///< set aside for lease, out of the layout (is-for-lease)
  std::string vendor{}, product{}, serial{};  ///< with the connector, the spec that names it for lease
};

/// One logical monitor: a place in the layout shown by one or more monitors
/// (more than one: they mirror each other).
struct GnomeLogical {
  int32_t x = 0, y = 0;  ///< layout units: pixels, or pixels divided by the scale
  double scale = 1;
  uint32_t transform = 0;  ///< 0 normal, 1 90°, 2 180°, 3 270°, 4-7 the same flipped
  bool primary = false;
  std::vector<std::string> connectors;
};

/// What GetCurrentState gave, and the device among it.
struct GnomeState {
  std::vector<GnomeMonitor> monitors;
  std::vector<GnomeLogical> logicals;
  uint32_t layoutMode = kPhysicalLayout;
  bool layoutModeChangeable = false;  ///< supports-changing-layout-mode: a change must repeat the layout mode
  int device = -1;                    ///< position of the device in `monitors`
  int logical = -1;                   ///< position of the device's logical monitor in `logicals`
};

/// A monitor's setting as ApplyMonitorsConfig takes it: its key, its value
/// and the value's D-Bus type ("b": a boolean held as 0 or 1, "u").
struct GnomeSetting {
  const char* key;
  const char* type;
  uint32_t value;
  bool operator==(const GnomeSetting& other) const;
};

/// Returns the settings of `monitor` that a change must send back, or the
/// service resets them: each one it reported, under the key the call takes.
std::vector<GnomeSetting> RepeatedSettings(const GnomeMonitor& monitor);

/// Returns the position of `connector`'s monitor in `state.monitors`; -1: none.
int MonitorOf(const GnomeState& state, const std::string& connector);

/// Returns the modes of `monitor` of the same kind (fixed or variable refresh
/// rate) as its mode in force (fixed where none is), in the service's order.
std::vector<ModeEntry> ListedModes(const GnomeMonitor& monitor);

/// Returns the scale for a logical monitor at `scale` whose monitors change
/// from mode `from` to mode `to`. A mode's default scale is its preferred
/// scale where it lists it, else the largest it lists below that. A default
/// scale (or the preferred one, which Mutter may set where it is not listed)
/// becomes `to`'s default; a chosen one is kept where `to` lists it (as its
/// own value of the same quarter step nearest to it: 1.25 is 1.24878049 at
/// 1280x1024 on Mutter 43), else `to` takes its default.
double ScaleFor(const GnomeMode& from, const GnomeMode& to, double scale);

/// Returns the state with the device showing `mode` (one of its ListedModes),
/// every monitor that mirrors it a mode of the same size chosen as ChooseMode
/// does with `refreshHz`, the scale by ScaleFor, and the layout kept by
/// ResizeInLayout. Throws ServiceError with one line saying why when a
/// mirroring monitor lacks the size or no layout keeps the arrangement.
GnomeState PlanGnomeChange(const GnomeState& state, const ModeEntry& mode, int32_t refreshHz);

}  // namespace platform
