#pragma once

// The wlroots family's heads as zwlr_output_manager_v1 announces them, and
// what a change of the device's mode sends to each enabled head: its mode and
// its place, nothing else. Pure: WlrOutputManagement.cpp reads the heads,
// asks these, and sends what they return.

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

/// What a change sends for one head: for an enabled one, both. Not every
/// compositor keeps what a configuration leaves unset (niri starts a head from
/// its configuration file, Hyprland from its monitor rules), so each enabled
/// head is stated whole; its scale, transform and adaptive sync are never
/// sent, since a scale comes back changed (labwc keeps 1.19921875, not 1.2),
/// niri adds the panel's own turn to a transform, and an adaptive sync sent
/// "enabled" becomes "always" on COSMIC.
struct WlrHeadChange {
  std::optional<ModeEntry> mode;  ///< the mode to show; without id, a custom mode (rate in mHz / 1000)
  std::optional<Rect> place;      ///< its top-left corner, kept or where the layout rule moves it
};

/// Returns the device among `heads`: of the enabled heads that report a mode
/// in force, the one at the layout's origin (0,0), where a desktop puts its
/// primary display, else the first; else the first enabled head. Nothing
/// where none is enabled.
std::optional<size_t> WlrDeviceOf(const std::vector<WlrHeadState>& heads);

/// Throws ServiceError with one line naming the first enabled head of
/// `heads` that reports no mode in force: a mirror on COSMIC, a size that a
/// monitor rule set on Hyprland. What it shows is unknown, so no change can keep it.
void RequireModesInForce(const std::vector<WlrHeadState>& heads);

/// Returns what to send to each head of `heads` for the device `device` to
/// show `mode` (one of its modes, or without id a custom mode); `refreshHz`
/// chooses the mode of each head at the device's place (a clone: it shows
/// the same picture), as ChooseMode does. Every other enabled head keeps its
/// mode: the one it holds, or on a virtual head its size and rate as a custom
/// mode (Hyprland ignores its stand-in mode object). Where a scale is
/// fractional, a head's size is the largest any compositor gives it (niri and
/// cosmic-comp round, wlroots truncates), so that no rule sees an overlap;
/// edges as far apart as the rules differ count as one. Throws ServiceError
/// with one line where an enabled head reports no mode in force, a clone
/// lacks the size, or no layout keeps the arrangement.
std::vector<WlrHeadChange> PlanWlrChange(const std::vector<WlrHeadState>& heads, size_t device,
                                         const ModeEntry& mode, int32_t refreshHz);

/// Returns one line for each enabled head of `heads`, as read back after a
/// change, that is not at the place `changes` (PlanWlrChange's, for the
/// heads in the same order) sent it: "the compositor put NAME at X,Y, not at
/// X',Y' as asked".
std::vector<std::string> WlrMisplaced(const std::vector<WlrHeadState>& heads,
                                      const std::vector<WlrHeadChange>& changes);

}  // namespace platform
