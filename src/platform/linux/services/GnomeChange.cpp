#include "platform/linux/services/GnomeChange.h"

#include <algorithm>
#include <cmath>

#include "platform/linux/Layout.h"
#include "platform/linux/ServiceError.h"

namespace platform {
namespace {

/// Whether two scales are the one value the service listed: it sends floats as doubles.
bool SameScale(double a, double b) { return std::fabs(a - b) < 1e-4; }

/// The quarter step a scale stands for. Up to Mutter 48 a mode lists at most
/// one scale per step, the nearest to it that gives whole logical pixels;
/// from 51 on, every fraction n/d (d up to 4) that divides the mode exactly,
/// so a step may hold two (1.25 and 1.333 at 1920x1200).
long QuarterStep(double scale) { return std::lround(scale * 4); }

/// A mode's default scale: its preferred one where it lists it, else the
/// largest it lists below that, else its smallest.
double DefaultScale(const GnomeMode& mode) {
  if (mode.scales.empty()) return mode.preferredScale;
  double chosen = *std::min_element(mode.scales.begin(), mode.scales.end());
  for (double scale : mode.scales) {
    if (SameScale(scale, mode.preferredScale)) return scale;
    if (scale < mode.preferredScale) chosen = std::max(chosen, scale);
  }
  return chosen;
}

/// The place of `logical` in the layout, sized by its first monitor's mode
/// in force as Mutter sizes it; nothing when that monitor shows no mode.
std::optional<Rect> PlaceOfLogical(const GnomeState& state, const GnomeLogical& logical) {
  const int shown = logical.connectors.empty() ? -1 : MonitorOf(state, logical.connectors[0]);
  if (shown < 0 || state.monitors[shown].current < 0) return std::nullopt;
  const GnomeMonitor& monitor = state.monitors[shown];
  const ModeEntry& mode = monitor.modes[monitor.current].entry;
  return PlaceOf(logical.x, logical.y, mode.width, mode.height, logical.transform,
                 state.layoutMode == kLogicalLayout ? logical.scale : 1);
}

/// Gives every monitor of the device's logical monitor a mode of `mode`'s
/// size: the device `mode`, the others their own choice. Throws
/// ServiceError where one lacks it.
void ChooseMirroredModes(GnomeState& after, const ModeEntry& mode, int32_t refreshHz) {
  const std::string& deviceName = after.monitors[after.device].connector;
  for (const std::string& connector : after.logicals[after.logical].connectors) {
    const int shown = MonitorOf(after, connector);
    if (shown < 0) continue;  // the service lists a logical monitor's monitors among its monitors
    GnomeMonitor& monitor = after.monitors[shown];
    if (connector == deviceName) {
      monitor.current = static_cast<int>(*mode.id);
      continue;
    }
    const std::vector<ModeEntry> listed = ListedModes(monitor);
    monitor.current = static_cast<int>(*listed[ChooseMirrorMode(listed, mode, refreshHz, connector, deviceName)].id);
  }
}

}  // namespace

int MonitorOf(const GnomeState& state, const std::string& connector) {
  for (size_t i = 0; i < state.monitors.size(); ++i)
    if (state.monitors[i].connector == connector) return static_cast<int>(i);
  return -1;
}

bool GnomeSetting::operator==(const GnomeSetting& other) const {
  return std::string(key) == other.key && std::string(type) == other.type && value == other.value;
}

std::vector<GnomeSetting> RepeatedSettings(const GnomeMonitor& monitor) {
  std::vector<GnomeSetting> settings;
  if (monitor.underscanning) settings.push_back({"underscanning", "b", *monitor.underscanning});
  if (monitor.colorMode) settings.push_back({"color-mode", "u", *monitor.colorMode});
  if (monitor.rgbRange) settings.push_back({"rgb-range", "u", *monitor.rgbRange});
  return settings;
}

std::vector<ModeEntry> ListedModes(const GnomeMonitor& monitor) {
  const bool variable = monitor.current >= 0 && monitor.modes[monitor.current].variableRate;
  std::vector<ModeEntry> listed;
  for (const GnomeMode& mode : monitor.modes)
    if (mode.variableRate == variable) listed.push_back(mode.entry);
  return listed;
}

double ScaleFor(const GnomeMode& from, const GnomeMode& to, double scale) {
  // Mutter itself may have put the preferred scale on a mode that does not list it.
  if (SameScale(scale, DefaultScale(from)) || SameScale(scale, from.preferredScale)) return DefaultScale(to);
  double kept = 0;
  for (double listed : to.scales)
    if (QuarterStep(listed) == QuarterStep(scale) && (kept == 0 || std::fabs(listed - scale) < std::fabs(kept - scale)))
      kept = listed;
  return kept > 0 ? kept : DefaultScale(to);
}

GnomeState PlanGnomeChange(const GnomeState& state, const ModeEntry& mode, int32_t refreshHz) {
  GnomeState after = state;
  std::vector<Rect> before;
  for (const GnomeLogical& logical : state.logicals) {
    const std::optional<Rect> place = PlaceOfLogical(state, logical);
    if (!place)
      throw ServiceError("monitor " + (logical.connectors.empty() ? std::string("(none)") : logical.connectors[0]) +
                         " shows no mode");
    before.push_back(*place);
  }
  ChooseMirroredModes(after, mode, refreshHz);
  const GnomeMonitor& device = state.monitors[state.device];
  GnomeLogical& ours = after.logicals[state.logical];
  ours.scale = ScaleFor(device.modes[device.current], device.modes[*mode.id], ours.scale);
  const std::vector<Rect> placed =
      ResizeOrRefuse(before, static_cast<size_t>(state.logical), *PlaceOfLogical(after, ours), device.connector, mode);
  for (size_t i = 0; i < after.logicals.size(); ++i) {
    after.logicals[i].x = placed[i].x;
    after.logicals[i].y = placed[i].y;
  }
  return after;
}

}  // namespace platform
