#include "FakePlatform.h"

#include "runtime/RuntimeError.h"
#include "startup/CommandLineParse.h"

namespace fake {
namespace {

/// Thrown by EndProgram, so that a test regains control where the program would end.
struct ProgramEnded {
  int exitStatus;
};

}  // namespace

DEVMODEA Mode(int32_t width, int32_t height, int16_t depth, int32_t frequency) {
  DEVMODEA mode{};
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  mode.dmBitsPerPel = depth;
  mode.dmDisplayFrequency = frequency;
  return mode;
}

int Run(const std::string& commandText) {
  state.commandText = commandText;
  try {
    return CommandLineParse::Start();
  } catch (const ProgramEnded& ended) {
    return ended.exitStatus;
  }
}

}  // namespace fake

namespace platform {

using fake::state;

int32_t EnumDisplaySettingsA(const char*, int32_t modeNum, DEVMODEA* record) {
  const bool current = modeNum == ENUM_CURRENT_SETTINGS && !state.currentReadFails;
  if (!current && (modeNum < 0 || modeNum >= std::ssize(state.modes))) return 0;
  // Like a platform whose depth field is 32 bits wide, fill its high half.
  DevModeImage image = ToImage(current ? state.current : state.modes[modeNum]);
  image[106] = image[107] = 0xAB;
  FromImage(image.data(), *record);
  return 1;
}

int32_t ChangeDisplaySettingsA(DEVMODEA* record, uint32_t flags) {
  state.changes.push_back({ToImage(*record), flags});
  if (state.changeResult >= 0) state.current = *record;
  return state.changeResult;
}

std::optional<std::string> QuerySetting(const std::string&, const std::string& section, const std::string& key) {
  const auto found = state.store.find({section, key});
  return found == state.store.end() ? std::nullopt : std::optional(found->second);
}

void SaveSettings(const std::string&, const std::string& section, const std::vector<SettingEntry>& entries) {
  ++state.saveCalls;
  for (const SettingEntry& entry : entries) {
    if (++state.saveAttempts == state.failingSave)
      throw RuntimeError(ErrorKind::PlatformCallFailed, "save " + entry.key + ": the fake store refuses");
    if (entry.value) state.store[{section, entry.key}] = *entry.value;
    else state.store.erase({section, entry.key});
  }
}

void ShowMessageBox(const std::string&, const std::string&, uint32_t style) { state.messageStyles.push_back(style); }
void ReportError(const std::string&) { ++state.errorReports; }
std::string CommandText() { return state.commandText; }
std::string ListDirectory() { return state.listDirectory; }
char PathSeparator() { return '/'; }
std::FILE* OpenForAppending(const std::string& path) { return std::fopen(path.c_str(), "ab"); }
void EndProgram(int exitStatus) { throw fake::ProgramEnded{exitStatus}; }

}  // namespace platform
