// Drives the whole start-up (splitting, choice of command, the three
// commands) through the fake platform with arbitrary command text and a
// display and store scripted by the first bytes of the input. Every input
// must end in one of the program's exit statuses with its promises kept:
// nothing saved after a usage warning, the saved mode as it was after an
// error or an abandoned or refused change, the old mode saved after a done one.
//
// Input: byte 0 holds switches (see Script), byte 1 picks the mode in force
// and how many modes the display lists; when the store switch is on, the
// text up to the first line feed holds the saved entries, comma-separated,
// in the order OldWidth, OldHeight, OldBPP, OldRefresh (missing ones are
// absent). The rest is the command text.

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Check.h"
#include "display/DEVMODEA.h"
#include "fake/FakePlatform.h"
#include "report/Form1.h"
#include "runtime/ExitStatus.h"
#include "runtime/Numbers.h"
#include "startup/CommandLineParse.h"

namespace {

using Store = std::map<std::tuple<std::string, std::string>, std::string>;

const char* const kKeys[] = {"OldWidth", "OldHeight", "OldBPP", "OldRefresh"};

// Switches of byte 0.
constexpr uint8_t kCurrentReadFails = 0x01;
constexpr uint8_t kChangeRefused = 0x02;
constexpr uint8_t kStoreHolds = 0x04;
constexpr uint8_t kFailingSaveShift = 3;  // bits 3-5: which save fails, 1-4; others none
constexpr uint8_t kChangeRestart = 0x40;
constexpr uint8_t kRefreshBeyond16Bits = 0x80;

const DEVMODEA kModes[] = {
    fake::Mode(1280, 1024, 32, 75),     fake::Mode(1024, 768, 32, 60),      fake::Mode(0, 0, 0, 0),
    fake::Mode(640, 480, 8, 60),        fake::Mode(3840, 2160, 32, 144),    fake::Mode(2147483647, -2147483647 - 1, -32768, 32767),
    fake::Mode(16777217, 3, 16, -1),    fake::Mode(800, 600, 24, 59),
};
constexpr size_t kModeCount = sizeof kModes / sizeof kModes[0];

/// The fake's program directory: a real folder made once per run, for the
/// list file, and removed when the run ends.
char programDirectory[] = "/tmp/vistrel-fuzz.XXXXXX";

void RemoveProgramDirectory() {
  std::remove((std::string(programDirectory) + "/output.txt").c_str());
  rmdir(programDirectory);
}

std::string ProgramDirectory() {
  static const bool made = [] {
    CHECK(mkdtemp(programDirectory) != nullptr);
    std::atexit(RemoveProgramDirectory);
    return true;
  }();
  (void)made;
  return programDirectory;
}

/// The split that the command line must give: words between blanks and
/// tabs; a word starting with "-" is kept without it, others are dropped; a
/// lone "-" ends the split as a failure.
bool ReferenceSplit(const std::string& text, std::vector<std::string>* args) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ' || text[pos] == '\t') {
      ++pos;
      continue;
    }
    const size_t end = text.find_first_of(" \t", pos);
    const std::string word = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end;
    if (word == "-") return false;
    if (word[0] == '-') args->push_back(word.substr(1));
  }
  return !args->empty();
}

enum class Command { None, Numeric, Restore, Output };

Command ChosenCommand(const std::vector<std::string>& args) {
  if (runtime::IsNumeric(args[0])) return Command::Numeric;
  const std::string lowered = runtime::LowerCase(args[0]);
  if (lowered == "restore") return Command::Restore;
  if (lowered == "output") return Command::Output;
  return Command::None;
}

/// Ties to even, worked out without the library's rounding.
double ReferenceRound(float value) {
  const double floor = std::floor(static_cast<double>(value));
  const double fraction = static_cast<double>(value) - floor;
  if (fraction > 0.5) return floor + 1;
  if (fraction < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

/// Reads the script from the front of `data`; returns the command text.
std::string SetUp(const uint8_t* data, size_t size, uint8_t* switches) {
  fake::Reset();
  fake::Platform& state = fake::State();
  *switches = data[0];
  state.current = kModes[data[1] % kModeCount];
  if (*switches & kRefreshBeyond16Bits) state.current.dmDisplayFrequency = 70000;
  for (size_t i = 0; i < (data[1] >> 4) % 13u; ++i) state.modes.push_back(kModes[i % kModeCount]);
  state.currentReadFails = *switches & kCurrentReadFails;
  if (*switches & kChangeRefused) state.changeResult = -2;  // DISP_CHANGE_BADMODE
  else if (*switches & kChangeRestart) state.changeResult = 1;  // DISP_CHANGE_RESTART
  const int failingSave = (*switches >> kFailingSaveShift) & 7;
  state.failingSave = failingSave <= 4 ? failingSave : 0;
  state.programDirectory = ProgramDirectory();

  std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  if (!(*switches & kStoreHolds)) return rest;
  const size_t lineEnd = rest.find('\n');
  const std::string entries = rest.substr(0, lineEnd);
  size_t start = 0;
  for (const char* key : kKeys) {
    if (start > entries.size()) break;
    const size_t comma = entries.find(',', start);
    state.store[{"Restore", key}] = entries.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? entries.size() + 1 : comma + 1;
  }
  return lineEnd == std::string::npos ? "" : rest.substr(lineEnd + 1);
}

void CheckNothingTouched(const Store& before) {
  const fake::Platform& state = fake::State();
  CHECK(state.store == before);
  CHECK(state.changeImages.empty());
  CHECK(state.openedFiles.empty());
}

/// A done change: the mode in force saved as text, the requested one handed over.
void CheckDoneChange(const DEVMODEA& oldMode) {
  const fake::Platform& state = fake::State();
  CHECK(state.changeImages.size() == 1 && state.changeResult >= 0);
  CHECK(state.changeFlags.back() == 1);  // CDS_UPDATEREGISTRY
  const std::string oldTexts[] = {runtime::SingleToText(static_cast<float>(oldMode.dmPelsWidth)),
                                  runtime::SingleToText(static_cast<float>(oldMode.dmPelsHeight)),
                                  runtime::IntegerToText(oldMode.dmBitsPerPel),
                                  runtime::IntegerToText(oldMode.dmDisplayFrequency)};
  for (size_t i = 0; i < 4; ++i) CHECK(fake::Saved(kKeys[i]) == oldTexts[i]);
  const DevModeImage& image = state.changeImages.back();
  CHECK(image[106] == 0 && image[107] == 0);
  DEVMODEA record;
  FromImage(image.data(), record);
  CHECK(record.dmFields == 0x005E0000);
  const CommandLineParse::ModeRequest& mode = CommandLineParse::RequestedMode;
  CHECK(record.dmPelsWidth == ReferenceRound(mode.Width));
  CHECK(record.dmPelsHeight == ReferenceRound(mode.Height));
  CHECK(record.dmBitsPerPel == ReferenceRound(mode.Depth));
  CHECK(record.dmDisplayFrequency == ReferenceRound(mode.RefreshRate));
}

/// The list file holds one line per listed mode, or is gone when there is none.
void CheckListFile(int status) {
  const fake::Platform& state = fake::State();
  const std::string path = ProgramDirectory() + "/output.txt";
  std::string expected;
  for (const DEVMODEA& mode : state.modes) expected += Form1::ModeLine(mode) + "\r\n";
  CHECK(status == (state.modes.empty() ? kExitNotChanged : kExitDone));
  std::FILE* file = std::fopen(path.c_str(), "rb");
  CHECK((file != nullptr) == !state.modes.empty());
  if (!file) return;
  std::string text(expected.size() + 1, '\0');
  text.resize(std::fread(&text[0], 1, text.size(), file));
  std::fclose(file);
  CHECK(text == expected);
}

void CheckModeCommand(Command command, int status, const Store& before, const DEVMODEA& oldMode) {
  const fake::Platform& state = fake::State();
  CHECK(state.messages.empty());
  CHECK(state.openedFiles.empty());
  if (status == kExitError) {
    CHECK(state.errorReports.size() == 1 && !state.errorReports[0].empty());
    CheckNothingTouched(before);
    return;
  }
  CHECK(state.errorReports.empty());
  if (status == kExitNotChanged) {
    // Abandoned or refused: the way back is what it was.
    CHECK(state.store == before);
    CHECK(state.changeImages.empty() || state.changeResult < 0);
    return;
  }
  CHECK(status == kExitDone);
  CheckDoneChange(oldMode);
  if (command != Command::Restore) return;
  const CommandLineParse::ModeRequest& mode = CommandLineParse::RequestedMode;
  CHECK(mode.Width == runtime::TextToSingle(before.at({"Restore", "OldWidth"})));
  CHECK(mode.Height == runtime::TextToSingle(before.at({"Restore", "OldHeight"})));
  CHECK(mode.Depth == runtime::TextToSingle(before.at({"Restore", "OldBPP"})));
  CHECK(mode.RefreshRate == runtime::TextToSingle(before.at({"Restore", "OldRefresh"})));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint8_t switches = 0;
  const std::string text = SetUp(data, size, &switches);
  const Store before = fake::State().store;
  const DEVMODEA oldMode = fake::State().current;

  const int status = fake::Run(text);

  const fake::Platform& state = fake::State();
  CHECK(status == kExitDone || status == kExitError || status == kExitUsage || status == kExitNotChanged);
  std::vector<std::string> args;
  const bool split = ReferenceSplit(text, &args);
  const std::vector<std::string>& parsed = CommandLineParse::CommandArgs;
  CHECK(!parsed.empty() && parsed[0].empty());
  CHECK(std::vector<std::string>(parsed.begin() + 1, parsed.end()) == args);
  if (!split) {
    CHECK(status == kExitUsage);
    CHECK(state.messages.size() == 1 && state.messages[0].title == "ERROR: Vistrel " &&
          state.messages[0].style == 48);
    CheckNothingTouched(before);
    CHECK(state.errorReports.empty());
    return 0;
  }
  const Command command = ChosenCommand(args);
  if (command == Command::None) {
    CHECK(status == kExitUsage && state.messages.empty() && state.errorReports.empty());
    CHECK(state.enumIndexes.empty());
    CheckNothingTouched(before);
  } else if (command == Command::Output) {
    CHECK(state.messages.empty() && state.errorReports.empty() && state.saves.empty());
    CheckListFile(status);
  } else {
    CheckModeCommand(command, status, before, oldMode);
  }
  return 0;
}
