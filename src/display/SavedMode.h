#pragma once

// Where the mode replaced by the last change is kept: four text entries in
// the per-user settings store.

namespace SavedMode {

constexpr const char* kAppName = "Quendrel";
constexpr const char* kSection = "Restore";
constexpr const char* kOldWidth = "OldWidth";
constexpr const char* kOldHeight = "OldHeight";
constexpr const char* kOldBPP = "OldBPP";
constexpr const char* kOldRefresh = "OldRefresh";

/// The four keys, in the order in which they are saved.
constexpr const char* kKeys[] = {kOldWidth, kOldHeight, kOldBPP, kOldRefresh};

}  // namespace SavedMode
