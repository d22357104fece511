// The process's side of the platform on Linux: standard error stands in for
// dialogs, /proc/self for the command line and the program's location.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/Platform.h"
#include "platform/linux/Handles.h"

namespace platform {

void ShowMessageBox(const std::string& text, const std::string& title, uint32_t /*style*/) {
  std::fprintf(stderr, "%s\n%s\n", title.c_str(), text.c_str());
  std::fflush(stderr);
}

void ReportError(const std::string& message) {
  std::fprintf(stderr, "vistrel: %s\n", message.c_str());
  std::fflush(stderr);
}

std::string CommandText() {
  // The kernel keeps the arguments as the program got them, each ended by a
  // NUL; the first is the program's name.
  FileDescriptor file(open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) return "";
  std::string all;
  char buffer[4096];
  for (ssize_t count; (count = read(file.Get(), buffer, sizeof buffer)) != 0;) {
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) break;
    all.append(buffer, static_cast<size_t>(count));
  }
  const size_t afterName = all.find('\0');
  if (afterName == std::string::npos) return "";
  std::string text = all.substr(afterName + 1);
  if (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text)
    if (c == '\0') c = ' ';
  return text;
}

namespace {

std::string ProgramDirectory() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return ".";
  path.resize(static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ListDirectory() {
  // The folder the program was installed into (VISTREL_INSTALL_BINDIR, fixed
  // when it was built) is the system's, and no place for one user's list: the
  // list of an installed program goes where the user is. A copy anywhere else
  // (a build or an unpacked folder) keeps its list beside it.
  const std::string program = ProgramDirectory();
  std::error_code error;
  const std::filesystem::path installed = std::filesystem::canonical(VISTREL_INSTALL_BINDIR, error);
  if (error || installed.string() != program) return program;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return error ? "." : current.string();
}

char PathSeparator() { return '/'; }

std::FILE* OpenForAppending(const std::string& path) {
  FileDescriptor file(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (file.Get() < 0) return nullptr;
  std::FILE* stream = fdopen(file.Get(), "a");
  if (!stream) return nullptr;  // errno from fdopen; the descriptor closes here
  file.Release();
  return stream;
}

void EndProgram(int exitStatus) {
  std::fflush(nullptr);
  std::exit(exitStatus);
}

}  // namespace platform
