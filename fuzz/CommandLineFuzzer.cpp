// Drives the whole start-up through the fake platform with any command text
// and a display and store scripted by the input's first two bytes. Every run
// must split the text as the reference below does, end in one of the
// program's exit statuses, and keep its promises about the saved mode:
// untouched unless the change was done, then the mode it replaced; and a
// run that fails leaves the display as it was.
//
// Byte 0: bit 0 the mode in force cannot be read, bit 1 the change is
// refused, bit 2 the store holds a saved mode, bits 3-5 which entry write
// of the first save fails (1-4), bit 7 the rate in force is beyond 16 bits.
// Byte 1: how many modes the display lists (0-15). The rest is the command text.

#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Check.h"
#include "fake/FakePlatform.h"
#include "startup/CommandLineParse.h"

namespace {

/// Words between blanks and tabs; a word that starts with "-" is kept
/// without it, others are dropped; a lone "-" fails the split.
bool ReferenceSplit(const std::string& text, std::vector<std::string>* args) {
  for (size_t pos = 0, end; pos < text.size(); pos = end + 1) {
    end = std::min(text.find_first_of(" \t", pos), text.size());
    const std::string word = text.substr(pos, end - pos);
    if (word == "-") return false;
    if (!word.empty() && word[0] == '-') args->push_back(word.substr(1));
  }
  return args->size() > 1;
}

char listDirectory[] = "/tmp/vistrel-fuzz.XXXXXX";  // made once; -output writes there

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  using fake::state;
  state = {};
  state.current = fake::Mode(1280, 1024, 32, data[0] & 0x80 ? 70000 : 75);
  for (int i = 0; i < data[1] % 16; ++i) state.modes.push_back(fake::Mode(640 + i, 480, 32, 60));
  state.currentReadFails = data[0] & 1;
  state.changeResult = data[0] & 2 ? -2 : 0;
  for (const char* key : {"OldWidth", "OldHeight", "OldBPP", "OldRefresh"})
    if (data[0] & 4) state.store[{"Restore", key}] = "640";
  state.failingSave = ((data[0] >> 3) & 7) % 5;  // within the first save: a put-back is best effort
  static const bool made = mkdtemp(listDirectory);
  CHECK(made);
  state.listDirectory = listDirectory;
  const auto before = state.store;
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

  const int status = fake::Run(text);
  std::vector<std::string> args{""};
  const bool split = ReferenceSplit(text, &args);
  CHECK(status >= 0 && status <= 3);
  CHECK(CommandLineParse::CommandArgs == args || !split);
  CHECK(split || (status == 2 && state.messageStyles == std::vector<uint32_t>{48}));
  CHECK(state.messageStyles.size() + state.errorReports <= 1);
  if (status != 0) CHECK(state.store == before && (state.changes.empty() || state.changeResult));
  if (status == 0 && !state.changes.empty())
    CHECK(state.store.at({"Restore", "OldWidth"}) == "1280" && state.store.at({"Restore", "OldRefresh"}) == "75");
  return 0;
}
