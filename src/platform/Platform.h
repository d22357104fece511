#pragma once

// Every service that the program takes from its platform. Each target links
// exactly one implementation: platform/linux (X11 RandR, files), platform/
// windows (user32, the registry) or the tests' fake. All calls are made from
// the program's only thread.
//
// On Windows, include this header before <windows.h>: the constants below
// carry the platform's own names, which <windows.h> defines as macros.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "display/DEVMODEA.h"

namespace platform {

/// Mode number that asks EnumDisplaySettingsA for the mode in force.
constexpr int32_t ENUM_CURRENT_SETTINGS = -1;
/// Flag of ChangeDisplaySettingsA: apply the mode and keep it.
constexpr uint32_t CDS_UPDATEREGISTRY = 1;
/// Results of ChangeDisplaySettingsA; negative ones mean the mode was refused.
constexpr int32_t DISP_CHANGE_SUCCESSFUL = 0;
constexpr int32_t DISP_CHANGE_RESTART = 1;
constexpr int32_t DISP_CHANGE_FAILED = -1;
constexpr int32_t DISP_CHANGE_BADMODE = -2;

/// Fills `record` with the mode in force (ENUM_CURRENT_SETTINGS) or with the
/// n-th supported mode of the current display device (`deviceName` is always
/// null). Returns nonzero while there is such a mode, and 0 otherwise, leaving
/// `record` as it was. Never writes beyond the 124 bytes of `record`.
int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum, DEVMODEA* record);

/// Applies the mode that `record`'s dmFields select. Returns
/// DISP_CHANGE_SUCCESSFUL (or another value >= 0) when the platform took it,
/// a negative DISP_CHANGE_* code when it refused it.
int32_t ChangeDisplaySettingsA(DEVMODEA* record, uint32_t flags);

/// Returns the text saved under the three names, or nothing when there is none.
std::optional<std::string> QuerySetting(const std::string& appName, const std::string& section,
                                        const std::string& key);

/// One entry of a save: the key, and its text or nothing to remove the key.
struct SettingEntry {
  std::string key;
  std::optional<std::string> value;
};

/// Writes `entries` under the two names, in their order, as one save: on
/// Linux the store holds all of them or, when this throws, none. Throws
/// RuntimeError (PlatformCallFailed) when they cannot be written.
void SaveSettings(const std::string& appName, const std::string& section, const std::vector<SettingEntry>& entries);

/// Shows a modal message with `style`'s icon and buttons; the answer is not used.
void ShowMessageBox(const std::string& text, const std::string& title, uint32_t style);

/// Reports a runtime error that no handler caught, in the platform's form.
void ReportError(const std::string& message);

/// Returns the text of the arguments that follow the program's name.
std::string CommandText();

/// Returns the folder that the mode list goes into: the folder of the
/// program's executable, as the platform gives it; on Linux, for a program run
/// from the folder it was installed into, the current directory instead.
std::string ListDirectory();

/// Returns the platform's path separator.
char PathSeparator();

/// Opens `path` for appending, creating it if absent; never through a
/// symbolic link where the platform has them. Returns null with errno set on
/// failure.
std::FILE* OpenForAppending(const std::string& path);

/// Flushes the standard streams and ends the program with `exitStatus`.
[[noreturn]] void EndProgram(int exitStatus);

}  // namespace platform
