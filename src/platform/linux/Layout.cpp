#include "platform/linux/Layout.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/linux/DisplayService.h"

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

/// How far an output moves, in layout units.
struct Shift {
  int32_t dx, dy;
  bool operator==(const Shift&) const = default;
};

Rect Moved(const Rect& rect, Shift by) { return {rect.x + by.dx, rect.y + by.dy, rect.width, rect.height}; }

/// Returns the outputs reached from `start` through shared edges, nearest first, `start` first.
std::vector<size_t> ReachedFrom(const std::vector<Rect>& layout, size_t start) {
  std::vector<bool> reached(layout.size(), false);
  std::vector<size_t> order{start};
  reached[start] = true;
  for (size_t next = 0; next < order.size(); ++next)
    for (size_t i = 0; i < layout.size(); ++i)
      if (!reached[i] && SideOf(layout[order[next]], layout[i]) != Side::kNone) {
        reached[i] = true;
        order.push_back(i);
      }
  return order;
}

/// Returns whether every output is reached from the first through shared edges.
bool Connected(const std::vector<Rect>& layout) { return ReachedFrom(layout, 0).size() == layout.size(); }

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

/// Returns the shifts that keep `rect` against the device, which grew by
/// `wider` and `taller` from `old`, in the order they are tried; none when
/// it shares no edge with the device.
std::vector<Shift> ShiftsBeside(const Rect& old, const Rect& rect, int32_t wider, int32_t taller) {
  const Side side = SideOf(old, rect);
  std::vector<Shift> shifts;
  if (side == Side::kRight || side == Side::kLeft)
    for (int32_t dy : AlongShifts(rect.y, rect.height, old.y, old.height, taller))
      shifts.push_back({side == Side::kRight ? wider : 0, dy});
  if (side == Side::kBelow || side == Side::kAbove)
    for (int32_t dx : AlongShifts(rect.x, rect.width, old.x, old.width, wider))
      shifts.push_back({dx, side == Side::kBelow ? taller : 0});
  return shifts;
}

/// One output in the search for a layout.
struct Candidate {
  std::vector<Shift> shifts;  ///< beside the device: the shifts that keep it there, in the order tried
  bool beside = false;        ///< shares an edge with the device
  bool placed = true;         ///< has its place in Search::after; outputs still to place have not
};

/// The search for a layout: outputs are placed in the order they hang from
/// the device, each trying its shifts until none overlaps another.
struct Search {
  const std::vector<Rect>& before;
  std::vector<size_t> order;           // outputs reached from the device, nearest first
  std::vector<Candidate> outputs;      // by place in `before`
  std::vector<Rect> after;
  bool connected;                      // the layout before was one desktop, so the one after must be
  int budget = 100000;                 // tries before giving up: layouts have a handful of outputs

  bool OverlapsPlaced(size_t output) const {
    for (size_t i = 0; i < after.size(); ++i)
      if (i != output && outputs[i].placed && Overlap(after[i], after[output]) && !Overlap(before[i], before[output]))
        return true;
    return false;
  }

  /// The shifts tried for the output at `step`: its own beside the device;
  /// else those of the outputs placed before it that it hangs from.
  std::vector<Shift> ShiftsOf(size_t step) const {
    const size_t output = order[step];
    std::vector<Shift> shifts = outputs[output].shifts;
    for (size_t k = 0; !outputs[output].beside && k < step; ++k) {
      const size_t from = order[k];
      if (SideOf(before[from], before[output]) == Side::kNone) continue;
      const Shift shift{after[from].x - before[from].x, after[from].y - before[from].y};
      if (std::find(shifts.begin(), shifts.end(), shift) == shifts.end()) shifts.push_back(shift);
    }
    return shifts;
  }

  bool Place(size_t step) {
    if (step == order.size()) return !connected || Connected(after);
    if (--budget < 0) return false;
    const size_t output = order[step];
    outputs[output].placed = true;
    for (const Shift& shift : ShiftsOf(step)) {
      after[output] = Moved(before[output], shift);
      if (!OverlapsPlaced(output) && Place(step + 1)) return true;
    }
    outputs[output].placed = false;
    after[output] = before[output];
    return false;
  }
};

/// Returns the shift that brings the top-left corner of `from` onto that of `to`.
Shift CornerToCorner(const std::vector<Rect>& from, const std::vector<Rect>& to) {
  const auto corner = [](const std::vector<Rect>& rects) {
    Rect c = rects[0];
    for (const Rect& r : rects) c.x = std::min(c.x, r.x), c.y = std::min(c.y, r.y);
    return c;
  };
  const Rect a = corner(from), b = corner(to);
  return {b.x - a.x, b.y - a.y};
}

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
  Search search{.before = layout,
                .order = ReachedFrom(layout, device),
                .outputs = std::vector<Candidate>(layout.size()),
                .after = layout,
                .connected = Connected(layout)};
  search.after[device] = {old.x, old.y, width, height};
  for (size_t step = 1; step < search.order.size(); ++step) search.outputs[search.order[step]].placed = false;
  for (size_t i = 0; i < layout.size(); ++i) {
    search.outputs[i].shifts = ShiftsBeside(old, layout[i], width - old.width, height - old.height);
    search.outputs[i].beside = SideOf(old, layout[i]) != Side::kNone;
  }
  if (!search.Place(1)) return std::nullopt;
  // Keep the layout's top-left corner where it was: services want it there.
  const Shift back = CornerToCorner(search.after, layout);
  for (Rect& rect : search.after) rect = Moved(rect, back);
  return search.after;
}

std::vector<Rect> ResizeOrRefuse(const std::vector<Rect>& layout, size_t device, const Rect& resized,
                                 const std::string& name, const ModeEntry& mode) {
  std::optional<std::vector<Rect>> after = ResizeInLayout(layout, device, resized.width, resized.height);
  if (!after) throw ServiceError(NoLayout(name, mode.width, mode.height));
  return std::move(*after);
}

std::string NoLayout(const std::string& device, int32_t width, int32_t height) {
  return "no arrangement keeps the outputs beside " + device + " as they are, without overlaps, at " +
         std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace platform
