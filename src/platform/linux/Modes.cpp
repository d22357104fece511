#include "platform/linux/Modes.h"

#include <cmath>
#include <cstdio>

#include "platform/linux/ServiceError.h"

namespace platform {

double RefreshRate(unsigned long dotClock, unsigned int hTotal, unsigned int vTotal, bool doubleScan,
                   bool interlaced) {
  double lines = vTotal;  // lines per frame
  if (doubleScan) lines *= 2;
  if (interlaced) lines /= 2;
  if (hTotal == 0 || lines == 0) return 0;
  return static_cast<double>(dotClock) / (static_cast<double>(hTotal) * lines);
}

double HzOf(int32_t mHz) { return mHz / 1000.0; }

std::string SizeText(int32_t width, int32_t height) { return std::to_string(width) + "x" + std::to_string(height); }

int32_t WholeHz(double refresh) { return static_cast<int32_t>(std::lround(refresh)); }

std::optional<size_t> ChooseMode(const std::vector<ModeEntry>& modes, int32_t width, int32_t height,
                                 int32_t refreshHz) {
  const bool wantsDefault = refreshHz == 0 || refreshHz == 1;
  std::optional<size_t> chosen;
  for (size_t i = 0; i < modes.size(); ++i) {
    const ModeEntry& mode = modes[i];
    if (mode.width != width || mode.height != height) continue;
    if (wantsDefault) {
      if (mode.preferred) return i;
      if (!chosen) chosen = i;
      continue;
    }
    if (WholeHz(mode.refresh) != refreshHz) continue;
    if (!chosen || std::fabs(mode.refresh - refreshHz) < std::fabs(modes[*chosen].refresh - refreshHz))
      chosen = i;
  }
  return chosen;
}

size_t ChooseMirrorMode(const std::vector<ModeEntry>& modes, const ModeEntry& mode, int32_t refreshHz,
                        const std::string& mirror, const std::string& device) {
  const std::optional<size_t> chosen = ChooseMode(modes, mode.width, mode.height, refreshHz);
  if (!chosen)
    throw ServiceError(mirror + ", which shows the same picture as " + device + ", has no mode of " +
                       SizeText(mode.width, mode.height) +
                       (refreshHz > 1 ? " at " + std::to_string(refreshHz) + " Hz" : ""));
  return *chosen;
}

namespace {
/// Returns `mode` as lines give it: "WxH at R Hz", R to the mHz.
std::string Described(const ModeEntry& mode) {
  if (mode.refresh == 0) return SizeText(mode.width, mode.height);  // no rate asked
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.3f", mode.refresh);
  return SizeText(mode.width, mode.height) + " at " + rate + " Hz";
}
}  // namespace

bool Shows(const std::optional<ModeEntry>& shown, const ModeEntry& asked) {
  if (!shown || shown->width != asked.width || shown->height != asked.height) return false;
  if (asked.id) return std::fabs(shown->refresh - asked.refresh) < 0.0005;
  return asked.refresh == 0 || WholeHz(shown->refresh) == WholeHz(asked.refresh);
}

std::string NotShown(const std::string& output, const ModeEntry& asked, const std::optional<ModeEntry>& shown) {
  if (Shows(shown, asked)) return "";
  return output + " shows " + (shown ? Described(*shown) : "no mode") + ", not " + Described(asked);
}

}  // namespace platform
