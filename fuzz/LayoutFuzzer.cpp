// The layout rule on random layouts keeps its promises: no new overlap, the
// layout's top-left corner kept, outputs apart from the device moved with
// it, the device's neighbours still against it, one desktop still one; no
// overflow (UBSan); and a change there and back gives the layout it started
// from where nothing could be read two ways. (That a size beyond kLargestSize
// is refused, PlanKdeChange's row in tests/linux/PlatformTest.cpp checks.)
// Input: slack, device and new size, then each output beside an earlier one
// (or anywhere).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <utility>
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
  const int64_t gaps[] = {b.x - (int64_t{a.x} + a.width), a.x - (int64_t{b.x} + b.width),
                          b.y - (int64_t{a.y} + a.height), a.y - (int64_t{b.y} + b.height)};
  for (int side = 0; side < 4; ++side)
    if (std::abs(gaps[side]) <= slack &&
        (side < 2 ? Spans(a.y, a.height, b.y, b.height) : Spans(a.x, a.width, b.x, b.width)))
      return side + 1;
  return 0;
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
  return std::ranges::count(Reached(layout, 0, slack), false) == 0;
}

/// What a change back reads in `layout`, edges exact: for each pair, the
/// edge they share and whether they overlap; along a shared edge, which of
/// their starts, ends and centres line up, else how far apart their starts are.
std::vector<int64_t> Reading(const Layout& layout) {
  std::vector<int64_t> read;
  for (const Rect& a : layout)
    for (const Rect& b : layout) {
      const int side = SideOf(a, b, 0);
      // How far b's start and end lie from a's along the edge; their sum is twice the centres' distance.
      const int64_t start = side < 3 ? int64_t{b.y} - a.y : int64_t{b.x} - a.x;
      const int64_t end = start + (side < 3 ? int64_t{b.height} - a.height : int64_t{b.width} - a.width);
      const int aligned = !start + 2 * !end + 4 * !(start + end);
      read.insert(read.end(), {2 * side + Overlap(a, b), side ? aligned : 0, side && !aligned ? start : 0});
    }
  return read;
}

/// Returns an output of `width` by `height` against the side `how & 3` of
/// `from` (right, left, below, above), aligned with its start, end or centre
/// or `along` eighths off (`how >> 2 & 3`), now and then up to 2 off its edge.
Rect Beside(const Rect& from, int32_t width, int32_t height, uint8_t how, uint8_t along) {
  const int64_t f[] = {from.x, from.y, from.width, from.height}, own[] = {width, height};
  const int e = how >> 1 & 1, l = 1 - e;  // the axis across the edge, the one along it
  int64_t at[2];
  at[e] = (how & 1 ? f[e] - own[e] : f[e] + f[e + 2]) + ((how >> 4) < 11 ? 0 : (how >> 4) - 13);
  const int64_t alongs[] = {0, f[l + 2] - own[l], (f[l + 2] - own[l]) / 2, int8_t(along) * 8};
  at[l] = f[l] + alongs[how >> 2 & 3];
  return {int32_t(at[0]), int32_t(at[1]), width, height};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const int32_t slack = in.Byte() % 4;  // as far apart as compositors size a scaled output
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
  if (!result) return 0;
  const Layout& after = *result;
  const auto corner = [](const Layout& l) {
    return std::pair(std::ranges::min(l, {}, &Rect::x).x, std::ranges::min(l, {}, &Rect::y).y);
  };
  const auto moved = [&](size_t i) {
    return std::pair(int64_t{after[i].x} - before[i].x, int64_t{after[i].y} - before[i].y);
  };
  CHECK(corner(after) == corner(before));
  CHECK(!Connected(before, slack) || Connected(after, slack));
  const std::vector<bool> reached = Reached(before, device, slack);
  size_t edges = 0;
  // The change back is checked where `before` is a layout the rule can give
  // (sizes within kLargestSize), on a grid of 8 that no slack blurs ...
  bool plain = true;
  for (size_t i = 0; i < count; ++i) {
    for (size_t j = i + 1; j < count; ++j) {
      CHECK(!Overlap(after[i], after[j]) || Overlap(before[i], before[j]));
      edges += SideOf(before[i], before[j], 0) != 0;
    }
    const int side = i == device ? 0 : SideOf(before[device], before[i], slack);
    if (side) CHECK(SideOf(after[device], after[i], 0) == side);
    if (!reached[i]) CHECK(moved(i) == moved(device));
    const Rect& r = before[i];
    plain = plain && std::max(r.width, r.height) <= kLargestSize &&
            (r.x | r.y | r.width | r.height | width | height) % 8 == 0;
  }
  // ... and a tree of shared edges that reads as `after` does.
  if (plain && edges + 1 == count && Connected(before, 0) && Reading(before) == Reading(after))
    CHECK(platform::ResizeInLayout(after, device, before[device].width, before[device].height, slack) == before);
  return 0;
}
