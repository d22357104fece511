#include "platform/linux/Layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "platform/linux/ServiceError.h"

namespace platform {
namespace {

/// An output's place as the search works on it: a Rect in 64 bits, so that
/// no sum of int32 coordinates, sizes and shifts can overflow.
struct Box {
  int64_t x, y;           ///< top-left corner, in layout units
  int64_t width, height;  ///< in layout units
};

/// Which edge of `a` the box `b` lies against, sharing a stretch of it
/// longer than a point: the only touch that keeps outputs one desktop.
enum class Side { kNone, kRight, kLeft, kBelow, kAbove };

bool Spans(int64_t start1, int64_t size1, int64_t start2, int64_t size2) {
  return start1 < start2 + size2 && start2 < start1 + size1;
}

/// Whether `a` and `b` are at most `slack` apart: the same edge or alignment
/// to a compositor whose rounding differs from ours by that much.
bool Near(int64_t a, int64_t b, int64_t slack) { return std::abs(a - b) <= slack; }

Side SideOf(const Box& a, const Box& b, int64_t slack) {
  if (Spans(a.y, a.height, b.y, b.height)) {
    if (Near(b.x, a.x + a.width, slack)) return Side::kRight;
    if (Near(b.x + b.width, a.x, slack)) return Side::kLeft;
  }
  if (Spans(a.x, a.width, b.x, b.width)) {
    if (Near(b.y, a.y + a.height, slack)) return Side::kBelow;
    if (Near(b.y + b.height, a.y, slack)) return Side::kAbove;
  }
  return Side::kNone;
}

bool Overlap(const Box& a, const Box& b) {
  return Spans(a.x, a.width, b.x, b.width) && Spans(a.y, a.height, b.y, b.height);
}

/// How far an output moves, in layout units.
struct Shift {
  int64_t dx, dy;
  bool operator==(const Shift&) const = default;
};

Box Moved(const Box& box, Shift by) { return {box.x + by.dx, box.y + by.dy, box.width, box.height}; }

/// Returns the outputs reached from `start` through shared edges, nearest first, `start` first.
std::vector<size_t> ReachedFrom(const std::vector<Box>& layout, size_t start, int64_t slack) {
  std::vector<bool> reached(layout.size(), false);
  std::vector<size_t> order{start};
  reached[start] = true;
  for (size_t next = 0; next < order.size(); ++next)
    for (size_t i = 0; i < layout.size(); ++i)
      if (!reached[i] && SideOf(layout[order[next]], layout[i], slack) != Side::kNone) {
        reached[i] = true;
        order.push_back(i);
      }
  return order;
}

/// Returns whether every output is reached from the first through shared edges.
bool Connected(const std::vector<Box>& layout, int64_t slack) {
  return ReachedFrom(layout, 0, slack).size() == layout.size();
}

/// The shifts along one axis that keep a neighbour of the device against
/// it, in the order they are tried: onto the alignments it had with the
/// device within `slack` (start, end, centre), then keeping its distance
/// from the device's start, then from its end. `grown` is how much the
/// device's size grew along the axis.
std::vector<int64_t> AlongShifts(int64_t start, int64_t size, int64_t deviceStart, int64_t deviceSize, int64_t grown,
                                 int64_t slack) {
  const int64_t end = start + size, deviceEnd = deviceStart + deviceSize;
  const int64_t offCentre = 2 * start + size - (2 * deviceStart + deviceSize);  // in half units
  std::vector<int64_t> shifts;
  if (Near(start, deviceStart, slack)) shifts.push_back(deviceStart - start);
  if (Near(end, deviceEnd, slack)) shifts.push_back(deviceEnd + grown - end);
  if (Near(offCentre, 0, 2 * slack)) shifts.push_back((grown - offCentre) / 2);
  shifts.push_back(0);
  shifts.push_back(grown);
  std::vector<int64_t> kept;
  for (int64_t shift : shifts)
    if (Spans(start + shift, size, deviceStart, deviceSize + grown) &&
        std::find(kept.begin(), kept.end(), shift) == kept.end())
      kept.push_back(shift);
  return kept;
}

/// Returns the shifts that put `box` against the edge it shares with the
/// device (within `slack`), which grew by `wider` and `taller` from `old`,
/// in the order they are tried; none when it shares no edge with the device.
std::vector<Shift> ShiftsBeside(const Box& old, const Box& box, int64_t wider, int64_t taller, int64_t slack) {
  const Side side = SideOf(old, box, slack);
  std::vector<Shift> shifts;
  if (side == Side::kRight || side == Side::kLeft) {
    const int64_t dx = side == Side::kRight ? old.x + old.width + wider - box.x : old.x - (box.x + box.width);
    for (int64_t dy : AlongShifts(box.y, box.height, old.y, old.height, taller, slack)) shifts.push_back({dx, dy});
  }
  if (side == Side::kBelow || side == Side::kAbove) {
    const int64_t dy = side == Side::kBelow ? old.y + old.height + taller - box.y : old.y - (box.y + box.height);
    for (int64_t dx : AlongShifts(box.x, box.width, old.x, old.width, wider, slack)) shifts.push_back({dx, dy});
  }
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
  const std::vector<Box>& before;
  int64_t slack;                       // how far apart edges may be and still be shared
  std::vector<size_t> order;           // outputs reached from the device, nearest first
  std::vector<Candidate> outputs;      // by place in `before`
  std::vector<Box> after;
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
      if (SideOf(before[from], before[output], slack) == Side::kNone) continue;
      const Shift shift{after[from].x - before[from].x, after[from].y - before[from].y};
      if (std::find(shifts.begin(), shifts.end(), shift) == shifts.end()) shifts.push_back(shift);
    }
    return shifts;
  }

  bool Place(size_t step) {
    if (step == order.size()) return !connected || Connected(after, slack);
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
Shift CornerToCorner(const std::vector<Box>& from, const std::vector<Box>& to) {
  const auto corner = [](const std::vector<Box>& boxes) {
    Box c = boxes[0];
    for (const Box& b : boxes) c.x = std::min(c.x, b.x), c.y = std::min(c.y, b.y);
    return c;
  };
  const Box a = corner(from), b = corner(to);
  return {b.x - a.x, b.y - a.y};
}

/// Returns `boxes` as Rects; nothing when an edge lies beyond int32's range.
std::optional<std::vector<Rect>> RectsOf(const std::vector<Box>& boxes) {
  const auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
  std::vector<Rect> rects;
  for (const Box& b : boxes) {
    if (!fits(b.x) || !fits(b.y) || !fits(b.x + b.width) || !fits(b.y + b.height)) return std::nullopt;
    rects.push_back({static_cast<int32_t>(b.x), static_cast<int32_t>(b.y), static_cast<int32_t>(b.width),
                     static_cast<int32_t>(b.height)});
  }
  return rects;
}

}  // namespace

double HeldScale(int32_t sent) {
  constexpr double kSent = 256, kHeld = 120;  // steps per unit
  const double held = std::round(sent / kSent * kHeld) / kHeld;
  return std::fabs(held * kSent - sent) <= 0.5 ? held : sent / kSent;
}

Rect PlaceOf(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t transform, double scale) {
  const bool turned = transform % 2 == 1;
  const double across = turned ? height : width, down = turned ? width : height;
  // Kept within int32 (a tiny scale, or none, gives a size beyond what the layout rule accepts).
  const auto units = [scale](double pixels) {
    return static_cast<int32_t>(std::lround(std::fmin(std::fmax(pixels / scale, 0.0), INT32_MAX)));
  };
  return {x, y, units(across), units(down)};
}

void Cover(Rect& group, const Rect& place) {
  group.width = std::max(group.width, place.width);
  group.height = std::max(group.height, place.height);
}

std::vector<Rect> PlacesByCorner(const std::vector<std::optional<Rect>>& rects, std::vector<size_t>& groupOf) {
  std::vector<Rect> places;
  groupOf.assign(rects.size(), 0);
  for (size_t i = 0; i < rects.size(); ++i) {
    if (!rects[i]) continue;
    const auto same = [&rect = *rects[i]](const Rect& place) { return place.x == rect.x && place.y == rect.y; };
    groupOf[i] = static_cast<size_t>(std::find_if(places.begin(), places.end(), same) - places.begin());
    if (groupOf[i] == places.size()) places.push_back({rects[i]->x, rects[i]->y, 0, 0});
    Cover(places[groupOf[i]], *rects[i]);
  }
  for (size_t i = 0; i < rects.size(); ++i)
    if (!rects[i]) groupOf[i] = places.size();
  return places;
}

int32_t ScaleSlack(const std::vector<double>& scales, int32_t spread) {
  const auto fractional = [](double scale) { return scale != std::floor(scale); };
  return std::any_of(scales.begin(), scales.end(), fractional) ? std::max(spread, 1) : spread;
}

std::optional<std::vector<Rect>> ResizeInLayout(const std::vector<Rect>& layout, size_t device, int32_t width,
                                                int32_t height, int32_t slack) {
  if (device >= layout.size() || width <= 0 || height <= 0 || width > kLargestSize || height > kLargestSize ||
      slack < 0)
    return std::nullopt;
  std::vector<Box> before;
  for (const Rect& rect : layout) before.push_back({rect.x, rect.y, rect.width, rect.height});
  const Box& old = before[device];
  Search search{.before = before,
                .slack = slack,
                .order = ReachedFrom(before, device, slack),
                .outputs = std::vector<Candidate>(before.size()),
                .after = before,
                .connected = Connected(before, slack)};
  search.after[device] = {old.x, old.y, width, height};
  for (size_t step = 1; step < search.order.size(); ++step) search.outputs[search.order[step]].placed = false;
  for (size_t i = 0; i < before.size(); ++i) {
    if (i == device || SideOf(old, before[i], slack) == Side::kNone) continue;
    search.outputs[i].shifts = ShiftsBeside(old, before[i], width - old.width, height - old.height, slack);
    search.outputs[i].beside = true;
  }
  // The device against the outputs that it does not reach, then the rest.
  if (search.OverlapsPlaced(device) || !search.Place(1)) return std::nullopt;
  // Keep the layout's top-left corner where it was: services want it there.
  const Shift back = CornerToCorner(search.after, before);
  for (Box& box : search.after) box = Moved(box, back);
  return RectsOf(search.after);
}

std::vector<Rect> ResizeOrRefuse(const std::vector<Rect>& layout, size_t device, const Rect& resized,
                                 const std::string& name, const ModeEntry& mode, int32_t slack) {
  std::optional<std::vector<Rect>> after = ResizeInLayout(layout, device, resized.width, resized.height, slack);
  if (!after) throw ServiceError(NoLayout(name, mode.width, mode.height));
  return std::move(*after);
}

std::string NoLayout(const std::string& device, int32_t width, int32_t height) {
  const std::string size = SizeText(width, height);
  if (width > kLargestSize || height > kLargestSize)
    return device + " cannot show " + size + ": no display service lays out an output beyond " +
           std::to_string(kLargestSize) + " pixels in either direction";
  return "no arrangement keeps the outputs beside " + device + " as they are, without overlaps, at " + size;
}

}  // namespace platform
