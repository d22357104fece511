#pragma once

// The wlroots family's heads as zwlr_output_manager_v1 announces them, and
// what a change of the device's mode sends to each: a mode to the device and
// to the heads that show its picture, a place to the heads the layout rule
// moves, nothing else. Pure: WlrOutputManagement.cpp reads the heads, asks
// these, and sends what they return.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/Layout.h"
#include "platform/linux/Modes.h"

namespace platform {

/// One head (an output, enabled or not) as the compositor announced it.
struct WlrHeadState {
  std::string name;
  std::vector<ModeEntry> modes;      ///< the modes it offers; ids: their places in the compositor's list
  std::optional<ModeEntry> current;  ///< the mode in force; none where the head reports none
  bool enabled = false;
  bool takesAnySize = false;  ///< a virtual head (no size in millimetres, no list): any size as a custom mode
  int32_t x = 0, y = 0;       ///< layout units
  uint32_t transform = 0;     ///< wl_output.transform: an odd one turns by 90° or 270°
  int32_t scale = 256;        ///< as reported: a fixed-point number in 1/256
};

/// What a change sends for one head; what is unset stays as the compositor holds it.
struct WlrHeadChange {
  std::optional<ModeEntry> mode;    ///< the mode to show; without id, a custom mode
  std::optional<Rect> place;        ///< its new top-left corner, where the layout rule moves it
};

/// Returns the device among `heads`: of the enabled heads that report a mode
/// in force, the one at the layout's origin (0,0), where a desktop puts its
/// primary display, else the first; else the first enabled head. Nothing
/// where none is enabled.
std::optional<size_t> WlrDeviceOf(const std::vector<WlrHeadState>& heads);

/// Whether `head` shows `mode`: enabled, at its size, at its rate in whole
/// Hz unless `mode` has none (the compositor chose one).
bool WlrShows(const WlrHeadState& head, const ModeEntry& mode);

/// Throws ServiceError with one line naming the first enabled head of
/// `heads` that reports no mode in force: a mirror on COSMIC, a size that a
/// monitor rule set on Hyprland. What it shows is unknown, so no change can keep it.
void RequireModesInForce(const std::vector<WlrHeadState>& heads);

/// Returns what to send to each head of `heads` for the device `device` to
/// show `mode` (one of its modes, or without id a custom mode); `refreshHz`
/// chooses the mode of each head at the device's place (a clone: it shows
/// the same picture), as ChooseMode does. Throws ServiceError with one line
/// where an enabled head reports no mode in force, a clone lacks the size,
/// or no layout keeps the arrangement.
std::vector<WlrHeadChange> PlanWlrChange(const std::vector<WlrHeadState>& heads, size_t device,
                                         const ModeEntry& mode, int32_t refreshHz);

}  // namespace platform
