#pragma once

// The program's small file-system layer: what the mode list needs and no
// more. Every failure is a RuntimeError (PlatformCallFailed) that names the
// path and the reason.

#include <cstdio>
#include <string>

namespace runtime {

/// Returns true when something other than a folder stands at `path`; a
/// symbolic link counts, whatever it points to.
bool FileExists(const std::string& path);

/// Deletes the file at `path`, even a read-only one; a symbolic link is
/// removed, never what it points to.
void ForceDeleteFile(const std::string& path);

/// A text file open for appending. Closed when it goes out of scope.
class TextStream {
 public:
  /// Opens `path` for appending, creating it if absent.
  explicit TextStream(const std::string& path);
  ~TextStream();
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;

  /// Writes `line` and a CR LF.
  void WriteLine(const std::string& line);

  /// Closes the file; reports a write that failed on the way.
  void Close();

 private:
  std::string path_;
  std::FILE* file_;
};

}  // namespace runtime
