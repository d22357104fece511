#include "display/ApplyDisplayMode.h"

#include <optional>
#include <string>
#include <vector>

#include "display/DEVMODEA.h"
#include "display/SavedMode.h"
#include "platform/Platform.h"
#include "runtime/Numbers.h"
#include "runtime/RuntimeError.h"

namespace CommandLineParse {
namespace {

/// The saved entries as they stood, absent ones as nothing.
std::vector<platform::SettingEntry> ReadSavedEntries() {
  std::vector<platform::SettingEntry> entries;
  for (const char* key : SavedMode::kKeys)
    entries.push_back({key, platform::QuerySetting(SavedMode::kAppName, SavedMode::kSection, key)});
  return entries;
}

/// The entries to save for the mode in force, in the order of SavedMode::kKeys.
/// Throws Overflow for a refresh rate beyond 16 bits.
std::vector<platform::SettingEntry> OldModeEntries(const DEVMODEA& modeInForce) {
  const float oldWidth = static_cast<float>(modeInForce.dmPelsWidth);
  const float oldHeight = static_cast<float>(modeInForce.dmPelsHeight);
  const int16_t oldDepth = modeInForce.dmBitsPerPel;
  const int16_t oldRefresh = runtime::NarrowToInt16(modeInForce.dmDisplayFrequency);
  return {{SavedMode::kOldWidth, runtime::SingleToText(oldWidth)},
          {SavedMode::kOldHeight, runtime::SingleToText(oldHeight)},
          {SavedMode::kOldBPP, runtime::IntegerToText(oldDepth)},
          {SavedMode::kOldRefresh, runtime::IntegerToText(oldRefresh)}};
}

/// Walks the supported modes into `record`; none is kept, the record holds
/// what the platform left in it.
void WalkSupportedModes(DEVMODEA& record) {
  int16_t index = 0;
  for (;;) {
    const int32_t result = platform::EnumDisplaySettingsA(/*deviceName=*/nullptr, index, &record);
    index = runtime::AddInt16(index, 1);
    if ((result & 0xFFFF) == 0) return;
  }
}

}  // namespace

bool ApplyDisplayMode(const float& width, const float& height, const float& depth, const float& refreshRate) {
  DEVMODEA record{};
  const int32_t read = platform::EnumDisplaySettingsA(/*deviceName=*/nullptr, platform::ENUM_CURRENT_SETTINGS, &record);
  if ((read & 0xFFFF) == 0) return false;  // saving what was not read would lose the way back

  std::optional<std::vector<platform::SettingEntry>> before;
  try {
    const std::vector<platform::SettingEntry> oldMode = OldModeEntries(record);
    before = ReadSavedEntries();
    platform::SaveSettings(SavedMode::kAppName, SavedMode::kSection, oldMode);
    WalkSupportedModes(record);
    record.dmFields = DM_LOGPIXELS | DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
    record.dmPelsWidth = runtime::RoundToInt32(width);
    record.dmPelsHeight = runtime::RoundToInt32(height);
    record.dmBitsPerPel = runtime::RoundToInt16(depth);
    record.dmDisplayFrequency = runtime::RoundToInt32(refreshRate);
    if (platform::ChangeDisplaySettingsA(&record, platform::CDS_UPDATEREGISTRY) >= 0) return true;
  } catch (const RuntimeError&) {
    // Abandoned silently; the saved mode is put back below.
  }
  // Put the saved mode back as it was, absent entries removed; best effort,
  // since this already runs on the way out of a failed change.
  if (before) {
    try {
      platform::SaveSettings(SavedMode::kAppName, SavedMode::kSection, *before);
    } catch (const RuntimeError&) {
    }
  }
  return false;
}

}  // namespace CommandLineParse
