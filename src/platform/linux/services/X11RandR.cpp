// The X11 display service: the device is one RandR output of the display
// that DISPLAY names; its modes are read once per run. libX11 and libXrandr
// are loaded at run time, on this path only: a Wayland run never loads them.
// Their calls go through the pointers of X11Calls.h, set when the service opens.

#include "platform/linux/services/X11Device.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/DisplayService.h"
#include "platform/linux/Layout.h"

namespace platform {
namespace {

struct Size {
  int width;   // pixels
  int height;  // pixels
  bool operator==(const Size& other) const { return width == other.width && height == other.height; }
  bool operator!=(const Size& other) const { return !(*this == other); }
};

/// Resizes the screen from `now` to `size`, keeping its pixels per
/// millimetre (96 per inch where the server gives no physical size).
/// Returns "" when the server took it, else the call and its reason.
std::string SetScreenSize(Display* display, const Size& now, const Size& size) {
  const int screen = DefaultScreen(display);
  const int nowWidthMm = DisplayWidthMM(display, screen), nowHeightMm = DisplayHeightMM(display, screen);
  const double mmPerPixelX = nowWidthMm > 0 ? static_cast<double>(nowWidthMm) / now.width : 25.4 / 96;
  const double mmPerPixelY = nowHeightMm > 0 ? static_cast<double>(nowHeightMm) / now.height : 25.4 / 96;
  ForgetXError();
  XRRSetScreenSize(display, RootWindow(display, screen), size.width, size.height,
                   static_cast<int>(size.width * mmPerPixelX + 0.5), static_cast<int>(size.height * mmPerPixelY + 0.5));
  XSync(display, /*discard=*/False);  // the request has no reply: its error arrives by now
  return !XErrorSent() ? "" : "XRRSetScreenSize: " + Reason(display, Success);
}

/// Holds the server grab while a change is made, so that no client sees it half done.
class ServerGrab {
 public:
  explicit ServerGrab(Display* display) : display_(display) { XGrabServer(display); }
  ServerGrab(const ServerGrab&) = delete;
  ServerGrab& operator=(const ServerGrab&) = delete;
  ~ServerGrab() {
    XUngrabServer(display_);
    XSync(display_, /*discard=*/False);
  }

 private:
  Display* display_;
};

/// One active CRTC: its id, its state as read, and where it goes.
struct Placed {
  RRCrtc id;
  const XRRCrtcInfo* info;
  CrtcInfoHandle owned;  // `info`, read for the change; null for the device's, read with the device
  Rect after;            // pixels, rotated as the CRTC shows its mode
};

/// The device's output and CRTC on an open display.
class X11RandR : public DisplayService {
 public:
  /// Reads the device; throws ServiceError when the display cannot serve.
  void Load();
  std::string Apply(const ModeEntry& mode, int32_t refreshHz) override;
  std::vector<Shown> ReadBack() override;

 private:
  void ReadModes(XRROutputInfo* output);
  std::vector<Placed> LayoutFor(const ModeEntry& mode, Size* screen) const;
  void Change(const ModeEntry& mode);

  DisplayHandle display_;
  ScreenResourcesHandle resources_;
  RROutput output_ = None;
  CrtcInfoHandle crtc_;  // the output's CRTC as it was read
  RRCrtc crtcId_ = None;
  ModeEntry asked_{};  // the mode the last change gave the device
};

/// Takes the output's modes, in its order, and the CRTC's mode from the
/// screen's mode table: one map lookup per mode, no request to the server.
void X11RandR::ReadModes(XRROutputInfo* output) {
  const XRRScreenResources* resources = resources_.get();
  std::unordered_map<RRMode, const XRRModeInfo*> byId;
  for (int i = 0; i < resources->nmode; ++i) byId[resources->modes[i].id] = &resources->modes[i];
  for (int i = 0; i < output->nmode; ++i) {
    const auto found = byId.find(output->modes[i]);
    if (found != byId.end()) device.modes.push_back(Entry(*found->second, /*preferred=*/i < output->npreferred));
  }
  const auto current = byId.find(crtc_->mode);
  device.hasCurrent = current != byId.end();
  if (device.hasCurrent) device.current = Entry(*current->second, /*preferred=*/false);
}

void X11RandR::Load() {
  display_.reset(XOpenDisplay(/*display_name=*/nullptr));
  Display* display = display_.get();
  if (!display) throw ServiceError("cannot open display " + DisplayText());
  RecordXErrors(display);
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor))
    throw ServiceError("display " + DisplayText() + " has no RandR extension");
  if (major < 1 || (major == 1 && minor < 2))
    throw ServiceError("display " + DisplayText() + " has RandR " + std::to_string(major) + "." +
                       std::to_string(minor) + ", not 1.2 or later");
  // The current resources: no re-probe of the outputs, which can take seconds.
  resources_.reset(XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display)));
  if (!resources_) throw ServiceError("XRRGetScreenResourcesCurrent failed on display " + DisplayText());
  OutputInfoHandle output = FindDevice(display, resources_.get(), &output_);
  if (!output) throw ServiceError("display " + DisplayText() + " has no connected output with a CRTC");
  device.name.assign(output->name, static_cast<size_t>(output->nameLen));
  // XWayland's outputs: its modes are emulated for the X clients that ask,
  // and a change never reaches the compositor's screen.
  if (IsXWayland(display, output_, device.name))
    throw ServiceError("display " + DisplayText() + " is XWayland's, which does not change the screen: run vistrel "
                       "with WAYLAND_DISPLAY set to the Wayland session's display");
  crtcId_ = output->crtc;
  crtc_.reset(XRRGetCrtcInfo(display, resources_.get(), output->crtc));
  if (!crtc_) throw ServiceError("XRRGetCrtcInfo failed for output " + device.name);
  ReadModes(output.get());
  device.bitsPerPel = BitsPerPixelOfDepth(display, DefaultDepth(display, DefaultScreen(display)));
}

/// Sets `crtc` to `mode` at `at`, keeping its rotation and outputs. Returns
/// "" when the server took it, else the call and its reason.
std::string SetCrtc(Display* display, XRRScreenResources* resources, RRCrtc crtc, const XRRCrtcInfo& info,
                    RRMode mode, const Rect& at) {
  ForgetXError();
  const Status status = XRRSetCrtcConfig(display, resources, crtc, CurrentTime, at.x, at.y, mode, info.rotation,
                                         info.outputs, info.noutput);
  return status == RRSetConfigSuccess && !XErrorSent() ? "" : "XRRSetCrtcConfig: " + Reason(display, status);
}

/// Returns where `info` was when it was read.
Rect PlaceOf(const XRRCrtcInfo& info) {
  return {info.x, info.y, static_cast<int32_t>(info.width), static_cast<int32_t>(info.height)};
}

/// Returns every active CRTC, the device's first, with where each goes when
/// the device shows `mode` (the outputs' shared layout rule); throws
/// ServiceError when no layout keeps them together. `screen` gets the size
/// that holds them.
std::vector<Placed> X11RandR::LayoutFor(const ModeEntry& mode, Size* screen) const {
  Display* display = display_.get();
  std::vector<Placed> crtcs;
  crtcs.push_back({crtcId_, crtc_.get(), nullptr, {}});
  for (int i = 0; i < resources_->ncrtc; ++i) {
    if (resources_->crtcs[i] == crtcId_) continue;
    CrtcInfoHandle other(XRRGetCrtcInfo(display, resources_.get(), resources_->crtcs[i]));
    if (other && other->mode != None) crtcs.push_back({resources_->crtcs[i], other.get(), std::move(other), {}});
  }
  std::vector<Rect> before;
  for (const Placed& crtc : crtcs) before.push_back(PlaceOf(*crtc.info));
  const bool turned = (crtcs[0].info->rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0;
  const Rect resized{0, 0, turned ? mode.height : mode.width, turned ? mode.width : mode.height};
  const std::vector<Rect> after = ResizeOrRefuse(before, /*device=*/0, resized, device.name, mode);
  *screen = {0, 0};
  for (size_t i = 0; i < crtcs.size(); ++i) {
    crtcs[i].after = after[i];
    screen->width = std::max(screen->width, crtcs[i].after.x + crtcs[i].after.width);
    screen->height = std::max(screen->height, crtcs[i].after.y + crtcs[i].after.height);
  }
  int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
  if (XRRGetScreenSizeRange(display, DefaultRootWindow(display), &minWidth, &minHeight, &maxWidth, &maxHeight)) {
    screen->width = std::max(screen->width, minWidth);
    screen->height = std::max(screen->height, minHeight);
  }
  return crtcs;
}

/// Makes the change under the caller's grab: grows the screen to hold
/// every CRTC at its old and new place, sets each CRTC, then shrinks the
/// screen to the new layout. A step the server refuses, the shrink
/// included, undoes the steps before it: the change is whole or none.
/// Throws ServiceError saying which step failed and whether it was undone.
void X11RandR::Change(const ModeEntry& mode) {
  Display* display = display_.get();
  const int screen = DefaultScreen(display);
  const Size now{DisplayWidth(display, screen), DisplayHeight(display, screen)};
  Size target{};
  const std::vector<Placed> crtcs = LayoutFor(mode, &target);
  const Size grown{std::max(now.width, target.width), std::max(now.height, target.height)};
  // Grow before: each CRTC must fit in the screen the moment it changes.
  std::string failure = grown != now ? SetScreenSize(display, now, grown) : "";
  const bool grew = grown != now && failure.empty();
  size_t set = 0;  // the CRTCs that took their new state, in order
  while (failure.empty() && set < crtcs.size()) {
    const Placed& crtc = crtcs[set];
    failure = SetCrtc(display, resources_.get(), crtc.id, *crtc.info, set == 0 ? *mode.id : crtc.info->mode, crtc.after);
    if (failure.empty()) ++set;
  }
  // Shrink after: only once no CRTC reaches beyond the smaller screen.
  if (failure.empty() && target != grown) failure = SetScreenSize(display, now, target);
  if (failure.empty()) return;
  bool undone = true;
  for (size_t i = 0; i < set; ++i) {
    const XRRCrtcInfo& info = *crtcs[i].info;
    undone = SetCrtc(display, resources_.get(), crtcs[i].id, info, info.mode, PlaceOf(info)).empty() && undone;
  }
  if (grew) undone = SetScreenSize(display, now, now).empty() && undone;
  throw ServiceError(failure + ", changing " + device.name + " to " + SizeText(mode.width, mode.height) +
                     (undone ? "; every output is as it was" : "; undoing it failed too"));
}

/// Puts `mode` on the device's CRTC, keeping its position, rotation and
/// outputs, moves the other CRTCs as the layout rule says, and fits the
/// screen to them, all under one server grab. Outputs that mirror the device
/// share its CRTC, and with it the mode: `refreshHz` is not needed.
std::string X11RandR::Apply(const ModeEntry& mode, int32_t /*refreshHz*/) {
  asked_ = mode;
  try {
    const ServerGrab grab(display_.get());
    Change(mode);
  } catch (const ServiceError&) {
    if (!ConnectionLost()) throw;
  }
  if (ConnectionLost()) throw ServiceError("lost the connection to display " + DisplayText());
  return "the X server took the change of " + device.name;
}

/// Reads the device's CRTC again, which the next change starts from. Its
/// mirrors share the CRTC, and with it the mode.
std::vector<Shown> X11RandR::ReadBack() {
  CrtcInfoHandle now(XRRGetCrtcInfo(display_.get(), resources_.get(), crtcId_));
  if (ConnectionLost()) throw ServiceError("lost the connection to display " + DisplayText());
  if (!now) throw ServiceError("XRRGetCrtcInfo failed for output " + device.name);
  std::optional<ModeEntry> shown;
  for (int i = 0; i < resources_->nmode; ++i)
    if (resources_->modes[i].id == now->mode) shown = Entry(resources_->modes[i], /*preferred=*/false);
  crtc_ = std::move(now);
  return {{device.name, asked_, shown}};
}

}  // namespace

std::unique_ptr<DisplayService> OpenX11RandR() {
  try {
    LoadX11();
  } catch (const ServiceError& error) {
    throw ServiceError(std::string("cannot open an X display: ") + error.what());
  }
  auto service = std::make_unique<X11RandR>();
  service->Load();
  return service;
}

}  // namespace platform
