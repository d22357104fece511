// The X11 display service: the device is one RandR output of the display
// that DISPLAY names; its modes are read once per run.

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/DisplayService.h"
#include "platform/linux/Handles.h"
#include "platform/linux/Layout.h"

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

std::string DisplayText() {
  const char* name = XDisplayName(/*string=*/nullptr);
  return "\"" + std::string(name ? name : "") + "\"";
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

ModeEntry Entry(const XRRModeInfo& info, bool preferred) {
  const bool interlaced = (info.modeFlags & RR_Interlace) != 0;
  const bool doubleScan = (info.modeFlags & RR_DoubleScan) != 0;
  return {info.id, static_cast<int32_t>(info.width), static_cast<int32_t>(info.height),
          RefreshRate(info.dotClock, info.hTotal, info.vTotal, doubleScan, interlaced), interlaced, preferred};
}

struct Size {
  int width;   // pixels
  int height;  // pixels
  bool operator==(const Size& other) const { return width == other.width && height == other.height; }
  bool operator!=(const Size& other) const { return !(*this == other); }
};

/// Resizes the screen to `size`, keeping its pixels per millimetre (96 per
/// inch where the server gives no physical size).
void SetScreenSize(Display* display, const Size& now, const Size& size) {
  const int screen = DefaultScreen(display);
  const int nowWidthMm = DisplayWidthMM(display, screen), nowHeightMm = DisplayHeightMM(display, screen);
  const double mmPerPixelX = nowWidthMm > 0 ? static_cast<double>(nowWidthMm) / now.width : 25.4 / 96;
  const double mmPerPixelY = nowHeightMm > 0 ? static_cast<double>(nowHeightMm) / now.height : 25.4 / 96;
  XRRSetScreenSize(display, RootWindow(display, screen), size.width, size.height,
                   static_cast<int>(size.width * mmPerPixelX + 0.5), static_cast<int>(size.height * mmPerPixelY + 0.5));
}

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
  /// Reads the device; says once on standard error why the display cannot
  /// serve, and returns false, if it cannot.
  bool Load();
  bool Apply(const ModeEntry& mode, int32_t refreshHz) override;

 private:
  void ReadModes(XRROutputInfo* output);
  std::optional<std::vector<Placed>> LayoutFor(const ModeEntry& mode, Size* screen) const;

  DisplayHandle display_;
  ScreenResourcesHandle resources_;
  RROutput output_ = None;
  CrtcInfoHandle crtc_;  // the output's CRTC as it was read
  RRCrtc crtcId_ = None;
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

bool X11RandR::Load() {
  display_.reset(XOpenDisplay(/*display_name=*/nullptr));
  Display* display = display_.get();
  const auto fail = [](const std::string& what) { return SayUnusable(what), false; };
  if (!display) return fail("cannot open display " + DisplayText());
  XSetErrorHandler(RecordXError);
  XSetIOErrorHandler(RecordIOError);
  XSetIOErrorExitHandler(display, KeepRunning, /*user_data=*/nullptr);
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor))
    return fail("display " + DisplayText() + " has no RandR extension");
  if (major < 1 || (major == 1 && minor < 2))
    return fail("display " + DisplayText() + " has RandR " + std::to_string(major) + "." + std::to_string(minor) +
                ", not 1.2 or later");
  // The current resources: no re-probe of the outputs, which can take seconds.
  resources_.reset(XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display)));
  if (!resources_) return fail("XRRGetScreenResourcesCurrent failed on display " + DisplayText());
  OutputInfoHandle output = FindDevice(display, resources_.get(), &output_);
  if (!output) return fail("display " + DisplayText() + " has no connected output with a CRTC");
  device.name.assign(output->name, output->nameLen);
  // XWayland's outputs: its modes are emulated for the X clients that ask,
  // and a change never reaches the compositor's screen.
  if (device.name.rfind("XWAYLAND", 0) == 0)
    return fail("display " + DisplayText() + " is XWayland's, which does not change the screen: run vistrel with "
                "WAYLAND_DISPLAY set to the Wayland session's display");
  crtcId_ = output->crtc;
  crtc_.reset(XRRGetCrtcInfo(display, resources_.get(), output->crtc));
  if (!crtc_) return fail("XRRGetCrtcInfo failed for output " + device.name);
  ReadModes(output.get());
  device.bitsPerPel = BitsPerPixelOfDepth(display, DefaultDepth(display, DefaultScreen(display)));
  return true;
}

/// Sets `crtc` to `mode` at `at`, keeping its rotation and outputs; true when the server took it.
bool SetCrtc(Display* display, XRRScreenResources* resources, RRCrtc crtc, const XRRCrtcInfo& info, RRMode mode,
             const Rect& at) {
  lastXError = Success;
  const Status status = XRRSetCrtcConfig(display, resources, crtc, CurrentTime, at.x, at.y, mode, info.rotation,
                                         info.outputs, info.noutput);
  return status == RRSetConfigSuccess && lastXError == Success;
}

/// Returns every active CRTC, the device's first, with where each goes when
/// the device shows `mode` (the outputs' shared layout rule), or nothing
/// when no layout keeps them together; `screen` gets the size that holds them.
std::optional<std::vector<Placed>> X11RandR::LayoutFor(const ModeEntry& mode, Size* screen) const {
  Display* display = display_.get();
  std::vector<Placed> crtcs;
  crtcs.push_back({crtcId_, crtc_.get(), nullptr, {}});
  for (int i = 0; i < resources_->ncrtc; ++i) {
    if (resources_->crtcs[i] == crtcId_) continue;
    CrtcInfoHandle other(XRRGetCrtcInfo(display, resources_.get(), resources_->crtcs[i]));
    if (other && other->mode != None) crtcs.push_back({resources_->crtcs[i], other.get(), std::move(other), {}});
  }
  std::vector<Rect> before;
  for (const Placed& crtc : crtcs)
    before.push_back({crtc.info->x, crtc.info->y, static_cast<int32_t>(crtc.info->width),
                      static_cast<int32_t>(crtc.info->height)});
  const bool turned = (crtcs[0].info->rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0;
  const std::optional<std::vector<Rect>> after =
      ResizeInLayout(before, /*device=*/0, turned ? mode.height : mode.width, turned ? mode.width : mode.height);
  if (!after) return std::nullopt;
  *screen = {0, 0};
  for (size_t i = 0; i < crtcs.size(); ++i) {
    crtcs[i].after = (*after)[i];
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

/// Puts `mode` on the device's CRTC, keeping its position, rotation and
/// outputs, moves the other CRTCs as the layout rule says, and fits the
/// screen to them, all under one server grab. A CRTC that refuses puts back
/// those already changed. Outputs that mirror the device share its CRTC,
/// and with it the mode: `refreshHz` is not needed.
bool X11RandR::Apply(const ModeEntry& mode, int32_t /*refreshHz*/) {
  Display* display = display_.get();
  const int screen = DefaultScreen(display);
  const Size now{DisplayWidth(display, screen), DisplayHeight(display, screen)};
  XGrabServer(display);
  Size target{};
  std::optional<std::vector<Placed>> crtcs = LayoutFor(mode, &target);
  bool applied = crtcs.has_value();
  if (applied) {
    const Size grown{std::max(now.width, target.width), std::max(now.height, target.height)};
    // Grow before: each CRTC must fit in the screen the moment it changes.
    if (grown != now) SetScreenSize(display, now, grown);
    size_t done = 0;
    for (; done < crtcs->size() && applied; ++done) {
      const Placed& crtc = (*crtcs)[done];
      applied = SetCrtc(display, resources_.get(), crtc.id, *crtc.info, done == 0 ? mode.id : crtc.info->mode,
                        crtc.after);
    }
    for (size_t i = 0; !applied && i < done; ++i) {
      const XRRCrtcInfo& info = *(*crtcs)[i].info;
      SetCrtc(display, resources_.get(), (*crtcs)[i].id, info, info.mode,
              {info.x, info.y, static_cast<int32_t>(info.width), static_cast<int32_t>(info.height)});
    }
    // Shrink after: only once no CRTC reaches beyond the smaller screen.
    const Size final = applied ? target : now;
    if (final != grown) SetScreenSize(display, now, final);
  }
  XUngrabServer(display);
  XSync(display, /*discard=*/False);  // errors of the resize arrive by now
  if (connectionLost) {
    SayUnusable("lost the connection to display " + DisplayText());
    return false;
  }
  if (!crtcs) SayUnusable(NoLayout(device.name, mode.width, mode.height));
  return applied && lastXError == Success;
}

}  // namespace

std::unique_ptr<DisplayService> OpenX11RandR() {
  auto service = std::make_unique<X11RandR>();
  if (!service->Load()) return nullptr;
  return service;
}

}  // namespace platform
