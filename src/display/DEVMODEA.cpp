#include "display/DEVMODEA.h"

#include <cstring>

namespace {
constexpr size_t kDepthHighHalf = offsetof(DEVMODEA, dmBitsPerPel) + sizeof(int16_t);
static_assert(kDepthHighHalf == 106, "the two bytes the record does not hold");
}  // namespace

DevModeImage ToImage(const DEVMODEA& record) {
  DevModeImage image;
  std::memcpy(image.data(), &record, image.size());
  image[kDepthHighHalf] = 0;
  image[kDepthHighHalf + 1] = 0;
  return image;
}

void FromImage(const unsigned char* image, DEVMODEA& record) {
  std::memcpy(&record, image, sizeof record);
  // Padding in the struct: keep it zero so that nothing the platform wrote
  // there survives into a later image.
  std::memset(reinterpret_cast<unsigned char*>(&record) + kDepthHighHalf, 0, 2);
}
