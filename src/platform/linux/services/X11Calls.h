#pragma once

// libX11's and libXrandr's API, for a program that loads the libraries at run
// time, on the X11 path only (a Wayland run never loads them): their headers,
// with every call that the program makes turned into a call through a
// pointer into the loaded library. Xlib's macros (DefaultScreen,
// DisplayWidth, ...) read the Display structure and call nothing. Include
// this before any other X header, whose declarations the macros would rename.

#if defined(_X11_XLIB_H_)
#error "X11Calls.h must come before any X header, whose calls it redirects"
#endif

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace platform {

/// The libX11 and libXrandr calls used, taken from the libraries when the
/// X11 service first loads them (X11RandR.cpp).
struct X11Calls {
  decltype(&::XOpenDisplay) openDisplay;
  decltype(&::XCloseDisplay) closeDisplay;
  decltype(&::XDisplayName) displayName;
  decltype(&::XFree) free;
  decltype(&::XGetErrorText) getErrorText;
  decltype(&::XGrabServer) grabServer;
  decltype(&::XInternAtom) internAtom;
  decltype(&::XUngrabServer) ungrabServer;
  decltype(&::XListPixmapFormats) listPixmapFormats;
  decltype(&::XQueryExtension) queryServerExtension;
  decltype(&::XSetErrorHandler) setErrorHandler;
  decltype(&::XSetIOErrorHandler) setIOErrorHandler;
  decltype(&::XSetIOErrorExitHandler) setIOErrorExitHandler;
  decltype(&::XSync) sync;
  decltype(&::XRRQueryExtension) queryExtension;
  decltype(&::XRRQueryVersion) queryVersion;
  decltype(&::XRRGetScreenResourcesCurrent) getScreenResourcesCurrent;
  decltype(&::XRRFreeScreenResources) freeScreenResources;
  decltype(&::XRRGetOutputPrimary) getOutputPrimary;
  decltype(&::XRRGetOutputInfo) getOutputInfo;
  decltype(&::XRRGetOutputProperty) getOutputProperty;
  decltype(&::XRRFreeOutputInfo) freeOutputInfo;
  decltype(&::XRRGetCrtcInfo) getCrtcInfo;
  decltype(&::XRRFreeCrtcInfo) freeCrtcInfo;
  decltype(&::XRRSetCrtcConfig) setCrtcConfig;
  decltype(&::XRRSetScreenSize) setScreenSize;
  decltype(&::XRRGetScreenSizeRange) getScreenSizeRange;
};

/// The loaded libraries' calls; set once, before the display is opened.
extern X11Calls x11;

}  // namespace platform

#define XOpenDisplay (platform::x11.openDisplay)
#define XCloseDisplay (platform::x11.closeDisplay)
#define XDisplayName (platform::x11.displayName)
#define XFree (platform::x11.free)
#define XGetErrorText (platform::x11.getErrorText)
#define XGrabServer (platform::x11.grabServer)
#define XInternAtom (platform::x11.internAtom)
#define XUngrabServer (platform::x11.ungrabServer)
#define XListPixmapFormats (platform::x11.listPixmapFormats)
#define XQueryExtension (platform::x11.queryServerExtension)
#define XSetErrorHandler (platform::x11.setErrorHandler)
#define XSetIOErrorHandler (platform::x11.setIOErrorHandler)
#define XSetIOErrorExitHandler (platform::x11.setIOErrorExitHandler)
#define XSync (platform::x11.sync)
#define XRRQueryExtension (platform::x11.queryExtension)
#define XRRQueryVersion (platform::x11.queryVersion)
#define XRRGetScreenResourcesCurrent (platform::x11.getScreenResourcesCurrent)
#define XRRFreeScreenResources (platform::x11.freeScreenResources)
#define XRRGetOutputPrimary (platform::x11.getOutputPrimary)
#define XRRGetOutputInfo (platform::x11.getOutputInfo)
#define XRRGetOutputProperty (platform::x11.getOutputProperty)
#define XRRFreeOutputInfo (platform::x11.freeOutputInfo)
#define XRRGetCrtcInfo (platform::x11.getCrtcInfo)
#define XRRFreeCrtcInfo (platform::x11.freeCrtcInfo)
#define XRRSetCrtcConfig (platform::x11.setCrtcConfig)
#define XRRSetScreenSize (platform::x11.setScreenSize)
#define XRRGetScreenSizeRange (platform::x11.getScreenSizeRange)
