#include "runtime/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/Platform.h"
#include "runtime/RuntimeError.h"

namespace fs = std::filesystem;

namespace runtime {
namespace {

RuntimeError FileError(const std::string& call, const std::string& path, const std::string& reason) {
  return RuntimeError(ErrorKind::PlatformCallFailed, call + " \"" + path + "\": " + reason);
}

}  // namespace

bool FileExists(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(fs::path(path), error);
  return fs::exists(status) && !fs::is_directory(status);
}

void ForceDeleteFile(const std::string& path) {
  const fs::path file = fs::path(path);
  std::error_code error;
  // Where the platform honours it, a read-only file must be made writable first.
  if (!fs::is_symlink(fs::symlink_status(file, error)))
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, error);
  if (!fs::remove(file, error) && error) throw FileError("delete", path, error.message());
}

TextStream::TextStream(const std::string& path) : path_(path), file_(platform::OpenForAppending(path)) {
  if (!file_) throw FileError("open for appending", path, std::strerror(errno));
  // Lines go out whole, one write each: a buffer would cost a look at the
  // file per open and gain nothing for a file that is closed after one line.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

TextStream::~TextStream() {
  if (file_) std::fclose(file_);
}

void TextStream::WriteLine(const std::string& line) {
  const std::string text = line + "\r\n";
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size())
    throw FileError("write", path_, std::strerror(errno));
}

void TextStream::Close() {
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) throw FileError("close", path_, std::strerror(errno));
}

}  // namespace runtime
