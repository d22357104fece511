#pragma once

// Owners of the system handles that the Linux layer holds: each one is
// released in its destructor, so no early return can leak one.

#include <unistd.h>

namespace platform {

/// A file descriptor, closed when the owner goes; -1 when it holds none.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }

  /// Returns the descriptor, still owned.
  int Get() const { return fd_; }
  /// Gives up ownership and returns the descriptor.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  /// Closes the descriptor now; returns close's result (0 when none was held).
  int Reset() {
    return fd_ < 0 ? 0 : ::close(Release());
  }

 private:
  int fd_;
};

}  // namespace platform
