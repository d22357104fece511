// The display settings service on X11: the device is one RandR output of the
// display that DISPLAY names; its modes are read once per run and every
// enumeration is served from that copy.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/Handles.h"
#include "platform/linux/Modes.h"

namespace platform {
namespace {

constexpr int32_t DM_INTERLACED = 0x00000002;  // dmDisplayFlags bit

/// The device and its modes, as read once from the server.
struct DisplayState {
  DisplayHandle display;
  ScreenResourcesHandle resources;
  RROutput output = None;
  std::string outputName;
  CrtcInfoHandle crtc;            // the output's CRTC as it was read
  RRCrtc crtcId = None;
  std::vector<ModeEntry> modes;   // the output's list, in the server's order
  ModeEntry current{};            // the CRTC's mode; follows our changes
  bool hasCurrent = false;        // false: the CRTC shows no mode the server lists
  int16_t bitsPerPel = 0;         // of the root window's depth
  bool usable = false;            // false: every call answers as a failed platform
};

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

void SayUnusable(const std::string& what) {
  std::fprintf(stderr, "vistrel: %s\n", what.c_str());
  std::fflush(stderr);
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

/// Takes the output's modes, in its order, and the CRTC's mode from the
/// screen's mode table: one map lookup per mode, no request to the server.
void ReadModes(DisplayState& state, XRROutputInfo* output) {
  const XRRScreenResources* resources = state.resources.get();
  std::unordered_map<RRMode, const XRRModeInfo*> byId;
  for (int i = 0; i < resources->nmode; ++i) byId[resources->modes[i].id] = &resources->modes[i];
  for (int i = 0; i < output->nmode; ++i) {
    const auto found = byId.find(output->modes[i]);
    if (found != byId.end()) state.modes.push_back(Entry(*found->second, /*preferred=*/i < output->npreferred));
  }
  const auto current = byId.find(state.crtc->mode);
  state.hasCurrent = current != byId.end();
  if (state.hasCurrent) state.current = Entry(*current->second, /*preferred=*/false);
}

/// Opens the display and reads the device's state; says once on standard
/// error why the display cannot serve, if it cannot.
void Load(DisplayState& state) {
  state.display.reset(XOpenDisplay(/*display_name=*/nullptr));
  Display* display = state.display.get();
  if (!display) return SayUnusable("cannot open display " + DisplayText());
  XSetErrorHandler(RecordXError);
  XSetIOErrorHandler(RecordIOError);
  XSetIOErrorExitHandler(display, KeepRunning, /*user_data=*/nullptr);
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor))
    return SayUnusable("display " + DisplayText() + " has no RandR extension");
  if (major < 1 || (major == 1 && minor < 2))
    return SayUnusable("display " + DisplayText() + " has RandR " + std::to_string(major) + "." +
                       std::to_string(minor) + ", not 1.2 or later");
  // The current resources: no re-probe of the outputs, which can take seconds.
  state.resources.reset(XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display)));
  if (!state.resources) return SayUnusable("XRRGetScreenResourcesCurrent failed on display " + DisplayText());
  OutputInfoHandle output = FindDevice(display, state.resources.get(), &state.output);
  if (!output) return SayUnusable("display " + DisplayText() + " has no connected output with a CRTC");
  state.outputName.assign(output->name, output->nameLen);
  state.crtcId = output->crtc;
  state.crtc.reset(XRRGetCrtcInfo(display, state.resources.get(), output->crtc));
  if (!state.crtc) return SayUnusable("XRRGetCrtcInfo failed for output " + state.outputName);
  ReadModes(state, output.get());
  state.bitsPerPel = BitsPerPixelOfDepth(display, DefaultDepth(display, DefaultScreen(display)));
  state.usable = true;
}

DisplayState& State() {
  static DisplayState state;
  static bool loaded = false;
  if (!loaded) {
    loaded = true;
    Load(state);
  }
  return state;
}

void Fill(const DisplayState& state, const ModeEntry& mode, DEVMODEA* record) {
  std::memset(record->dmDeviceName, 0, sizeof record->dmDeviceName);
  state.outputName.copy(record->dmDeviceName, sizeof record->dmDeviceName - 1);  // cut to fit
  record->dmSize = sizeof(DEVMODEA);
  record->dmDriverExtra = 0;
  record->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS | DM_DISPLAYFREQUENCY;
  record->dmBitsPerPel = state.bitsPerPel;
  record->dmPelsWidth = mode.width;
  record->dmPelsHeight = mode.height;
  record->dmDisplayFlags = mode.interlaced ? DM_INTERLACED : 0;
  record->dmDisplayFrequency = WholeHz(mode.refresh);
}

struct Size {
  int width;   // pixels
  int height;  // pixels
  bool operator==(const Size& other) const { return width == other.width && height == other.height; }
  bool operator!=(const Size& other) const { return !(*this == other); }
};

/// Returns the smallest screen that holds every active CRTC, with the
/// device's CRTC showing `mode` at its position and rotation.
Size ScreenSizeFor(const DisplayState& state, const ModeEntry& mode) {
  Display* display = state.display.get();
  const XRRCrtcInfo& ours = *state.crtc;
  const bool turned = (ours.rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0;
  Size size{static_cast<int>(ours.x) + (turned ? mode.height : mode.width),
            static_cast<int>(ours.y) + (turned ? mode.width : mode.height)};
  for (int i = 0; i < state.resources->ncrtc; ++i) {
    if (state.resources->crtcs[i] == state.crtcId) continue;
    CrtcInfoHandle other(XRRGetCrtcInfo(display, state.resources.get(), state.resources->crtcs[i]));
    if (!other || other->mode == None) continue;
    size.width = std::max(size.width, other->x + static_cast<int>(other->width));
    size.height = std::max(size.height, other->y + static_cast<int>(other->height));
  }
  int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
  if (XRRGetScreenSizeRange(display, DefaultRootWindow(display), &minWidth, &minHeight, &maxWidth, &maxHeight)) {
    size.width = std::max(size.width, minWidth);
    size.height = std::max(size.height, minHeight);
  }
  return size;
}

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

/// Puts `mode` on the device's CRTC, keeping its position, rotation and
/// outputs, and fits the screen to the CRTCs, all under one server grab.
/// Returns false when the server refused or reported an error.
bool Apply(const DisplayState& state, const ModeEntry& mode) {
  Display* display = state.display.get();
  const int screen = DefaultScreen(display);
  const Size now{DisplayWidth(display, screen), DisplayHeight(display, screen)};
  XGrabServer(display);
  lastXError = Success;
  const Size target = ScreenSizeFor(state, mode);
  const Size grown{std::max(now.width, target.width), std::max(now.height, target.height)};
  // Grow before: the CRTC must fit in the screen the moment it takes the mode.
  if (grown != now) SetScreenSize(display, now, grown);
  const XRRCrtcInfo& crtc = *state.crtc;
  const Status status = XRRSetCrtcConfig(display, state.resources.get(), state.crtcId, CurrentTime, crtc.x, crtc.y,
                                         mode.id, crtc.rotation, crtc.outputs, crtc.noutput);
  const bool applied = status == RRSetConfigSuccess && lastXError == Success;
  // Shrink after: only once no CRTC reaches beyond the smaller screen.
  const Size final = applied ? target : now;
  if (final != grown) SetScreenSize(display, now, final);
  XUngrabServer(display);
  XSync(display, /*discard=*/False);  // errors of the resize arrive by now
  if (connectionLost) {
    SayUnusable("lost the connection to display " + DisplayText());
    return false;
  }
  return applied && lastXError == Success;
}

}  // namespace

int32_t EnumDisplaySettingsA(const char* /*deviceName*/, int32_t modeNum, DEVMODEA* record) {
  const DisplayState& state = State();
  if (!state.usable || !record) return 0;
  if (modeNum == ENUM_CURRENT_SETTINGS) {
    if (!state.hasCurrent) return 0;
    Fill(state, state.current, record);
    return 1;
  }
  if (modeNum < 0 || modeNum >= static_cast<int32_t>(state.modes.size())) return 0;
  Fill(state, state.modes[modeNum], record);
  return 1;
}

int32_t ChangeDisplaySettingsA(DEVMODEA* record, uint32_t /*flags*/) {
  // X keeps no display store of its own: CDS_UPDATEREGISTRY changes the mode
  // of the running session, like every other change.
  DisplayState& state = State();
  if (!state.usable || !state.hasCurrent) return DISP_CHANGE_FAILED;
  if (!record) return DISP_CHANGE_SUCCESSFUL;  // no record asks for no change
  const ModeEntry& current = state.current;
  const auto asked = [record](uint32_t field, int32_t value, int32_t inForce) {
    return (record->dmFields & field) && value != 0 ? value : inForce;
  };
  const int32_t width = asked(DM_PELSWIDTH, record->dmPelsWidth, current.width);
  const int32_t height = asked(DM_PELSHEIGHT, record->dmPelsHeight, current.height);
  // The depth of a running X screen is fixed.
  if (asked(DM_BITSPERPEL, record->dmBitsPerPel, state.bitsPerPel) != state.bitsPerPel) return DISP_CHANGE_BADMODE;
  // Here 0 and 1 ask for the size's default refresh rate, as on Windows.
  const int32_t refreshHz =
      (record->dmFields & DM_DISPLAYFREQUENCY) ? record->dmDisplayFrequency : WholeHz(current.refresh);
  const int index = ChooseMode(state.modes, width, height, refreshHz);
  if (index < 0) return DISP_CHANGE_BADMODE;
  const ModeEntry& mode = state.modes[index];
  if (mode.id == current.id) return DISP_CHANGE_SUCCESSFUL;
  if (!Apply(state, mode)) return DISP_CHANGE_FAILED;
  state.current = mode;
  return DISP_CHANGE_SUCCESSFUL;
}

}  // namespace platform
