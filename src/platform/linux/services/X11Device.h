#pragma once

// The X display as the X11 service reads it: connections and replies that
// free themselves, the errors the server sends recorded rather than ending
// the program, and the device among the outputs.

#include "platform/linux/services/X11Calls.h"

#include <cstdint>
#include <memory>
#include <string>

#include "platform/linux/Modes.h"

namespace platform {

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

/// Records the X errors of `display`'s calls, and the loss of its
/// connection, instead of ending the program: the default handlers end it in
/// the middle of a change, before the saved mode could be put back.
void RecordXErrors(Display* display);

/// Forgets the X error recorded before the call that follows.
void ForgetXError();

/// Whether the server sent an X error since ForgetXError.
bool XErrorSent();

/// Whether the server closed the connection; every later request then fails at once.
bool ConnectionLost();

/// Returns what the server said of the call in progress: the X error it
/// sent, else the call's own `status`.
std::string Reason(Display* display, Status status);

/// Returns the display's name as lines give it, quoted.
std::string DisplayText();

/// Returns the bits per pixel of the screen's `depth`.
int16_t BitsPerPixelOfDepth(Display* display, int depth);

/// Returns the primary output, else the first connected output with a CRTC,
/// and sets `output` to it; null where there is none.
OutputInfoHandle FindDevice(Display* display, XRRScreenResources* resources, RROutput* output);

/// Whether `output`, named `name`, is XWayland's: its server offers the
/// XWAYLAND extension (23.1 and later) or the output is emulated. Only
/// older ones are known by the name alone: XWAYLAND0, 1, ..., where newer
/// ones take the compositor's (DP-1, headless).
bool IsXWayland(Display* display, RROutput output, const std::string& name);

/// Returns `info` as the mode list holds it.
ModeEntry Entry(const XRRModeInfo& info, bool preferred);

}  // namespace platform
