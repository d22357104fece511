#include "platform/linux/services/X11Device.h"

#include <X11/Xatom.h>

namespace platform {
namespace {

// X reports errors through a process-wide handler; the default one ends the
// program. This one records the first error code for the call in progress.
int lastXError = Success;

int RecordXError(Display*, XErrorEvent* event) {
  if (lastXError == Success) lastXError = event->error_code;
  return 0;
}

// A connection that the server closes is an I/O error, whose default handler
// ends the program in the middle of a change, before the saved mode could be
// put back. These record it instead; every later request then fails at once.
bool connectionLost = false;

int RecordIOError(Display*) {
  connectionLost = true;
  return 0;
}

void KeepRunning(Display*, void* /*userData*/) { connectionLost = true; }

}  // namespace

void RecordXErrors(Display* display) {
  XSetErrorHandler(RecordXError);
  // An older libX11 (before 1.7) has no exit handler: there a lost
  // connection ends the run as it ends every client, with libX11's own line.
  if (XSetIOErrorExitHandler) {
    XSetIOErrorHandler(RecordIOError);
    XSetIOErrorExitHandler(display, KeepRunning, /*user_data=*/nullptr);
  }
}

void ForgetXError() { lastXError = Success; }

bool XErrorSent() { return lastXError != Success; }

bool ConnectionLost() { return connectionLost; }

/// Returns what the server said of the call in progress: the X error it
/// sent, else the call's own `status`.
std::string Reason(Display* display, Status status) {
  if (lastXError == Success) return "status " + std::to_string(status);
  char text[160] = "";
  XGetErrorText(display, lastXError, text, sizeof text);
  return text;
}

std::string DisplayText() {
  const char* name = XDisplayName(/*string=*/nullptr);
  std::string text = "\"";  // built in steps: GCC 12 warns, falsely, of "\"" + std::string(...) here (-Wrestrict)
  text += name ? name : "";
  return text += '"';
}

int16_t BitsPerPixelOfDepth(Display* display, int depth) {
  int count = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
  int bits = depth == 24 ? 32 : depth;  // what servers use when no format says otherwise
  for (int i = 0; i < count; ++i)
    if (formats[i].depth == depth) bits = formats[i].bits_per_pixel;
  if (formats) XFree(formats);
  return static_cast<int16_t>(bits);
}

/// Returns the primary output, else the first connected output with a CRTC.
OutputInfoHandle FindDevice(Display* display, XRRScreenResources* resources, RROutput* output) {
  const RROutput primary = XRRGetOutputPrimary(display, DefaultRootWindow(display));
  if (primary != None) {
    OutputInfoHandle info(XRRGetOutputInfo(display, resources, primary));
    if (info && info->crtc != None) {
      *output = primary;
      return info;
    }
  }
  for (int i = 0; i < resources->noutput; ++i) {
    OutputInfoHandle info(XRRGetOutputInfo(display, resources, resources->outputs[i]));
    if (info && info->connection == RR_Connected && info->crtc != None) {
      *output = resources->outputs[i];
      return info;
    }
  }
  return nullptr;
}

namespace {

/// Whether `output` carries the output property "RANDR Emulation" set, as
/// XWayland (22.1.2 and later) marks each of its outputs.
bool IsEmulated(Display* display, RROutput output) {
  const Atom property = XInternAtom(display, "RANDR Emulation", /*only_if_exists=*/True);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, left = 0;
  unsigned char* value = nullptr;
  if (property == None || XRRGetOutputProperty(display, output, property, /*offset=*/0, /*length=*/1,
                                               /*_delete=*/False, /*pending=*/False, AnyPropertyType, &type,
                                               &format, &count, &left, &value) != Success)
    return false;
  // Xlib hands a 32-bit value over as a long.
  const bool set = value && type == XA_INTEGER && format == 32 && count == 1 && *reinterpret_cast<long*>(value) != 0;
  if (value) XFree(value);
  return set;
}

}  // namespace

/// Whether `output`, named `name`, is XWayland's: its server offers the
/// XWAYLAND extension (23.1 and later) or the output is emulated. Only
/// older ones are known by the name alone: XWAYLAND0, 1, ..., where newer
/// ones take the compositor's (DP-1, headless).
bool IsXWayland(Display* display, RROutput output, const std::string& name) {
  int opcode = 0, firstEvent = 0, firstError = 0;
  return XQueryExtension(display, "XWAYLAND", &opcode, &firstEvent, &firstError) || IsEmulated(display, output) ||
         name.rfind("XWAYLAND", 0) == 0;
}

ModeEntry Entry(const XRRModeInfo& info, bool preferred) {
  const bool interlaced = (info.modeFlags & RR_Interlace) != 0;
  const bool doubleScan = (info.modeFlags & RR_DoubleScan) != 0;
  return {info.id, static_cast<int32_t>(info.width), static_cast<int32_t>(info.height),
          RefreshRate(info.dotClock, info.hTotal, info.vTotal, doubleScan, interlaced), interlaced, preferred};
}

}  // namespace platform
