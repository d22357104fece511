#include "platform/linux/services/WlrChange.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "platform/linux/ServiceError.h"

namespace platform {
namespace {

/// Widens [`least`, `most`] to hold every size, in layout units, that a
/// compositor gives `pixels` shown at the scale `sent` (1/256): the wlroots
/// family divides by its float and truncates, niri and cosmic-comp round; each
/// holds the scale as sent or in steps of 1/120.
void ScaledSizes(int32_t pixels, int32_t sent, int32_t& least, int32_t& most) {
  // Kept within int32: a tiny scale, or none, gives a size the layout rule refuses.
  const auto units = [](double size) { return static_cast<int32_t>(std::fmin(std::fmax(size, 0.0), INT32_MAX)); };
  for (const double scale : {HeldScale(sent), sent / 256.0}) {
    const float truncated = static_cast<float>(pixels) / static_cast<float>(scale);  // wlr_output.scale is a float
    for (const int32_t size : {units(std::trunc(truncated)), units(std::round(pixels / scale))}) {
      least = std::min(least, size);
      most = std::max(most, size);
    }
  }
}

/// Returns `head`'s place when it shows `width` by `height` pixels, turned,
/// then scaled to the largest size any compositor gives it: under no rule
/// does it overlap a neighbour placed against it. Widens `spread` to how far
/// the compositors' sizes lie apart.
Rect WlrPlaceOf(const WlrHeadState& head, int32_t width, int32_t height, int32_t& spread) {
  const bool turned = head.transform % 2 == 1;
  Rect place{head.x, head.y, 0, 0};
  for (auto [pixels, size] : {std::pair{turned ? height : width, &place.width},
                              std::pair{turned ? width : height, &place.height}}) {
    int32_t least = INT32_MAX;
    ScaledSizes(pixels, head.scale, least, *size);
    spread = std::max(spread, *size - least);
  }
  return place;
}

/// Returns the mode that keeps `head` as it is: the one it holds, or on a
/// virtual head its size and rate as a custom mode, which every compositor takes.
ModeEntry HeldMode(const WlrHeadState& head) {
  if (!head.takesAnySize) return *head.current;
  ModeEntry custom = *head.current;
  custom.id.reset();
  return custom;
}

/// Returns the mode for `clone`, at the device's place, to show the picture
/// of the device changed to `mode`: its own of that size, or on a virtual
/// head that size as a custom mode. Throws ServiceError where it has none.
ModeEntry CloneModeFor(const WlrHeadState& clone, const WlrHeadState& device, const ModeEntry& mode,
                       int32_t refreshHz) {
  if (clone.takesAnySize && !ChooseMode(clone.modes, mode.width, mode.height, refreshHz))
    return ModeEntry{std::nullopt, mode.width, mode.height, mode.refresh, false, false};
  const size_t chosen = ChooseMirrorMode(clone.modes, mode, refreshHz, clone.name, device.name);
  return clone.modes[chosen].id == clone.current->id ? HeldMode(clone) : clone.modes[chosen];  // held: shown already
}

}  // namespace

std::optional<size_t> WlrDeviceOf(const std::vector<WlrHeadState>& heads) {
  std::optional<size_t> first, showing;
  for (size_t i = 0; i < heads.size(); ++i) {
    if (!heads[i].enabled) continue;
    if (heads[i].current && heads[i].x == 0 && heads[i].y == 0) return i;
    if (!first) first = i;
    if (!showing && heads[i].current) showing = i;
  }
  return showing ? showing : first;
}

void RequireModesInForce(const std::vector<WlrHeadState>& heads) {
  for (const WlrHeadState& head : heads)
    if (head.enabled && !head.current)
      throw ServiceError(head.name + " is enabled but reports no mode in force (as a mirror does on COSMIC): " +
                         "vistrel cannot see what it shows, so it changes nothing");
}

std::vector<WlrHeadChange> PlanWlrChange(const std::vector<WlrHeadState>& heads, size_t device,
                                         const ModeEntry& mode, int32_t refreshHz) {
  RequireModesInForce(heads);
  // Heads at one place show one picture (clones): one place in the layout, changed together.
  std::vector<WlrHeadChange> changes(heads.size());
  std::vector<std::optional<Rect>> places(heads.size());
  std::vector<double> scales;
  int32_t spread = 0;  // how far apart the compositors' edges lie
  for (size_t i = 0; i < heads.size(); ++i) {
    if (!heads[i].enabled) continue;
    places[i] = WlrPlaceOf(heads[i], heads[i].current->width, heads[i].current->height, spread);
    scales.push_back(heads[i].scale / 256.0);
  }
  std::vector<size_t> groupOf;
  const std::vector<Rect> before = PlacesByCorner(places, groupOf);
  Rect resized = WlrPlaceOf(heads[device], mode.width, mode.height, spread);
  for (size_t i = 0; i < heads.size(); ++i) {
    if (!heads[i].enabled) continue;
    if (groupOf[i] != groupOf[device]) {
      changes[i].mode = HeldMode(heads[i]);
      continue;
    }
    changes[i].mode = i == device ? mode : CloneModeFor(heads[i], heads[device], mode, refreshHz);
    Cover(resized, WlrPlaceOf(heads[i], mode.width, mode.height, spread));
  }
  const std::vector<Rect> after =
      ResizeOrRefuse(before, groupOf[device], resized, heads[device].name, mode, ScaleSlack(scales, spread));
  for (size_t i = 0; i < heads.size(); ++i)
    if (heads[i].enabled) changes[i].place = after[groupOf[i]];
  return changes;
}

std::vector<std::string> WlrMisplaced(const std::vector<WlrHeadState>& heads,
                                      const std::vector<WlrHeadChange>& changes) {
  const auto at = [](int32_t x, int32_t y) { return std::to_string(x) + "," + std::to_string(y); };
  std::vector<std::string> lines;
  for (size_t i = 0; i < std::min(heads.size(), changes.size()); ++i) {
    const std::optional<Rect>& asked = changes[i].place;
    if (heads[i].enabled && asked && (heads[i].x != asked->x || heads[i].y != asked->y))
      lines.push_back("the compositor put " + heads[i].name + " at " + at(heads[i].x, heads[i].y) + ", not at " +
                      at(asked->x, asked->y) + " as asked");
  }
  return lines;
}

}  // namespace platform
