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
#include <utility>
#include <vector>

#include "Check.h"
#include "platform/linux/Layout.h"

using platform::Rect;
using Layout = std::vector<Rect>;

namespace {

/// The input a byte at a time; zeros once it runs out.
struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t Byte() { return size ? (--size, *data++) : 0; }
  int32_t Int() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return static_cast<int32_t>(value);
  }
  /// A size on a grid of 16, so that edges and centres meet; odd now and then; after a 255, any positive int32.
  int32_t Size() {
    const uint8_t b = Byte();
    return b == 255 ? std::max(1, Int() & INT32_MAX) : 16 * (1 + b % 40) + (b >= 200 ? b % 3 : 0);
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
  if (Spans(a.y, a.height, b.y, b.height) && near(b.x, int64_t{a.x} + a.width)) return 1;
  if (Spans(a.y, a.height, b.y, b.height) && near(int64_t{b.x} + b.width, a.x)) return 2;
  if (Spans(a.x, a.width, b.x, b.width) && near(b.y, int64_t{a.y} + a.height)) return 3;
  if (Spans(a.x, a.width, b.x, b.width) && near(int64_t{b.y} + b.height, a.y)) return 4;
  return 0;
}

std::vector<bool> Reached(const Layout& layout, size_t from, int64_t slack) {
  std::vector<bool> reached(layout.size(), false);
  std::vector<size_t> todo{from};
  reached[from] = true;
  while (!todo.empty()) {
    const size_t next = todo.back();
    todo.pop_back();
    for (size_t i = 0; i < layout.size(); ++i)
      if (!reached[i] && SideOf(layout[next], layout[i], slack)) reached[i] = true, todo.push_back(i);
  }
  return reached;
}

bool Connected(const Layout& layout, int64_t slack) {
  const std::vector<bool> reached = Reached(layout, 0, slack);
  return std::find(reached.begin(), reached.end(), false) == reached.end();
}

std::pair<int32_t, int32_t> Corner(const Layout& layout) {
  std::pair<int32_t, int32_t> corner{layout[0].x, layout[0].y};
  for (const Rect& r : layout) corner = {std::min(corner.first, r.x), std::min(corner.second, r.y)};
  return corner;
}

/// How `b`, against an edge of `device`, lies along it: aligned with its
/// start (1), end (2) or centre (3), or (0) at a distance from its start;
/// nothing when more than one alignment holds, or one holds within `slack`.
std::optional<std::pair<int, int64_t>> Along(const Rect& device, const Rect& b, int64_t slack) {
  const bool beside = SideOf(device, b, 0) <= 2;
  const int64_t start = beside ? b.y : b.x, size = beside ? b.height : b.width;
  const int64_t deviceStart = beside ? device.y : device.x, deviceSize = beside ? device.height : device.width;
  const int64_t halves[] = {2 * (start - deviceStart), 2 * (start + size - deviceStart - deviceSize),
                            2 * start + size - 2 * deviceStart - deviceSize};  // how far off each, in half units
  std::pair<int, int64_t> along{0, start - deviceStart};
  for (int k = 0; k < 3; ++k) {
    if (halves[k] == 0 && along.first) return std::nullopt;
    if (halves[k] == 0) along = {k + 1, 0};
    else if (std::abs(halves[k]) <= 2 * slack) return std::nullopt;
  }
  return along;
}

/// Whether a change back must undo the change: `before` is a layout that
/// the rule can give (its device no larger than kLargestSize, its edges
/// within int32), and nothing in it or `after` can be read two ways: the
/// outputs make a tree of shared edges, the same at both sizes and every
/// edge exact; the device's neighbours lie along it alike at both sizes.
bool Reversible(const Layout& before, const Layout& after, size_t device, int64_t slack) {
  if (before[device].width > platform::kLargestSize || before[device].height > platform::kLargestSize) return false;
  size_t edges = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (int64_t{before[i].x} + before[i].width > INT32_MAX || int64_t{before[i].y} + before[i].height > INT32_MAX)
      return false;
    for (size_t j = 0; j < before.size(); ++j) {
      const int side = SideOf(before[i], before[j], 0);
      if (i == j) continue;
      if (SideOf(before[i], before[j], slack) != side || SideOf(after[i], after[j], 0) != side ||
          SideOf(after[i], after[j], slack) != side || Overlap(before[i], before[j]) != Overlap(after[i], after[j]))
        return false;
      edges += side != 0;
    }
  }
  if (edges != 2 * (before.size() - 1) || !Connected(before, 0)) return false;
  for (size_t i = 0; i < before.size(); ++i) {
    if (i == device || !SideOf(before[device], before[i], 0)) continue;
    const auto along = Along(before[device], before[i], slack);
    if (!along || along != Along(after[device], after[i], slack)) return false;
  }
  return true;
}

/// Returns an output of `width` by `height` against the side `how` of `from`, aligned by `how` and `in`.
Rect Beside(const Rect& from, int32_t width, int32_t height, uint8_t how, Input& in) {
  const int64_t jitter = (how >> 5) < 3 ? 0 : (how >> 5) - 5;  // mostly none, else -2 to 2
  const auto align = [&](int64_t start, int64_t size, int64_t own) {
    const int64_t choices[] = {start, start + size - own, start + (size - own) / 2, start + int8_t(in.Byte()) * 8};
    return static_cast<int32_t>(choices[how >> 3 & 3]);
  };
  switch (how & 3) {
    case 0: return {static_cast<int32_t>(int64_t{from.x} + from.width + jitter), align(from.y, from.height, height), width, height};
    case 1: return {static_cast<int32_t>(int64_t{from.x} - width + jitter), align(from.y, from.height, height), width, height};
    case 2: return {align(from.x, from.width, width), static_cast<int32_t>(int64_t{from.y} + from.height + jitter), width, height};
    default: return {align(from.x, from.width, width), static_cast<int32_t>(int64_t{from.y} - height + jitter), width, height};
  }
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
    const uint8_t how = in.Byte();
    before.push_back(in.Byte() < 240 ? Beside(from, w, h, how, in) : Rect{int16_t(in.Int()), int16_t(in.Int()), w, h});
  }

  const std::optional<Layout> result = platform::ResizeInLayout(before, device, width, height, slack);
  if (width > platform::kLargestSize || height > platform::kLargestSize) CHECK(!result);
  if (!result) return 0;
  const Layout& after = *result;
  CHECK(after.size() == count && after[device].width == width && after[device].height == height);
  CHECK(Corner(after) == Corner(before));
  const std::vector<bool> reached = Reached(before, device, slack);
  for (size_t i = 0; i < count; ++i) {
    if (i != device) CHECK(after[i].width == before[i].width && after[i].height == before[i].height);
    for (size_t j = i + 1; j < count; ++j) CHECK(!Overlap(after[i], after[j]) || Overlap(before[i], before[j]));
    const int side = SideOf(before[device], before[i], slack);
    if (i != device && side) CHECK(SideOf(after[device], after[i], 0) == side);
    if (!reached[i])
      CHECK(int64_t{after[i].x} - before[i].x == int64_t{after[device].x} - before[device].x &&
            int64_t{after[i].y} - before[i].y == int64_t{after[device].y} - before[device].y);
  }
  CHECK(!Connected(before, slack) || Connected(after, slack));
  if (Reversible(before, after, device, slack))
    CHECK(platform::ResizeInLayout(after, device, before[device].width, before[device].height, slack) == before);
  return 0;
}
