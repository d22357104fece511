// The Linux settings file's text functions on any file: a read gives a trimmed
// one-line value; a save reads back, is idempotent and leaves every other
// entry as it reads. Input: byte 0 picks section, key, save or removal; the
// text up to the first line feed is the value; the rest the file.

#include <strings.h>

#include <cstdint>
#include <string>

#include "Check.h"
#include "platform/linux/SettingsFile.h"

const char *const kSections[] = {"Restore", "restore", "Other", "RESTORE"}, *const kKeys[] = {"OldWidth", "old", "B"};

static std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!size) return 0;
  const char *section = kSections[data[0] & 3], *key = kKeys[(data[0] >> 2) % 3];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string firstLine = rest.substr(0, rest.find('\n'));
  std::string value = firstLine;
  std::erase(value, '\r');
  const std::string text = firstLine.size() < rest.size() ? rest.substr(firstLine.size() + 1) : "";
  const auto saved = data[0] & 0x10 ? std::nullopt : std::optional(value);

  const std::optional<std::string> old = platform::ReadIniValue(text, section, key);
  if (old) CHECK(*old == Trim(*old) && old->find('\n') == std::string::npos);
  const std::string after = platform::ReplaceIniValue(text, section, key, saved);
  if (saved) CHECK(platform::ReadIniValue(after, section, key) == Trim(*saved) &&
                   platform::ReplaceIniValue(after, section, key, saved) == after);
  if (!saved && !old) CHECK(after == text);
  for (const char* probe : {"Restore", "Other"}) for (const char* probeKey : {"OldWidth", "Old", "B"})
      if (strcasecmp(probe, section) || strcasecmp(probeKey, key))
        CHECK(platform::ReadIniValue(after, probe, probeKey) == platform::ReadIniValue(text, probe, probeKey));
  return 0;
}
