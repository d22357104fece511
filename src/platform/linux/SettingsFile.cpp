#include "platform/linux/SettingsFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/Handles.h"
#include "runtime/RuntimeError.h"

namespace platform {
namespace {

/// One line of the text: where it starts, and its content without the line
/// break (and without a CR before it).
struct Line {
  size_t start;
  size_t end;  // just past the line break, or the end of the text
  std::string content;
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t newline = text.find('\n', start);
    const size_t end = newline == std::string::npos ? text.size() : newline + 1;
    size_t contentEnd = newline == std::string::npos ? text.size() : newline;
    if (contentEnd > start && text[contentEnd - 1] == '\r') --contentEnd;
    lines.push_back({start, end, text.substr(start, contentEnd - start)});
    start = end;
  }
  return lines;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

/// Returns the section that a "[Name]" line opens, or nothing for other lines.
std::optional<std::string> SectionName(const std::string& line) {
  const std::string trimmed = Trim(line);
  if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return std::nullopt;
  return Trim(trimmed.substr(1, trimmed.size() - 2));
}

/// Returns the key of a "Key=Value" line, or nothing for other lines.
std::optional<std::string> KeyName(const std::string& line) {
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') return std::nullopt;
  const size_t equals = trimmed.find('=');
  if (equals == std::string::npos) return std::nullopt;
  return Trim(trimmed.substr(0, equals));
}

/// Where a key sits in the text: its line, and where a new key of its
/// section would go; none where there is none.
struct Place {
  std::optional<size_t> keyLine;
  std::optional<size_t> sectionLine;
  std::optional<size_t> lastKeyLine;  // of the section
};

Place Find(const std::vector<Line>& lines, const std::string& section, const std::string& key) {
  Place place;
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = SectionName(lines[i].content)) {
      if (inside) break;  // only the first section of that name counts
      inside = SameName(*name, section);
      if (inside) place.sectionLine = i;
      continue;
    }
    if (!inside) continue;
    const auto name = KeyName(lines[i].content);
    if (!name) continue;
    place.lastKeyLine = i;
    if (SameName(*name, key)) {
      place.keyLine = i;
      break;
    }
  }
  return place;
}

}  // namespace

std::optional<std::string> ReadIniValue(const std::string& text, const std::string& section,
                                        const std::string& key) {
  const std::vector<Line> lines = SplitLines(text);
  const Place place = Find(lines, section, key);
  if (!place.keyLine) return std::nullopt;
  const std::string& line = lines[*place.keyLine].content;
  return Trim(line.substr(line.find('=') + 1));
}

namespace {

/// True when the section that opens at `sectionLine` holds nothing but
/// blank lines besides the line `ignored`, and no later section has its
/// name: taking its line away would make that later one the first.
bool OnlyBlankLines(const std::vector<Line>& lines, size_t sectionLine, size_t ignored, const std::string& section) {
  size_t i = sectionLine + 1;
  for (; i < lines.size() && !SectionName(lines[i].content); ++i)
    if (i != ignored && !Trim(lines[i].content).empty()) return false;
  for (; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i].content);
    if (name && SameName(*name, section)) return false;
  }
  return true;
}

}  // namespace

std::string ReplaceIniValue(const std::string& text, const std::string& section, const std::string& key,
                            const std::optional<std::string>& value) {
  const std::vector<Line> lines = SplitLines(text);
  const Place place = Find(lines, section, key);
  if (place.keyLine) {
    const Line& old = lines[*place.keyLine];
    // A removal that empties the section takes its "[Section]" line too.
    if (!value && OnlyBlankLines(lines, *place.sectionLine, *place.keyLine, section)) {
      const Line& header = lines[*place.sectionLine];
      return text.substr(0, header.start) + text.substr(header.end, old.start - header.end) + text.substr(old.end);
    }
    // Keep the line's own break (CR LF or LF, or none at the very end).
    const std::string ending = text.substr(old.start + old.content.size(), old.end - old.start - old.content.size());
    const std::string replacement = value ? key + "=" + *value + ending : "";
    return text.substr(0, old.start) + replacement + text.substr(old.end);
  }
  if (!value) return text;
  // New lines follow the file's own line breaks.
  const std::string lineBreak = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string newLine = key + "=" + *value + lineBreak;
  // A last line without a break gets one before anything follows it; a
  // lone CR at the very end is made whole, not left inside the line.
  const std::string joined =
      text.empty() || text.back() == '\n' ? text : text + (text.back() == '\r' ? "\n" : lineBreak);
  if (!place.sectionLine) return joined + "[" + section + "]" + lineBreak + newLine;
  const Line& after = lines[place.lastKeyLine.value_or(*place.sectionLine)];
  if (after.end == text.size()) return joined + newLine;
  return text.substr(0, after.end) + newLine + text.substr(after.end);
}

std::string SettingsPath(const std::string& application) {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (configHome && configHome[0] == '/') {
    base = configHome;  // relative values are to be ignored
  } else {
    const char* home = std::getenv("HOME");
    const passwd* user = home && home[0] ? nullptr : getpwuid(getuid());
    base = std::string(home && home[0] ? home : user ? user->pw_dir : "") + "/.config";
  }
  return base + "/" + application + "/settings.ini";
}

namespace {

RuntimeError SaveError(const std::string& path, const std::string& call, int error) {
  return RuntimeError(ErrorKind::PlatformCallFailed,
                      "save settings \"" + path + "\": " + call + ": " + std::strerror(error));
}

/// Reads the whole file at `path`; empty text when it is absent. Sets
/// `error` to errno when it exists but cannot be read.
std::string ReadWholeFile(const std::string& path, int* error) {
  *error = 0;
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    if (errno != ENOENT) *error = errno;
    return "";
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(file.Get(), buffer, sizeof buffer);
    if (count == 0) return text;
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      *error = errno;
      return "";
    }
    text.append(buffer, static_cast<size_t>(count));
  }
}

/// Creates `directory` and its missing parents, private to the user.
void MakeDirectories(const std::string& path, const std::string& directory) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) throw SaveError(path, "mkdir " + part, errno);
    if (slash == std::string::npos) return;
  }
}

/// Opens a new file beside `path` under a fresh name (`path`, a dot and 12
/// hex digits), never through a symbolic link; sets `tempPath` to its name.
int CreateTempFile(const std::string& path, std::string* tempPath) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, /*flags=*/0) != static_cast<ssize_t>(sizeof random))
      throw SaveError(path, "getrandom", errno);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2], random[3],
                  random[4], random[5]);
    *tempPath = path + suffix;
    const int fd = open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) return fd;
    if (errno != EEXIST) throw SaveError(*tempPath, "open", errno);
  }
  throw SaveError(path, "open a temporary file", EEXIST);
}

void WriteAll(int fd, const std::string& text, const std::string& path) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw SaveError(path, "write", errno);
    done += static_cast<size_t>(count);
  }
}

/// Removes the temporary files that saves of `path` killed before their
/// rename left beside it. Runs under the folder's lock, which every save holds
/// while its temporary file exists, so any file of that naming is one nobody
/// will finish.
void RemoveStaleTempFiles(const std::string& path) {
  const size_t slash = path.rfind('/');
  DIR* folder = opendir(path.substr(0, slash).c_str());
  if (!folder) return;  // the save itself reports what is wrong with the folder
  const std::string prefix = path.substr(slash + 1) + ".";
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.size() == prefix.size() + 12 && name.compare(0, prefix.size(), prefix) == 0 &&
        name.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos)
      unlinkat(dirfd(folder), name.c_str(), /*flags=*/0);
  }
  closedir(folder);
}

/// The settings file as this run sees it. The run holds an exclusive lock on
/// the file's folder from its first use of the store to its end (the kernel
/// drops it when the process ends, killed or not), so runs at the same time
/// take turns from the read of the saved mode to its put-back, and the text
/// read under that lock stays the file's text for the rest of the run.
struct Store {
  std::string path;                     // settings.ini
  std::optional<FileDescriptor> folder;  // the locked folder; none before the lock
  bool loaded = false;                  // `text` was read under the lock
  std::string text;
  int readError = 0;  // errno of a failed read; such a file is never written over
};

/// Returns the store of the file at `path`; a new path starts afresh.
Store& StoreAt(const std::string& path) {
  static Store store;
  if (store.path != path) {
    store.path = path;
    store.folder.reset();
    store.loaded = false;
    store.text.clear();
    store.readError = 0;
  }
  return store;
}

/// Opens and locks the store's folder, waiting while another run holds it.
/// Returns 0, or the errno of the call that failed with its name in `call`.
int Lock(Store& store, const std::string& directory, std::string* call) {
  *call = "open " + directory;
  FileDescriptor folder(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0) return errno;
  *call = "flock " + directory;
  while (flock(folder.Get(), LOCK_EX) != 0)
    if (errno != EINTR) return errno;
  store.folder.emplace(folder.Release());
  return 0;
}

/// Reads the file into `store` under the lock, once per run. For a save the
/// folder is created first and failing to lock is an error; for a query a
/// missing folder locks and creates nothing (there is nothing to read), and
/// a later save locks and reads again.
void Load(Store& store, bool forSave) {
  if (store.loaded) return;
  const std::string directory = store.path.substr(0, store.path.rfind('/'));
  if (forSave) MakeDirectories(store.path, directory);
  std::string call;
  const int error = store.folder ? 0 : Lock(store, directory, &call);
  if (error != 0 && forSave) throw SaveError(store.path, call, error);
  store.text = ReadWholeFile(store.path, &store.readError);
  store.loaded = store.folder.has_value();
}

/// Replaces the file by one holding `text`: a temporary file beside it,
/// flushed to disk, renamed over it, and the folder flushed so that the
/// rename lasts. Readers see the old file or the new one, never a part.
void ReplaceFile(const Store& store, const std::string& text) {
  const std::string& path = store.path;
  std::string tempPath;
  FileDescriptor temp(CreateTempFile(path, &tempPath));
  try {
    WriteAll(temp.Get(), text, tempPath);
    if (fsync(temp.Get()) != 0) throw SaveError(tempPath, "fsync", errno);
    if (temp.Reset() != 0) throw SaveError(tempPath, "close", errno);
    if (rename(tempPath.c_str(), path.c_str()) != 0) throw SaveError(path, "rename", errno);
  } catch (...) {
    unlink(tempPath.c_str());
    throw;
  }
  fsync(store.folder->Get());  // a failure here loses nothing already written
}

}  // namespace

void TakeTurn(const std::string& application) {
  Store& store = StoreAt(SettingsPath(application));
  if (store.folder) return;
  const std::string directory = store.path.substr(0, store.path.rfind('/'));
  try {
    MakeDirectories(store.path, directory);
  } catch (const RuntimeError&) {
    return;
  }
  std::string call;
  Lock(store, directory, &call);
}

std::optional<std::string> QuerySetting(const std::string& appName, const std::string& section,
                                        const std::string& key) {
  Store& store = StoreAt(SettingsPath(appName));
  Load(store, /*forSave=*/false);
  return ReadIniValue(store.text, section, key);
}

void SaveSettings(const std::string& appName, const std::string& section, const std::vector<SettingEntry>& entries) {
  Store& store = StoreAt(SettingsPath(appName));
  for (const SettingEntry& entry : entries)
    if (entry.value && entry.value->find_first_of("\r\n") != std::string::npos)
      throw RuntimeError(ErrorKind::PlatformCallFailed,
                         "save settings \"" + store.path + "\": the value of " + entry.key + " holds a line break");
  Load(store, /*forSave=*/true);
  // Writing over a file that could not be read would lose its other lines.
  if (store.readError != 0) throw SaveError(store.path, "read", store.readError);
  std::string changed = store.text;
  for (const SettingEntry& entry : entries) changed = ReplaceIniValue(changed, section, entry.key, entry.value);
  if (changed == store.text) return;
  RemoveStaleTempFiles(store.path);
  ReplaceFile(store, changed);
  store.text = changed;
}

}  // namespace platform
