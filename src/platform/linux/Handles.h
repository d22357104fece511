#pragma once

// Owners of the system handles that the Linux layer holds: each one is
// released in its destructor, so no early return can leak one.

#include <unistd.h>

#include <memory>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

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

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
struct ScreenResourcesFreer {
  void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
};
struct OutputInfoFreer {
  void operator()(XRROutputInfo* info) const { XRRFreeOutputInfo(info); }
};
struct CrtcInfoFreer {
  void operator()(XRRCrtcInfo* info) const { XRRFreeCrtcInfo(info); }
};

/// A connection to an X server, closed when the owner goes.
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;
/// The screen's outputs, CRTCs and modes as one reply of the server.
using ScreenResourcesHandle = std::unique_ptr<XRRScreenResources, ScreenResourcesFreer>;
/// One output's state and mode list.
using OutputInfoHandle = std::unique_ptr<XRROutputInfo, OutputInfoFreer>;
/// One CRTC's state: mode, position, rotation, outputs.
using CrtcInfoHandle = std::unique_ptr<XRRCrtcInfo, CrtcInfoFreer>;

}  // namespace platform
