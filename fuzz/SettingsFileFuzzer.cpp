// The Linux settings file's text functions on any file content: a read never
// fails and gives a trimmed single-line value; a save reads back as saved,
// leaves every other entry as it read before, keeps every line that it does
// not replace (in order, byte for byte) and adds at most a section line and
// a key line; saving the same value twice changes nothing more.
//
// Input: byte 0 picks the section, the key and whether the value is saved or
// removed; the text up to the first line feed is the value (carriage returns
// dropped: the store refuses line breaks in values); the rest is the file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Check.h"
#include "platform/linux/SettingsFile.h"

namespace {

const char* const kSections[] = {"Restore", "restore", "Other", "Restore"};
const char* const kKeys[] = {"OldWidth", "OldHeight", "OldBPP", "OldRefresh", "oldwidth", "Else", "OldWidth",
                             "OldRefresh"};
/// Names whose entries a save of another name must leave alone.
const char* const kProbeSections[] = {"Restore", "Other"};
const char* const kProbeKeys[] = {"OldWidth", "OldHeight", "OldBPP", "OldRefresh", "Else"};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

/// The lines of `text`, each with its line break.
std::vector<std::string> RawLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t newline = text.find('\n', start);
    const size_t end = newline == std::string::npos ? text.size() : newline + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string Content(std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

/// True when `line` is a "key=..." line of `key`.
bool IsKeyLine(const std::string& line, const std::string& key) {
  const std::string trimmed = Trim(Content(line));
  const size_t equals = trimmed.find('=');
  return equals != std::string::npos && Lower(Trim(trimmed.substr(0, equals))) == Lower(key);
}

/// The edits that a save may make: lines of `now` that it may add (at most
/// two) and a line of `old` that it may drop or replace (at most one).
struct Edits {
  const std::vector<std::string>& old;
  const std::vector<std::string>& now;
  std::string key;
  std::string addedKeyLine;   // "key=value", or empty when removing
  std::string addedSection;   // "[section]"
};

/// True when now[j..] is old[i..] with the allowed edits left; tries each
/// way of reading a mismatch, since an added line may look like a kept one.
bool Matches(const Edits& edits, size_t i, size_t j, int dropsLeft, int addsLeft) {
  const std::vector<std::string>& old = edits.old;
  const std::vector<std::string>& now = edits.now;
  for (; i < old.size() && j < now.size(); ++i, ++j) {
    // A last line without a break may gain one when a line goes after it.
    const bool gainedBreak = i + 1 == old.size() && old[i].back() != '\n' &&
                             (now[j] == old[i] + "\n" || now[j] == old[i] + "\r\n");
    if (now[j] != old[i] && !gainedBreak) break;
  }
  if (i == old.size() && j == now.size()) return true;
  if (j < now.size() && addsLeft > 0) {
    const std::string content = Content(now[j]);
    if ((!edits.addedKeyLine.empty() && content == edits.addedKeyLine) || content == edits.addedSection)
      if (Matches(edits, i, j + 1, dropsLeft, addsLeft - 1)) return true;
  }
  return i < old.size() && dropsLeft > 0 && IsKeyLine(old[i], edits.key) &&
         Matches(edits, i + 1, j, dropsLeft - 1, addsLeft);
}

/// `after` is `before` with at most one `key` line dropped or replaced, and
/// at most a section line and a key line added: every other line is kept,
/// byte for byte and in order.
void CheckLinesKept(const std::string& before, const std::string& after, const std::string& section,
                    const std::string& key, const std::optional<std::string>& value) {
  const std::vector<std::string> old = RawLines(before), now = RawLines(after);
  const Edits edits{old, now, key, value ? key + "=" + *value : "", "[" + section + "]"};
  CHECK(Matches(edits, 0, 0, /*dropsLeft=*/1, /*addsLeft=*/2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string section = kSections[data[0] & 3];
  const std::string key = kKeys[(data[0] >> 2) & 7];
  const bool remove = (data[0] & 0x20) != 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t lineEnd = rest.find('\n');
  std::string valueText;
  for (char c : rest.substr(0, lineEnd))
    if (c != '\r') valueText += c;
  const std::string text = lineEnd == std::string::npos ? "" : rest.substr(lineEnd + 1);
  const std::optional<std::string> value = remove ? std::nullopt : std::optional<std::string>(valueText);

  const std::optional<std::string> old = platform::ReadIniValue(text, section, key);
  if (old) CHECK(*old == Trim(*old) && old->find('\n') == std::string::npos);

  const std::string saved = platform::ReplaceIniValue(text, section, key, value);
  if (value) {
    CHECK(platform::ReadIniValue(saved, section, key) == Trim(*value));
    CHECK(platform::ReplaceIniValue(saved, section, key, value) == saved);
  } else if (!old) {
    CHECK(saved == text);
  }
  for (const char* probeSection : kProbeSections) {
    for (const char* probeKey : kProbeKeys) {
      if (Lower(probeSection) == Lower(section) && Lower(probeKey) == Lower(key)) continue;
      CHECK(platform::ReadIniValue(saved, probeSection, probeKey) == platform::ReadIniValue(text, probeSection, probeKey));
    }
  }
  CheckLinesKept(text, saved, section, key, value);
  return 0;
}
