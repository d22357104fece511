#pragma once

// libX11's and libXrandr's calls, for a program that loads the libraries at
// run time, on the X11 path only (a Wayland run never loads them): one list
// (Library.h says how it reads), each call a pointer of namespace platform
// named as the function, so that the X11 service calls it by its own name.
// Xlib's macros (DefaultScreen, DisplayWidth, ...) read the Display
// structure and call nothing.

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/linux/services/Library.h"

#define VISTREL_X11_CALLS(LIBRARY, CALL, OPTIONAL)                 \
  LIBRARY("libX11.so.6")                                           \
  CALL(XOpenDisplay)                                               \
  CALL(XCloseDisplay)                                              \
  CALL(XDisplayName)                                               \
  CALL(XFree)                                                      \
  CALL(XGetErrorText)                                              \
  CALL(XGrabServer)                                                \
  CALL(XUngrabServer)                                              \
  CALL(XInternAtom)                                                \
  CALL(XListPixmapFormats)                                         \
  CALL(XQueryExtension)                                            \
  CALL(XSetErrorHandler)                                           \
  CALL(XSetIOErrorHandler)                                         \
  OPTIONAL(XSetIOErrorExitHandler) /* libX11 1.7 and later */      \
  CALL(XSync)                                                      \
  LIBRARY("libXrandr.so.2")                                        \
  CALL(XRRQueryExtension)                                          \
  CALL(XRRQueryVersion)                                            \
  CALL(XRRGetScreenResourcesCurrent)                               \
  CALL(XRRFreeScreenResources)                                     \
  CALL(XRRGetOutputPrimary)                                        \
  CALL(XRRGetOutputInfo)                                           \
  CALL(XRRFreeOutputInfo)                                          \
  CALL(XRRGetOutputProperty)                                       \
  CALL(XRRGetCrtcInfo)                                             \
  CALL(XRRFreeCrtcInfo)                                            \
  CALL(XRRSetCrtcConfig)                                           \
  CALL(XRRSetScreenSize)                                           \
  CALL(XRRGetScreenSizeRange)

namespace platform {

VISTREL_POINTERS(VISTREL_X11_CALLS)

/// Loads libX11 and libXrandr and sets the pointers; throws ServiceError
/// naming the library, or the call, that is missing.
inline void LoadX11() { VISTREL_LOAD(VISTREL_X11_CALLS); }

}  // namespace platform
