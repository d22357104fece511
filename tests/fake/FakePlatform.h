#pragma once

// The tests' platform: keeps the display, the settings store and what the
// program said in plain containers that tests set up and read directly, and
// fails on demand. Files are real: the list file goes to a real folder.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "display/DEVMODEA.h"
#include "platform/Platform.h"

namespace fake {

struct Platform {
  std::vector<DEVMODEA> modes;       ///< what enumeration by index reports
  DEVMODEA current{};                ///< the mode in force
  bool currentReadFails = false;     ///< reading the mode in force returns 0
  int32_t changeResult = 0;          ///< what ChangeDisplaySettingsA returns
  std::map<std::pair<std::string, std::string>, std::string> store;  ///< (section, key) -> text
  int failingSave = 0;               ///< which entry write fails (1 for the first); 0 none
  int saveAttempts = 0;              ///< entry writes tried
  int saveCalls = 0;                 ///< SaveSettings calls
  std::string commandText;
  std::string listDirectory;
  /// Every record handed to ChangeDisplaySettingsA, as its bytes, with its flags.
  std::vector<std::pair<DevModeImage, uint32_t>> changes;
  std::vector<uint32_t> messageStyles;     ///< every message box's style
  int errorReports = 0;
};

/// The fake's state; assign {} to start afresh.
inline Platform state;

/// A mode with the four fields that the program reads and writes.
DEVMODEA Mode(int32_t width, int32_t height, int16_t depth, int32_t frequency);

/// Runs the program's start-up on `commandText` as the real program would;
/// returns its exit status, from a return or from EndProgram.
int Run(const std::string& commandText);

}  // namespace fake
