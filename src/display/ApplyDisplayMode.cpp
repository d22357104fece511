#include "display/ApplyDisplayMode.h"

#include <array>
#include <optional>
#include <string>

#include "display/DEVMODEA.h"
#include "display/SavedMode.h"
#include "platform/Platform.h"
#include "runtime/Numbers.h"
#include "runtime/RuntimeError.h"

namespace CommandLineParse {
namespace {

/// The four saved entries as they stood, absent ones as nothing.
using SavedEntries = std::array<std::optional<std::string>, 4>;

SavedEntries ReadSavedEntries() {
  SavedEntries entries;
  for (size_t i = 0; i < entries.size(); ++i)
    entries[i] = platform::QuerySetting(SavedMode::kAppName, SavedMode::kSection, SavedMode::kKeys[i]);
  return entries;
}

/// Puts the entries back as they were; best effort, since this already runs
/// on the way out of a failed change.
void PutBackSavedEntries(const SavedEntries& entries) {
  for (size_t i = 0; i < entries.size(); ++i) {
    try {
      if (entries[i])
        platform::SaveSetting(SavedMode::kAppName, SavedMode::kSection, SavedMode::kKeys[i], *entries[i]);
      else
        platform::DeleteSetting(SavedMode::kAppName, SavedMode::kSection, SavedMode::kKeys[i]);
    } catch (const RuntimeError&) {
    }
  }
}

/// The texts to save for the mode in force, in the order of SavedMode::kKeys.
/// Throws Overflow for a refresh rate beyond 16 bits.
std::array<std::string, 4> SavedTexts(const DEVMODEA& modeInForce) {
  const float oldWidth = static_cast<float>(modeInForce.dmPelsWidth);
  const float oldHeight = static_cast<float>(modeInForce.dmPelsHeight);
  const int16_t oldDepth = modeInForce.dmBitsPerPel;
  const int16_t oldRefresh = runtime::NarrowToInt16(modeInForce.dmDisplayFrequency);
  return {runtime::SingleToText(oldWidth), runtime::SingleToText(oldHeight), runtime::IntegerToText(oldDepth),
          runtime::IntegerToText(oldRefresh)};
}

void SaveEntries(const std::array<std::string, 4>& texts) {
  for (size_t i = 0; i < texts.size(); ++i)
    platform::SaveSetting(SavedMode::kAppName, SavedMode::kSection, SavedMode::kKeys[i], texts[i]);
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

  std::optional<SavedEntries> before;
  try {
    const std::array<std::string, 4> oldTexts = SavedTexts(record);
    before = ReadSavedEntries();
    SaveEntries(oldTexts);
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
  if (before) PutBackSavedEntries(*before);
  return false;
}

}  // namespace CommandLineParse
