#pragma once

// The output's modes as the display layer serves them, and the choice of a
// mode for a requested size and refresh rate. Pure: no X calls, so the
// rules can be tested on plain lists.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

/// One mode of the output's list, in the server's order.
struct ModeEntry {
  /// The service's number for the mode: RRMode on X11, the list position
  /// elsewhere; none for a size of the caller's own, that no list holds.
  std::optional<unsigned long> id;
  int32_t width;        ///< pixels
  int32_t height;       ///< pixels
  double refresh;       ///< Hz, exact
  bool interlaced;
  bool preferred;       ///< among the output's preferred modes
};

/// Returns a mode's refresh rate in Hz from its dot clock (Hz) and totals
/// (pixels, lines): doublescan doubles the lines per frame, interlace
/// halves them. Returns 0 when a total is 0.
double RefreshRate(unsigned long dotClock, unsigned int hTotal, unsigned int vTotal, bool doubleScan,
                   bool interlaced);

/// Returns a rate given in mHz, as Wayland services give it, in Hz.
double HzOf(int32_t mHz);

/// Returns a size as lines give it: "WxH".
std::string SizeText(int32_t width, int32_t height);

/// Returns `refresh` rounded to the nearest whole Hz, as the mode list gives it.
int32_t WholeHz(double refresh);

/// Returns the index in `modes` of the mode of `width` by `height` whose
/// refresh rate rounds to `refreshHz` (the nearest to it where several do,
/// the first listed among equals); for `refreshHz` 0 or 1, the size's first
/// preferred mode, else its first listed. Returns nothing when there is none.
std::optional<size_t> ChooseMode(const std::vector<ModeEntry>& modes, int32_t width, int32_t height,
                                 int32_t refreshHz);

/// Returns the index in `modes`, the list of `mirror` (an output that shows
/// the same picture as `device`), of the mode it takes when the device
/// changes to `mode`: one of the same size, chosen as ChooseMode does with
/// `refreshHz`. Throws ServiceError with the line that says so when it has none.
size_t ChooseMirrorMode(const std::vector<ModeEntry>& modes, const ModeEntry& mode, int32_t refreshHz,
                        const std::string& mirror, const std::string& device);

/// Whether an output that shows `shown` (nothing: no mode) shows `asked`, the
/// one rule of every service: its size, and its rate to the mHz; for a size
/// of the caller's own (no id), whose timings the service computes, to the
/// whole Hz, and at any rate where it asked none.
bool Shows(const std::optional<ModeEntry>& shown, const ModeEntry& asked);

/// Returns the line that says `output` shows `shown` (nothing: no mode), not
/// `asked`, when its service read back after answering that it applied
/// `asked`; empty where it Shows `asked`.
std::string NotShown(const std::string& output, const ModeEntry& asked, const std::optional<ModeEntry>& shown);

}  // namespace platform
