#include "platform/linux/services/WlrChange.h"

#include <algorithm>
#include <cmath>

#include "platform/linux/DisplayService.h"

namespace platform {
namespace {

/// Returns `head`'s place when it shows `width` by `height` pixels, sized as
/// wlroots' output layout sizes it: turned, then divided by the scale (a
/// float) and truncated.
Rect WlrPlaceOf(const WlrHeadState& head, int32_t width, int32_t height) {
  const bool turned = head.transform % 2 == 1;
  const auto scale = static_cast<float>(HeldScale(head.scale));  // wlr_output.scale is a float
  const auto scaled = [scale](int32_t pixels) { return static_cast<int32_t>(static_cast<float>(pixels) / scale); };
  return {head.x, head.y, scaled(turned ? height : width), scaled(turned ? width : height)};
}

/// Returns the mode for `clone`, at the device's place, to show the picture
/// of the device changed to `mode`: its own of that size, or on a virtual
/// head that size as a custom mode. Throws ServiceError where it has none.
std::optional<ModeEntry> CloneModeFor(const WlrHeadState& clone, const WlrHeadState& device, const ModeEntry& mode,
                                      int32_t refreshHz) {
  std::string refusal;
  const std::optional<size_t> chosen =
      ChooseMirrorMode(clone.modes, mode, refreshHz, clone.name, device.name, &refusal);
  if (chosen && clone.current && clone.modes[*chosen].id == clone.current->id) return std::nullopt;  // shown already
  if (chosen) return clone.modes[*chosen];
  if (clone.takesAnySize) return ModeEntry{std::nullopt, mode.width, mode.height, mode.refresh, false, false};
  throw ServiceError(refusal);
}

/// Grows `group` to hold `place`, which has the same top-left corner.
void Cover(Rect& group, const Rect& place) {
  group.width = std::max(group.width, place.width);
  group.height = std::max(group.height, place.height);
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

bool WlrShows(const WlrHeadState& head, const ModeEntry& mode) {
  const std::optional<ModeEntry>& shown = head.current;
  return head.enabled && shown && shown->width == mode.width && shown->height == mode.height &&
         (mode.refresh == 0 || WholeHz(shown->refresh) == WholeHz(mode.refresh));
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
  std::vector<Rect> before;
  std::vector<size_t> groupOf(heads.size());
  for (size_t i = 0; i < heads.size(); ++i) {
    const WlrHeadState& head = heads[i];
    if (!head.enabled) continue;
    const Rect place = WlrPlaceOf(head, head.current->width, head.current->height);
    const auto same = [&place](const Rect& group) { return group.x == place.x && group.y == place.y; };
    groupOf[i] = static_cast<size_t>(std::find_if(before.begin(), before.end(), same) - before.begin());
    if (groupOf[i] == before.size()) before.push_back(place);
    Cover(before[groupOf[i]], place);
  }
  Rect resized = WlrPlaceOf(heads[device], mode.width, mode.height);
  for (size_t i = 0; i < heads.size(); ++i) {
    if (!heads[i].enabled || groupOf[i] != groupOf[device]) continue;
    changes[i].mode = i == device ? mode : CloneModeFor(heads[i], heads[device], mode, refreshHz);
    Cover(resized, WlrPlaceOf(heads[i], mode.width, mode.height));
  }
  // A compositor that keeps a scale as sent (labwc keeps 1.19921875) sizes a
  // scaled head a unit off ours: where any scale is fractional, one unit apart is touching.
  const bool fractional = std::any_of(heads.begin(), heads.end(), [](const WlrHeadState& head) {
    return head.enabled && head.scale % 256 != 0;
  });
  const std::vector<Rect> after =
      ResizeOrRefuse(before, groupOf[device], resized, heads[device].name, mode, /*slack=*/fractional ? 1 : 0);
  for (size_t i = 0; i < heads.size(); ++i) {
    const Rect& place = after[groupOf[i]];
    if (heads[i].enabled && (place.x != heads[i].x || place.y != heads[i].y)) changes[i].place = place;
  }
  return changes;
}

}  // namespace platform
