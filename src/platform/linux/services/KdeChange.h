#pragma once

// KWin's outputs as kde_output_device_v2 announces them, and what a change of
// the device's mode sends to each: its mode where it shows another, its place
// where it moves. KWin keeps every setting a configuration does not name, so
// nothing else is sent. Pure: KdeOutputManagement.cpp reads the outputs,
// asks these, and sends what they return.
//
// Outputs that show one picture: Plasma 5 (and 6.3) unifies outputs by
// putting them at one position, and they change together; KWin with
// kde_output_device_v2 version 13 (6.7, not 6.3) replicates an output
// (replication_source names the source's UUID). A replica stays enabled at a
// position of its own that is no place in the layout, and keeps its own mode:
// KWin fits its source's picture into it, scaled and centred between black bars.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/Layout.h"
#include "platform/linux/Modes.h"

namespace platform {

/// One output as KWin announced it.
struct KdeOutputState {
  std::string name;
  std::string uuid;                  ///< KWin's name for it in a replica's replicationSource
  std::string replicationSource;     ///< the UUID of the output it replicates; empty: none
  std::vector<ModeEntry> modes;      ///< the modes it offers; ids: their places in KWin's list
  std::optional<ModeEntry> current;  ///< the mode in force; none where it shows none it offers
  int32_t x = 0, y = 0;              ///< layout units: pixels divided by the scale
  uint32_t transform = 0;            ///< wl_output's: an odd one turns by 90° or 270°
  double scale = 1;                  ///< as KWin holds it (HeldScale)
  bool enabled = false;              ///< shows a picture: enabled and still connected
};

/// What a change sends to one output.
struct KdeOutputChange {
  std::optional<ModeEntry> mode;  ///< the mode it shows after; sent where it shows another
  std::optional<Rect> place;      ///< where its place moves; none: it stays
};

/// Whether `outputs[i]` has a place in the layout: enabled, and no replica
/// (of an enabled output), which KWin puts at a position that is no place.
bool KdeInLayout(const std::vector<KdeOutputState>& outputs, size_t i);

/// Returns the device among `outputs`: the first in the layout in Plasma's
/// `order` (by name; its primary output alone before Plasma 5.27), else the
/// first in the layout. Nothing where none is.
std::optional<size_t> KdeDeviceOf(const std::vector<KdeOutputState>& outputs, const std::vector<std::string>& order);

/// Returns what to send to each output of `outputs` for `device` to show
/// `mode`, one of its modes. Outputs that Plasma unified with the device at
/// its position take a mode of the same size, chosen as ChooseMode does
/// with `refreshHz`; replicas keep their own modes and places (KWin fits the
/// source's picture into them); the other places move by the layout rule,
/// KWin rounding a scaled size, one unit being touching where a scale is
/// fractional. Throws ServiceError with one line where a unified output
/// lacks the size, an output in the layout shows no mode, or no layout
/// keeps the arrangement.
std::vector<KdeOutputChange> PlanKdeChange(const std::vector<KdeOutputState>& outputs, size_t device,
                                           const ModeEntry& mode, int32_t refreshHz);

}  // namespace platform
