#include "platform/linux/Layout.h"

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

/// Which edge of `a` the rectangle `b` lies against, sharing a stretch of it
/// longer than a point: the only touch that keeps outputs one desktop.
enum class Side { kNone, kRight, kLeft, kBelow, kAbove };

bool Spans(int32_t start1, int32_t size1, int32_t start2, int32_t size2) {
  return start1 < start2 + size2 && start2 < start1 + size1;
}

Side SideOf(const Rect& a, const Rect& b) {
  if (Spans(a.y, a.height, b.y, b.height)) {
    if (b.x == a.x + a.width) return Side::kRight;
    if (b.x + b.width == a.x) return Side::kLeft;
  }
  if (Spans(a.x, a.width, b.x, b.width)) {
    if (b.y == a.y + a.height) return Side::kBelow;
    if (b.y + b.height == a.y) return Side::kAbove;
  }
  return Side::kNone;
}

bool Overlap(const Rect& a, const Rect& b) {
  return Spans(a.x, a.width, b.x, b.width) && Spans(a.y, a.height, b.y, b.height);
}

Rect Moved(const Rect& rect, const Rect& by) { return {rect.x + by.x, rect.y + by.y, rect.width, rect.height}; }

/// Returns whether every output is reached from the first through shared edges.
bool Connected(const std::vector<Rect>& layout) {
  std::vector<bool> reached(layout.size(), false);
  std::vector<size_t> queue{0};
  reached[0] = true;
  for (size_t next = 0; next < queue.size(); ++next)
    for (size_t i = 0; i < layout.size(); ++i)
      if (!reached[i] && SideOf(layout[queue[next]], layout[i]) != Side::kNone) {
        reached[i] = true;
        queue.push_back(i);
      }
  return queue.size() == layout.size();
}

/// The shifts along one axis that keep a neighbour of the device against
/// it, in the order they are tried: the alignments it had with the device
/// (start, end, centre), then its distance from the device's start, then
/// from its end. `grown` is how much the device's size grew along the axis.
std::vector<int32_t> AlongShifts(int32_t start, int32_t size, int32_t deviceStart, int32_t deviceSize, int32_t grown) {
  std::vector<int32_t> shifts;
  if (start == deviceStart) shifts.push_back(0);
  if (start + size == deviceStart + deviceSize) shifts.push_back(grown);
  if (2 * start + size == 2 * deviceStart + deviceSize) shifts.push_back(grown / 2);
  shifts.push_back(0);
  shifts.push_back(grown);
  std::vector<int32_t> kept;
  for (int32_t shift : shifts)
    if (Spans(start + shift, size, deviceStart, deviceSize + grown) &&
        std::find(kept.begin(), kept.end(), shift) == kept.end())
      kept.push_back(shift);
  return kept;
}

/// The search for a layout: outputs are placed in the order they hang from
/// the device, each trying its shifts until none overlaps another.
struct Search {
  const std::vector<Rect>& before;
  std::vector<size_t> order;                  // outputs reached from the device, nearest first
  std::vector<std::vector<Rect>> neighbours;  // the shifts (as x, y) of each neighbour of the device
  std::vector<bool> beside;                   // shares an edge with the device
  std::vector<Rect> after;
  std::vector<bool> placed;
  bool connected;  // the layout before was one desktop, so the one after must be
  int budget = 100000;  // tries before giving up: layouts have a handful of outputs

  bool OverlapsPlaced(size_t output) const {
    for (size_t i = 0; i < after.size(); ++i)
      if (i != output && placed[i] && Overlap(after[i], after[output]) && !Overlap(before[i], before[output]))
        return true;
    return false;
  }

  bool Place(size_t step) {
    if (step == order.size()) return !connected || Connected(after);
    if (--budget < 0) return false;
    const size_t output = order[step];
    std::vector<Rect> shifts = neighbours[output];
    for (size_t k = 0; !beside[output] && k < step; ++k) {  // not beside the device: it goes with what it hangs from
      const size_t from = order[k];
      if (SideOf(before[from], before[output]) == Side::kNone) continue;
      const Rect shift{after[from].x - before[from].x, after[from].y - before[from].y, 0, 0};
      if (std::find(shifts.begin(), shifts.end(), shift) == shifts.end()) shifts.push_back(shift);
    }
    placed[output] = true;
    for (const Rect& shift : shifts) {
      after[output] = Moved(before[output], shift);
      if (!OverlapsPlaced(output) && Place(step + 1)) return true;
    }
    placed[output] = false;
    after[output] = before[output];
    return false;
  }
};

}  // namespace

Rect PlaceOf(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t transform, double scale) {
  const bool turned = transform % 2 == 1;
  const double across = turned ? height : width, down = turned ? width : height;
  return {x, y, static_cast<int32_t>(std::lround(across / scale)), static_cast<int32_t>(std::lround(down / scale))};
}

std::optional<std::vector<Rect>> ResizeInLayout(const std::vector<Rect>& layout, size_t device, int32_t width,
                                                int32_t height) {
  if (device >= layout.size() || width <= 0 || height <= 0) return std::nullopt;
  const Rect& old = layout[device];
  const int32_t wider = width - old.width, taller = height - old.height;
  Search search{layout, {device}, std::vector<std::vector<Rect>>(layout.size()), std::vector<bool>(layout.size()),
                layout, std::vector<bool>(layout.size(), true), Connected(layout)};
  search.after[device] = {old.x, old.y, width, height};
  std::vector<bool> reached(layout.size(), false);
  reached[device] = true;
  for (size_t next = 1; next <= search.order.size(); ++next) {
    for (size_t i = 0; i < layout.size(); ++i) {
      if (reached[i] || SideOf(layout[search.order[next - 1]], layout[i]) == Side::kNone) continue;
      reached[i] = true;
      search.order.push_back(i);
      search.placed[i] = false;
    }
  }
  for (size_t i = 0; i < layout.size(); ++i) {
    const Rect& rect = layout[i];
    const Side side = SideOf(old, rect);
    search.beside[i] = side != Side::kNone;
    if (side == Side::kRight || side == Side::kLeft)
      for (int32_t y : AlongShifts(rect.y, rect.height, old.y, old.height, taller))
        search.neighbours[i].push_back({side == Side::kRight ? wider : 0, y, 0, 0});
    if (side == Side::kBelow || side == Side::kAbove)
      for (int32_t x : AlongShifts(rect.x, rect.width, old.x, old.width, wider))
        search.neighbours[i].push_back({x, side == Side::kBelow ? taller : 0, 0, 0});
  }
  if (!search.Place(1)) return std::nullopt;
  // Keep the layout's top-left corner where it was: services want it there.
  const auto corner = [](const std::vector<Rect>& rects) {
    Rect c{rects[0].x, rects[0].y, 0, 0};
    for (const Rect& r : rects) c.x = std::min(c.x, r.x), c.y = std::min(c.y, r.y);
    return c;
  };
  const Rect from = corner(search.after), to = corner(layout);
  for (Rect& rect : search.after) rect = Moved(rect, {to.x - from.x, to.y - from.y, 0, 0});
  return search.after;
}

std::string NoLayout(const std::string& device, int32_t width, int32_t height) {
  return "no arrangement keeps the outputs beside " + device + " as they are, without overlaps, at " +
         std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace platform
