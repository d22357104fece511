#pragma once

// Where the outputs go when one of them changes size: the arrangement the
// user made is kept. Pure: every display service with more than one output
// translates its layout into rectangles, asks this, and translates back.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/Modes.h"

namespace platform {

/// An output's place in the layout: its top-left corner and its size, in
/// the service's layout units (pixels, or pixels divided by a scale).
struct Rect {
  int32_t x, y;           ///< top-left corner
  int32_t width, height;  ///< as the output shows its mode: after rotation and scale; never negative
  bool operator==(const Rect& other) const {
    return x == other.x && y == other.y && width == other.width && height == other.height;
  }
};

/// The largest width or height, in layout units, that ResizeInLayout gives
/// the device: X's largest screen, beyond any monitor made (16K is 15360
/// wide). wlroots takes any int32 as a custom mode; no compositor shows it.
constexpr int32_t kLargestSize = 32767;

/// Returns the scale that a compositor holds behind `sent`, a scale sent in
/// steps of 1/256 (wl_fixed_t): KWin, sway, Wayfire, Hyprland and niri keep
/// scales in steps of 1/120, so the step that rounds to `sent` (1.2 comes as
/// 1.19921875); a scale off those steps is taken as sent.
double HeldScale(int32_t sent);

/// Returns the place of an output whose top-left corner is at `x`, `y`
/// and that shows `width` by `height` pixels turned by `transform` (Wayland's
/// numbering: an odd one turns by 90° or 270°) and divided by `scale`.
Rect PlaceOf(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t transform, double scale);

/// Grows `group` to hold `place`, which has the same top-left corner.
void Cover(Rect& group, const Rect& place);

/// Outputs whose top-left corners are at one point show one picture (sway's
/// clones, outputs that Plasma unified): one place in the layout, as large
/// as the largest of them, that changes as one. Returns the places of
/// `rects` (nothing: an output with no place in the layout), one for each
/// corner, in the order of its first output; sets `groupOf[i]` to the index
/// of the place of `rects[i]` (of one with none, the number of places).
std::vector<Rect> PlacesByCorner(const std::vector<std::optional<Rect>>& rects, std::vector<size_t>& groupOf);

/// Returns the slack for ResizeInLayout where a compositor sizes outputs at
/// `scales` by its own rule, which may give a fractional one a size a unit
/// off ours (its scale held off the steps that HeldScale assumes): 1 where
/// any is fractional, else `spread`, how far apart the sizes known to come
/// from its rules lie.
int32_t ScaleSlack(const std::vector<double>& scales, int32_t spread = 0);

/// Returns `layout` with `layout[device]` resized to `width` by `height`,
/// keeping its top-left corner. An output that shared an edge with the
/// device still does, aligned as it was (top, bottom or centre; left, right
/// or centre); every other output keeps its place relative to the one it
/// hangs from. The result has no overlap and no output cut off that the
/// layout did not already have, and is shifted so that its top-left corner
/// is the old one's. Edges and alignments up to `slack` apart count as one
/// (the compositor rounds sizes its own way): such a neighbour is put
/// exactly against the device's new edge, aligned exactly. Returns nothing
/// when no such layout exists, or the size is beyond kLargestSize.
std::optional<std::vector<Rect>> ResizeInLayout(const std::vector<Rect>& layout, size_t device, int32_t width,
                                                int32_t height, int32_t slack = 0);

/// Returns the line that says why `device` cannot show `width` by `height`
/// when ResizeInLayout finds no layout (or the size is beyond kLargestSize).
std::string NoLayout(const std::string& device, int32_t width, int32_t height);

/// Returns ResizeInLayout's layout for `layout[device]` resized to the size
/// of `resized` (its place when it shows `mode`), with `slack`. Throws
/// ServiceError with NoLayout's line for the device `name` and `mode` when
/// there is none.
std::vector<Rect> ResizeOrRefuse(const std::vector<Rect>& layout, size_t device, const Rect& resized,
                                 const std::string& name, const ModeEntry& mode, int32_t slack = 0);

}  // namespace platform
