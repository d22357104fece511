#include "startup/CommandLineParse.h"

namespace CommandLineParse {
namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> CommandArgs(1);

bool ParseCommandLine(const std::string& text) {
  CommandArgs.assign(1, std::string());
  size_t pos = 0;
  while (pos < text.size()) {
    if (IsSeparator(text[pos])) {
      ++pos;
      continue;
    }
    // A word: its first dash (the only one before any other character)
    // marks it as an argument and is dropped; later dashes are kept.
    std::string word;
    bool dashed = false;
    while (pos < text.size() && !IsSeparator(text[pos])) {
      if (text[pos] == '-' && word.empty() && !dashed) {
        dashed = true;
      } else {
        word += text[pos];
      }
      ++pos;
    }
    if (word.empty()) return false;  // a lone "-"
    if (dashed) CommandArgs.push_back(word);
  }
  return CommandArgs.size() > 1;
}

}  // namespace CommandLineParse
