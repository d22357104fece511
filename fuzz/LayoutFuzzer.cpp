// The layout rule on random layouts keeps its promises: no new overlap, the
// layout's top-left corner kept, outputs apart from the device kept where
// they are beside it, the device's neighbours still against it, one desktop
// still one; no overflow (UBSan); and a change there and back gives the
// layout it started from where nothing could be read two ways. Input: slack,
// device and new size, then each output beside an earlier one (or anywhere).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "Check.h"
#include "platform/linux/Layout.h"

using platform::kLargestSize;
using platform::Rect;
using Layout = std::vector<Rect>;

namespace {

/// The input a byte at a time; zeros once it runs out.
struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t Byte() { return size ? (--size, *data++) : 0; }
  /// A size on a grid of 16, so that edges and centres meet, odd now and then; after a 255, any positive int32.
  int32_t Size() {
    const uint8_t b = Byte();
    uint32_t any = 0;
    for (int i = 0; b == 255 && i < 4; ++i) any = any << 8 | Byte();
    return b == 255 ? std::max<int32_t>(1, any & INT32_MAX) : 16 * (1 + b % 40) + (b >= 200 ? b % 3 : 0);
  }
};

bool Spans(int64_t start1, int64_t size1, int64_t start2, int64_t size2) {
  return start1 < start2 + size2 && start2 < start1 + size1;
}

bool Overlap(const Rect& a, const Rect& b) {
  return Spans(a.x, a.width, b.x, b.width) && Spans(a.y, a.height, b.y, b.height);
}

/// The edge of `a` that `b` lies against, up to `slack` away: 1 right, 2 left, 3 below, 4 above; 0 none.
int SideOf(const Rect& a, const Rect& b, int64_t slack) {
  const auto near = [slack](int64_t p, int64_t q) { return std::abs(p - q) <= slack; };
  const bool across = Spans(a.y, a.height, b.y, b.height), down = Spans(a.x, a.width, b.x, b.width);
  return across && near(b.x, int64_t{a.x} + a.width)   ? 1
         : across && near(int64_t{b.x} + b.width, a.x) ? 2
         : down && near(b.y, int64_t{a.y} + a.height)  ? 3
         : down && near(int64_t{b.y} + b.height, a.y)  ? 4
                                                       : 0;
}

/// Which outputs are reached from `from` through shared edges.
std::vector<bool> Reached(const Layout& layout, size_t from, int64_t slack, std::vector<bool> reached = {}) {
  if (reached.empty()) reached.assign(layout.size(), false);
  reached[from] = true;
  for (size_t i = 0; i < layout.size(); ++i)
    if (!reached[i] && SideOf(layout[from], layout[i], slack)) reached = Reached(layout, i, slack, reached);
  return reached;
}

bool Connected(const Layout& layout, int64_t slack) {
  const std::vector<bool> reached = Reached(layout, 0, slack);
  return std::find(reached.begin(), reached.end(), false) == reached.end();
}

/// What a change back reads in `layout`: each pair's shared edge and
/// overlap; how each neighbour of the device lies along it: aligned with its
/// start, end or centre (1 to 3), or (0) at a distance from its start. -1
/// marks what reads two ways: an edge or an alignment within `slack` only,
/// or two alignments at once.
std::vector<int64_t> Reading(const Layout& layout, size_t device, int64_t slack) {
  std::vector<int64_t> read;
  for (const Rect& a : layout)
    for (const Rect& b : layout) {
      const int side = SideOf(a, b, 0);
      read.push_back(&a == &b ? 0 : side == SideOf(a, b, slack) ? 2 * side + Overlap(a, b) : -1);
    }
  const Rect& d = layout[device];
  for (const Rect& b : layout) {
    const int side = &b == &d ? 0 : SideOf(d, b, 0);
    if (!side) continue;
    const int64_t start = side <= 2 ? int64_t{b.y} - d.y : int64_t{b.x} - d.x;
    const int64_t size = side <= 2 ? b.height : b.width, deviceSize = side <= 2 ? d.height : d.width;
    const int64_t halves[] = {2 * start, 2 * (start + size - deviceSize), 2 * start + size - deviceSize};
    int aligned = 0, with = 0;
    for (int k = 0; k < 3; ++k) {
      if (halves[k] == 0) ++aligned, with = k + 1;
      else if (std::abs(halves[k]) <= 2 * slack) aligned = 2;  // aligned within slack only: reads two ways
    }
    read.insert(read.end(), {aligned > 1 ? -1 : with, with ? 0 : start});
  }
  return read;
}

/// Returns an output of `width` by `height` against the side `how & 3` of
/// `from`, aligned with its start, end or centre or `along` eighths off
/// (`how >> 2 & 3`), and now and then up to 2 off its edge (`how >> 4`).
Rect Beside(const Rect& from, int32_t width, int32_t height, uint8_t how, uint8_t along) {
  const bool across = (how & 3) < 2;  // right or left of it
  const int64_t start = across ? from.y : from.x, size = across ? from.height : from.width, own = across ? height : width;
  const int64_t alongs[] = {start, start + size - own, start + (size - own) / 2, start + int8_t(along) * 8};
  const int64_t off = (how >> 4) < 11 ? 0 : (how >> 4) - 13;
  const int64_t edge = off + ((how & 1) ? (across ? int64_t{from.x} - width : int64_t{from.y} - height)
                                        : (across ? int64_t{from.x} + from.width : int64_t{from.y} + from.height));
  const int64_t x = across ? edge : alongs[how >> 2 & 3], y = across ? alongs[how >> 2 & 3] : edge;
  return {static_cast<int32_t>(x), static_cast<int32_t>(y), width, height};
}

/// Returns the least of `layout`'s `coordinate`.
int32_t Least(const Layout& layout, int32_t Rect::*coordinate) {
  int32_t least = layout[0].*coordinate;
  for (const Rect& rect : layout) least = std::min(least, rect.*coordinate);
  return least;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const int32_t slack = in.Byte() % 3;
  const size_t count = 2 + in.Byte() % 5, device = in.Byte() % count;
  const int32_t width = in.Size(), height = in.Size();
  Layout before{{0, 0, in.Size(), in.Size()}};
  while (before.size() < count) {
    const Rect from = before[in.Byte() % before.size()];
    const int32_t w = in.Size(), h = in.Size();
    const uint8_t how = in.Byte(), along = in.Byte();
    before.push_back(in.Byte() < 240 ? Beside(from, w, h, how, along) : Rect{(along - 128) * 40, (how - 128) * 40, w, h});
  }

  const std::optional<Layout> result = platform::ResizeInLayout(before, device, width, height, slack);
  if (width > kLargestSize || height > kLargestSize) CHECK(!result);
  if (!result) return 0;
  const Layout& after = *result;
  CHECK(Least(after, &Rect::x) == Least(before, &Rect::x) && Least(after, &Rect::y) == Least(before, &Rect::y));
  CHECK(!Connected(before, slack) || Connected(after, slack));
  const std::vector<bool> reached = Reached(before, device, slack);
  size_t edges = 0;
  for (size_t i = 0; i < count; ++i) {
    for (size_t j = i + 1; j < count; ++j) {
      CHECK(!Overlap(after[i], after[j]) || Overlap(before[i], before[j]));
      edges += SideOf(before[i], before[j], 0) != 0;
    }
    const int side = i == device ? 0 : SideOf(before[device], before[i], slack);
    if (side) CHECK(SideOf(after[device], after[i], 0) == side);
    if (!reached[i])
      CHECK(int64_t{after[i].x} - before[i].x == int64_t{after[device].x} - before[device].x &&
            int64_t{after[i].y} - before[i].y == int64_t{after[device].y} - before[device].y);
  }
  // There and back, where `before` is a layout that the rule can give (within
  // int32 and kLargestSize), a tree of shared edges, and reads as `after` does.
  const auto fits = [](const Rect& r) { return int64_t{r.x} + r.width <= INT32_MAX && int64_t{r.y} + r.height <= INT32_MAX; };
  const std::vector<int64_t> reading = Reading(before, device, slack);
  if (std::all_of(before.begin(), before.end(), fits) && before[device].width <= kLargestSize &&
      before[device].height <= kLargestSize && edges + 1 == count && Connected(before, 0) &&
      std::find(reading.begin(), reading.end(), -1) == reading.end() && reading == Reading(after, device, slack))
    CHECK(platform::ResizeInLayout(after, device, before[device].width, before[device].height, slack) == before);
  return 0;
}
