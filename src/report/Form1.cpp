#include "report/Form1.h"

#include "platform/Platform.h"
#include "runtime/ExitStatus.h"
#include "runtime/FileSystem.h"
#include "runtime/Numbers.h"

namespace Form1 {

std::vector<DEVMODEA> ModeTable;
int32_t ModeIndex = 0;

namespace {

constexpr int32_t kTableGrowth = 8;

/// The list file: the list folder's text, the separator, "output.txt", with
/// no check for a separator already at the end of the folder.
std::string ListFilePath() { return platform::ListDirectory() + platform::PathSeparator() + "output.txt"; }

int32_t EnumerateMode() {
  return platform::EnumDisplaySettingsA(/*deviceName=*/nullptr, ModeIndex, &ModeTable[ModeIndex]);
}

}  // namespace

std::string ModeLine(const DEVMODEA& mode) {
  return runtime::IntegerToText(mode.dmPelsWidth) + "x" + runtime::IntegerToText(mode.dmPelsHeight) + "x" +
         runtime::IntegerToText(mode.dmBitsPerPel) + " Bits @ " + runtime::IntegerToText(mode.dmDisplayFrequency) +
         " Hz";
}

void Show() { Form_Load(); }

void Form_Load() {
  const std::string path = ListFilePath();
  if (runtime::FileExists(path)) runtime::ForceDeleteFile(path);

  int32_t modeCapacity = kTableGrowth;
  ModeTable.assign(modeCapacity + 1, DEVMODEA{});
  ModeIndex = 0;
  int32_t result = EnumerateMode();
  while ((result & 0xFFFF) != 0) {
    runtime::TextStream stream(path);
    stream.WriteLine(ModeLine(ModeTable[ModeIndex]));
    stream.Close();
    ModeIndex = runtime::AddInt32(ModeIndex, 1);
    if (ModeIndex > modeCapacity) {
      modeCapacity = runtime::AddInt32(modeCapacity, kTableGrowth);
      ModeTable.resize(modeCapacity + 1, DEVMODEA{});
    }
    result = EnumerateMode();
  }
  platform::EndProgram(ModeIndex > 0 ? kExitDone : kExitNotChanged);
}

}  // namespace Form1
