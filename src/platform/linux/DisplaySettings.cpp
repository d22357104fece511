// The display settings calls on Linux, served by the one display service
// that the session offers: in a Wayland session the compositor's own
// service, or GNOME's on the session bus; else X11 RandR. The service is
// chosen and read once per run, on the first call; every enumeration is
// served from that copy. A service's failure (a ServiceError) is told here,
// in one line, and answered as the platform's failure; so is a change that
// the service, read again, does not show.

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "display/SavedMode.h"
#include "platform/Platform.h"
#include "platform/linux/SettingsFile.h"
#include "platform/linux/DisplayService.h"
#include "platform/linux/services/WaylandClient.h"

namespace platform {

namespace {

constexpr int32_t DM_INTERLACED = 0x00000002;  // dmDisplayFlags bit

/// Returns the Wayland session's service: the compositor's own output
/// management (KDE's, else wlroots'), found on one connection, else GNOME's
/// where the session bus has it. The compositor's own comes first: a
/// compositor may put a partial copy of GNOME's service on the bus (niri
/// does), and Mutter offers neither protocol, which one registry read shows.
/// Throws ServiceError, saying what was looked for where none is there. A
/// Wayland session never falls back to X11: XWayland's RandR shows modes
/// that the compositor does not apply.
std::unique_ptr<DisplayService> OpenWaylandService() {
  std::string lookedFor = "kde_output_management_v2 and zwlr_output_manager_v1 on ";
  try {
    std::unique_ptr<WaylandConnection> connection = WaylandConnection::Open();
    if (connection->Find("kde_output_management_v2")) return OpenKdeOutputManagement(std::move(connection));
    if (connection->Find("zwlr_output_manager_v1")) return OpenWlrOutputManagement(std::move(connection));
    lookedFor += connection->Where();
  } catch (const ServiceError& error) {
    if (!error.IsAbsent()) throw;
    lookedFor += error.what();
  }
  try {
    return OpenGnomeDisplayConfig();
  } catch (const ServiceError& error) {
    if (!error.IsAbsent()) throw;
    lookedFor += std::string(", and for ") + error.what();
  }
  throw ServiceError("this Wayland session offers no display configuration service that vistrel can use (looked for " +
                     lookedFor + ")");
}

/// The run's service, once chosen.
struct Chosen {
  bool opened = false;
  std::unique_ptr<DisplayService> service;  ///< null where the session has none
};

Chosen& TheService() {
  static Chosen chosen;
  return chosen;
}

/// Returns the run's service, opened on the first call: the Wayland
/// session's, else X11 RandR. nullptr when it has none, having said why, and
/// every call then answers as a failed platform.
DisplayService* Service() {
  Chosen& chosen = TheService();
  if (!chosen.opened) {
    chosen.opened = true;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    try {
      chosen.service = wayland && *wayland ? OpenWaylandService() : OpenX11RandR();
    } catch (const ServiceError& error) {
      ReportError(error.what());
    }
  }
  return chosen.service.get();
}

/// Makes the change and believes it only where the service, read again,
/// shows every output as the change gave it; throws ServiceError with the
/// one line that says what failed, or what is shown instead.
void Change(DisplayService& service, const ModeEntry& mode, int32_t refreshHz) {
  const std::string answered = service.Apply(mode, refreshHz);
  bool deviceRead = false;
  for (const Shown& output : service.ReadBack()) {
    const std::string wrong = NotShown(output.output, output.asked, output.now);
    if (!wrong.empty()) throw ServiceError(answered + ", but " + wrong);
    deviceRead = deviceRead || output.output == service.device.name;
  }
  if (!deviceRead) throw ServiceError(answered + ", but " + service.device.name + " could not be read back");
  for (const std::string& notice : service.notices) ReportError(notice);
}

void Fill(const DeviceState& device, const ModeEntry& mode, DEVMODEA* record) {
  std::memset(record->dmDeviceName, 0, sizeof record->dmDeviceName);
  device.name.copy(record->dmDeviceName, sizeof record->dmDeviceName - 1);  // cut to fit
  record->dmSize = sizeof(DEVMODEA);
  record->dmDriverExtra = 0;
  record->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS | DM_DISPLAYFREQUENCY;
  record->dmBitsPerPel = device.bitsPerPel;
  record->dmPelsWidth = mode.width;
  record->dmPelsHeight = mode.height;
  record->dmDisplayFlags = mode.interlaced ? DM_INTERLACED : 0;
  record->dmDisplayFrequency = WholeHz(mode.refresh);
}

/// Returns the mode of a size that no list holds, for a device that takes any
/// size: at `refreshHz`, or for 0 and 1 at none, which the compositor chooses.
ModeEntry AnySize(int32_t width, int32_t height, int32_t refreshHz) {
  const double refresh = refreshHz == 0 || refreshHz == 1 ? 0 : refreshHz;
  return {/*id=*/std::nullopt, width, height, refresh, /*interlaced=*/false, /*preferred=*/false};
}

}  // namespace

void UseDisplayService(std::unique_ptr<DisplayService> service) { TheService() = {true, std::move(service)}; }

int32_t EnumDisplaySettingsA(const char* /*deviceName*/, int32_t modeNum, DEVMODEA* record) {
  // Reading the mode in force begins a change: runs at the same time take
  // turns from before that read, so that each saves the mode it replaces.
  if (modeNum == ENUM_CURRENT_SETTINGS) TakeTurn(SavedMode::kAppName);
  const DisplayService* service = Service();
  if (!service || !record) return 0;
  const DeviceState& device = service->device;
  if (modeNum == ENUM_CURRENT_SETTINGS) {
    if (!device.hasCurrent) return 0;
    Fill(device, device.current, record);
    return 1;
  }
  if (modeNum < 0 || static_cast<size_t>(modeNum) >= device.modes.size()) return 0;
  Fill(device, device.modes[static_cast<size_t>(modeNum)], record);
  return 1;
}

int32_t ChangeDisplaySettingsA(DEVMODEA* record, uint32_t /*flags*/) {
  // No service here keeps a display store that outlives the session:
  // CDS_UPDATEREGISTRY changes the mode for the running session, like every
  // other change.
  DisplayService* service = Service();
  if (!service || !service->device.hasCurrent) return DISP_CHANGE_FAILED;
  if (!record) return DISP_CHANGE_SUCCESSFUL;  // no record asks for no change
  DeviceState& device = service->device;
  const ModeEntry& current = device.current;
  const auto asked = [record](uint32_t field, int32_t value, int32_t inForce) {
    return (record->dmFields & field) && value != 0 ? value : inForce;
  };
  const int32_t width = asked(DM_PELSWIDTH, record->dmPelsWidth, current.width);
  const int32_t height = asked(DM_PELSHEIGHT, record->dmPelsHeight, current.height);
  // Every service here has one depth for all its modes.
  if (asked(DM_BITSPERPEL, record->dmBitsPerPel, device.bitsPerPel) != device.bitsPerPel) return DISP_CHANGE_BADMODE;
  // Here 0 and 1 ask for the size's default refresh rate, as on Windows.
  const int32_t refreshHz =
      (record->dmFields & DM_DISPLAYFREQUENCY) ? record->dmDisplayFrequency : WholeHz(current.refresh);
  std::optional<size_t> index = ChooseMode(device.modes, width, height, refreshHz);
  // On a device that takes any size, 0 and 1 ask for no rate: a mode in force with a rate is not it.
  if (device.takesAnySize && (refreshHz == 0 || refreshHz == 1) && index && device.modes[*index].refresh != 0)
    index.reset();
  if (!index && !device.takesAnySize) return DISP_CHANGE_BADMODE;
  const ModeEntry mode = index ? device.modes[*index] : AnySize(width, height, refreshHz);
  // A size of its own must be one the service can say: positive, its rate in int32 millihertz.
  if (mode.width <= 0 || mode.height <= 0 || mode.refresh < 0 || mode.refresh * 1000 > INT32_MAX)
    return DISP_CHANGE_BADMODE;
  if (mode.id && mode.id == current.id) return DISP_CHANGE_SUCCESSFUL;
  try {
    Change(*service, mode, refreshHz);
  } catch (const ServiceError& error) {
    ReportError(error.what());
    return DISP_CHANGE_FAILED;
  }
  device.current = mode;
  return DISP_CHANGE_SUCCESSFUL;
}

}  // namespace platform
