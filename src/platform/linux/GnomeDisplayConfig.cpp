// The GNOME display service: Mutter's org.gnome.Mutter.DisplayConfig on the
// session bus. GetCurrentState gives the monitors, their modes and the
// layout; ApplyMonitorsConfig changes them, as a temporary configuration:
// it lasts for the session and no dialog asks to keep it.
//
// sd-bus is taken from libsystemd at run time, on this path only: an X11 run
// never loads libsystemd and the libraries it brings.

#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/DisplayService.h"

namespace platform {
namespace {

constexpr const char* kService = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kPath = "/org/gnome/Mutter/DisplayConfig";
constexpr const char* kLibrary = "libsystemd.so.0";
constexpr const char* kReply = "GetCurrentState reply";  // what a failed read names
constexpr uint32_t kTemporaryMethod = 1;  // ApplyMonitorsConfig: 0 verify, 1 temporary, 2 persistent
constexpr uint32_t kLogicalLayout = 1;    // layout-mode: monitor sizes are divided by the scale
constexpr uint32_t kPhysicalLayout = 2;   // layout-mode: monitor sizes in pixels

/// The sd-bus calls used here, looked up in libsystemd.
struct SdBus {
  decltype(&sd_bus_open_user) openUser = nullptr;
  decltype(&sd_bus_flush_close_unref) closeUnref = nullptr;
  decltype(&sd_bus_call_method) callMethod = nullptr;
  decltype(&sd_bus_message_new_method_call) newMethodCall = nullptr;
  decltype(&sd_bus_call) call = nullptr;
  decltype(&sd_bus_message_unref) messageUnref = nullptr;
  decltype(&sd_bus_message_enter_container) enter = nullptr;
  decltype(&sd_bus_message_exit_container) exit = nullptr;
  decltype(&sd_bus_message_read) read = nullptr;
  decltype(&sd_bus_message_skip) skip = nullptr;
  decltype(&sd_bus_message_open_container) open = nullptr;
  decltype(&sd_bus_message_close_container) close = nullptr;
  decltype(&sd_bus_message_append) append = nullptr;
  decltype(&sd_bus_error_free) errorFree = nullptr;
};

template <typename Call>
bool Find(void* library, const char* name, Call* call) {
  *call = reinterpret_cast<Call>(dlsym(library, name));
  return *call != nullptr;
}

/// Returns the sd-bus calls, or nullptr when libsystemd cannot be loaded.
/// The library stays loaded for the rest of the run.
const SdBus* LoadSdBus() {
  static SdBus sd;
  void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  const bool found = Find(library, "sd_bus_open_user", &sd.openUser) &&
                     Find(library, "sd_bus_flush_close_unref", &sd.closeUnref) &&
                     Find(library, "sd_bus_call_method", &sd.callMethod) &&
                     Find(library, "sd_bus_message_new_method_call", &sd.newMethodCall) &&
                     Find(library, "sd_bus_call", &sd.call) &&
                     Find(library, "sd_bus_message_unref", &sd.messageUnref) &&
                     Find(library, "sd_bus_message_enter_container", &sd.enter) &&
                     Find(library, "sd_bus_message_exit_container", &sd.exit) &&
                     Find(library, "sd_bus_message_read", &sd.read) &&
                     Find(library, "sd_bus_message_skip", &sd.skip) &&
                     Find(library, "sd_bus_message_open_container", &sd.open) &&
                     Find(library, "sd_bus_message_close_container", &sd.close) &&
                     Find(library, "sd_bus_message_append", &sd.append) &&
                     Find(library, "sd_bus_error_free", &sd.errorFree);
  return found ? &sd : nullptr;
}

void CloseBus(const SdBus& sd, sd_bus*& bus) { sd.closeUnref(bus); }
void FreeMessage(const SdBus& sd, sd_bus_message*& message) { sd.messageUnref(message); }
void FreeError(const SdBus& sd, sd_bus_error& error) { sd.errorFree(&error); }

/// An sd-bus object that `Release` gives back when the owner goes.
template <typename T, void (*Release)(const SdBus&, T&)>
struct SdHandle {
  explicit SdHandle(const SdBus& sd) : sd(sd) {}
  SdHandle(const SdHandle&) = delete;
  SdHandle& operator=(const SdHandle&) = delete;
  ~SdHandle() { Release(sd, value); }
  const SdBus& sd;
  T value{};  // all zero: also SD_BUS_ERROR_NULL
};
using BusHandle = SdHandle<sd_bus*, CloseBus>;              ///< flushed and closed
using MessageHandle = SdHandle<sd_bus_message*, FreeMessage>;
using ErrorHandle = SdHandle<sd_bus_error, FreeError>;

/// A failure while reading or writing a message: the call and the reason.
struct BusFailure {
  std::string what;
};

/// Returns `result` when sd-bus reports success (>= 0); throws otherwise.
int Check(int result, const char* call) {
  if (result < 0) throw BusFailure{std::string(call) + ": " + std::strerror(-result)};
  return result;
}

/// One physical monitor and its modes, in the service's order.
struct Monitor {
  std::string connector;
  std::vector<std::string> modeIds;  // the service's mode names, beside `modes`
  std::vector<ModeEntry> modes;      // id: the position in this list
  int current = -1;                  // position of the mode in force; -1: none
};

/// One logical monitor: a place in the layout shown by one or more monitors.
struct LogicalMonitor {
  int32_t x = 0, y = 0;  // layout units: pixels, or pixels divided by the scale
  double scale = 1;
  uint32_t transform = 0;  // 0 normal, 1 90°, 2 180°, 3 270°, 4-7 the same flipped
  bool primary = false;
  std::vector<std::string> connectors;
};

/// Reads a mode's properties (a{sv}), keeping the three flags it uses.
void ReadModeProperties(const SdBus& sd, sd_bus_message* m, ModeEntry* mode, bool* isCurrent) {
  Check(sd.enter(m, SD_BUS_TYPE_ARRAY, "{sv}"), kReply);
  while (Check(sd.enter(m, SD_BUS_TYPE_DICT_ENTRY, "sv"), kReply) > 0) {
    const char* key = nullptr;
    Check(sd.read(m, "s", &key), kReply);
    int flag = 0;  // sd-bus reads a D-Bus boolean into an int
    const std::string name = key;
    if (name == "is-current" || name == "is-preferred" || name == "is-interlaced") {
      Check(sd.read(m, "v", "b", &flag), kReply);
      if (name == "is-current") *isCurrent = flag != 0;
      if (name == "is-preferred") mode->preferred = flag != 0;
      if (name == "is-interlaced") mode->interlaced = flag != 0;
    } else {
      Check(sd.skip(m, "v"), kReply);
    }
    Check(sd.exit(m), kReply);
  }
  Check(sd.exit(m), kReply);
}

/// Reads one monitor: ((ssss) a(siiddada{sv}) a{sv}).
Monitor ReadMonitor(const SdBus& sd, sd_bus_message* m) {
  Monitor monitor;
  const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
  Check(sd.read(m, "(ssss)", &connector, &vendor, &product, &serial), kReply);
  monitor.connector = connector;
  Check(sd.enter(m, SD_BUS_TYPE_ARRAY, "(siiddada{sv})"), kReply);
  while (Check(sd.enter(m, SD_BUS_TYPE_STRUCT, "siiddada{sv}"), kReply) > 0) {
    const char* id = nullptr;
    int32_t width = 0, height = 0;
    double refresh = 0, preferredScale = 0;  // refresh: Hz
    Check(sd.read(m, "siidd", &id, &width, &height, &refresh, &preferredScale), kReply);
    Check(sd.skip(m, "ad"), kReply);  // the supported scales
    ModeEntry mode{monitor.modes.size(), width, height, refresh, /*interlaced=*/false, /*preferred=*/false};
    bool isCurrent = false;
    ReadModeProperties(sd, m, &mode, &isCurrent);
    if (isCurrent) monitor.current = static_cast<int>(monitor.modes.size());
    monitor.modeIds.push_back(id);
    monitor.modes.push_back(mode);
    Check(sd.exit(m), kReply);
  }
  Check(sd.exit(m), kReply);
  Check(sd.skip(m, "a{sv}"), kReply);
  return monitor;
}

/// Reads one logical monitor: (iiduba(ssss)a{sv}).
LogicalMonitor ReadLogicalMonitor(const SdBus& sd, sd_bus_message* m) {
  LogicalMonitor logical;
  int primary = 0;
  Check(sd.read(m, "iidub", &logical.x, &logical.y, &logical.scale, &logical.transform, &primary), kReply);
  logical.primary = primary != 0;
  Check(sd.enter(m, SD_BUS_TYPE_ARRAY, "(ssss)"), kReply);
  const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
  while (Check(sd.read(m, "(ssss)", &connector, &vendor, &product, &serial), kReply) > 0)
    logical.connectors.push_back(connector);
  Check(sd.exit(m), kReply);
  Check(sd.skip(m, "a{sv}"), kReply);
  return logical;
}

/// Reads the layout mode from the state's properties (a{sv}); physical
/// where the service does not say.
uint32_t ReadLayoutMode(const SdBus& sd, sd_bus_message* m) {
  uint32_t layoutMode = kPhysicalLayout;
  Check(sd.enter(m, SD_BUS_TYPE_ARRAY, "{sv}"), kReply);
  while (Check(sd.enter(m, SD_BUS_TYPE_DICT_ENTRY, "sv"), kReply) > 0) {
    const char* key = nullptr;
    Check(sd.read(m, "s", &key), kReply);
    if (std::strcmp(key, "layout-mode") == 0)
      Check(sd.read(m, "v", "u", &layoutMode), kReply);
    else
      Check(sd.skip(m, "v"), kReply);
    Check(sd.exit(m), kReply);
  }
  Check(sd.exit(m), kReply);
  return layoutMode;
}

/// The monitors and layout that Mutter holds, and the device among them.
class GnomeDisplayConfig : public DisplayService {
 public:
  explicit GnomeDisplayConfig(const SdBus& sd) : sd_(sd), bus_(sd) {}
  /// Connects to the session bus; returns false, with `absence` set, when
  /// it or the service is not there.
  bool Connect(std::string* absence);
  /// Reads the state and picks the device; throws BusFailure.
  void Load();
  bool Apply(const ModeEntry& mode) override;

 private:
  void ReadState(sd_bus_message* reply);
  void PickDevice();
  struct Extent {
    int32_t width, height;  // layout units
  };
  Extent ExtentOf(const LogicalMonitor& logical, const ModeEntry& mode) const;
  void AppendLayout(sd_bus_message* m, const ModeEntry& mode) const;
  std::vector<LogicalMonitor> MovedLayout(const ModeEntry& mode) const;
  const Monitor* MonitorOf(const std::string& connector) const;
  int LogicalOf(const std::string& connector) const;  // -1: shown by none

  const SdBus& sd_;
  BusHandle bus_;
  uint32_t serial_ = 0;  // the state's serial, which a change must quote
  uint32_t layoutMode_ = kPhysicalLayout;
  std::vector<Monitor> monitors_;
  std::vector<LogicalMonitor> logicals_;
  int device_ = -1;   // position of the device in monitors_
  int logical_ = -1;  // position of the device's logical monitor in logicals_
};

bool GnomeDisplayConfig::Connect(std::string* absence) {
  const std::string lookedFor = std::string(kService) + " on the session bus";
  const int opened = sd_.openUser(&bus_.value);
  if (opened < 0) {
    *absence = lookedFor + ", which cannot be reached: " + std::strerror(-opened);
    return false;
  }
  ErrorHandle error(sd_);
  MessageHandle reply(sd_);
  int owned = 0;
  if (sd_.callMethod(bus_.value, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "NameHasOwner", &error.value, &reply.value, "s", kService) < 0 ||
      sd_.read(reply.value, "b", &owned) < 0 || !owned) {
    *absence = lookedFor;
    return false;
  }
  return true;
}

void GnomeDisplayConfig::ReadState(sd_bus_message* reply) {
  Check(sd_.read(reply, "u", &serial_), kReply);
  Check(sd_.enter(reply, SD_BUS_TYPE_ARRAY, "((ssss)a(siiddada{sv})a{sv})"), kReply);
  while (Check(sd_.enter(reply, SD_BUS_TYPE_STRUCT, "(ssss)a(siiddada{sv})a{sv}"), kReply) > 0) {
    monitors_.push_back(ReadMonitor(sd_, reply));
    Check(sd_.exit(reply), kReply);
  }
  Check(sd_.exit(reply), kReply);
  Check(sd_.enter(reply, SD_BUS_TYPE_ARRAY, "(iiduba(ssss)a{sv})"), kReply);
  while (Check(sd_.enter(reply, SD_BUS_TYPE_STRUCT, "iiduba(ssss)a{sv}"), kReply) > 0) {
    logicals_.push_back(ReadLogicalMonitor(sd_, reply));
    Check(sd_.exit(reply), kReply);
  }
  Check(sd_.exit(reply), kReply);
  layoutMode_ = ReadLayoutMode(sd_, reply);
}

const Monitor* GnomeDisplayConfig::MonitorOf(const std::string& connector) const {
  for (const Monitor& monitor : monitors_)
    if (monitor.connector == connector) return &monitor;
  return nullptr;
}

int GnomeDisplayConfig::LogicalOf(const std::string& connector) const {
  for (size_t i = 0; i < logicals_.size(); ++i)
    for (const std::string& shown : logicals_[i].connectors)
      if (shown == connector) return static_cast<int>(i);
  return -1;
}

/// The device: the primary logical monitor's first monitor, else the first
/// monitor that shows a logical monitor.
void GnomeDisplayConfig::PickDevice() {
  for (size_t i = 0; i < logicals_.size() && device_ < 0; ++i) {
    if (!logicals_[i].primary || logicals_[i].connectors.empty()) continue;
    const Monitor* monitor = MonitorOf(logicals_[i].connectors.front());
    if (monitor) device_ = static_cast<int>(monitor - monitors_.data());
  }
  for (size_t i = 0; i < monitors_.size() && device_ < 0; ++i)
    if (LogicalOf(monitors_[i].connector) >= 0) device_ = static_cast<int>(i);
  if (device_ < 0) throw BusFailure{std::string(kService) + " shows no monitor in its layout"};
  logical_ = LogicalOf(monitors_[device_].connector);
}

void GnomeDisplayConfig::Load() {
  ErrorHandle error(sd_);
  MessageHandle reply(sd_);
  if (sd_.callMethod(bus_.value, kService, kPath, kService, "GetCurrentState", &error.value, &reply.value, "") < 0)
    throw BusFailure{std::string("GetCurrentState: ") + (error.value.message ? error.value.message : "no reply")};
  ReadState(reply.value);
  PickDevice();
  const Monitor& monitor = monitors_[device_];
  device.name = monitor.connector;
  device.modes = monitor.modes;
  device.hasCurrent = monitor.current >= 0;
  if (device.hasCurrent) device.current = monitor.modes[monitor.current];
  device.bitsPerPel = 32;  // Mutter composes every output in 32-bit pixels
}

GnomeDisplayConfig::Extent GnomeDisplayConfig::ExtentOf(const LogicalMonitor& logical, const ModeEntry& mode) const {
  const bool turned = logical.transform % 2 == 1;  // 90° or 270°, flipped or not
  double width = turned ? mode.height : mode.width, height = turned ? mode.width : mode.height;
  if (layoutMode_ == kLogicalLayout) width /= logical.scale, height /= logical.scale;
  return {static_cast<int32_t>(std::lround(width)), static_cast<int32_t>(std::lround(height))};
}

/// Returns the layout with the device showing `mode`: the monitors beyond
/// its right or bottom edge move with that edge, so that the layout stays
/// without gaps or overlaps, which Mutter refuses.
std::vector<LogicalMonitor> GnomeDisplayConfig::MovedLayout(const ModeEntry& mode) const {
  std::vector<LogicalMonitor> moved = logicals_;
  const LogicalMonitor& ours = logicals_[logical_];
  const Extent before = ExtentOf(ours, device.current), after = ExtentOf(ours, mode);
  for (size_t i = 0; i < moved.size(); ++i) {
    if (static_cast<int>(i) == logical_) continue;
    if (moved[i].x >= ours.x + before.width) moved[i].x += after.width - before.width;
    if (moved[i].y >= ours.y + before.height) moved[i].y += after.height - before.height;
  }
  return moved;
}

/// Appends the logical monitors, a(iiduba(ssa{sv})), and the empty
/// properties: every monitor keeps its mode but the device, which shows `mode`.
void GnomeDisplayConfig::AppendLayout(sd_bus_message* m, const ModeEntry& mode) const {
  const char* what = "ApplyMonitorsConfig message";
  Check(sd_.open(m, SD_BUS_TYPE_ARRAY, "(iiduba(ssa{sv}))"), what);
  for (const LogicalMonitor& logical : MovedLayout(mode)) {
    Check(sd_.open(m, SD_BUS_TYPE_STRUCT, "iiduba(ssa{sv})"), what);
    Check(sd_.append(m, "iidub", logical.x, logical.y, logical.scale, logical.transform, int{logical.primary}), what);
    Check(sd_.open(m, SD_BUS_TYPE_ARRAY, "(ssa{sv})"), what);
    for (const std::string& connector : logical.connectors) {
      const Monitor* monitor = MonitorOf(connector);
      if (!monitor || monitor->current < 0) throw BusFailure{"monitor " + connector + " shows no mode"};
      const bool isDevice = monitor == &monitors_[device_];
      const std::string& modeId = monitor->modeIds[isDevice ? mode.id : monitor->current];
      Check(sd_.append(m, "(ssa{sv})", connector.c_str(), modeId.c_str(), /*properties=*/0), what);
    }
    Check(sd_.close(m), what);
    Check(sd_.close(m), what);
  }
  Check(sd_.close(m), what);
  Check(sd_.append(m, "a{sv}", /*properties=*/0), what);
}

bool GnomeDisplayConfig::Apply(const ModeEntry& mode) {
  try {
    MessageHandle call(sd_);
    Check(sd_.newMethodCall(bus_.value, &call.value, kService, kPath, kService, "ApplyMonitorsConfig"),
          "ApplyMonitorsConfig message");
    Check(sd_.append(call.value, "uu", serial_, kTemporaryMethod), "ApplyMonitorsConfig message");
    AppendLayout(call.value, mode);
    ErrorHandle error(sd_);
    MessageHandle reply(sd_);
    if (sd_.call(bus_.value, call.value, /*usec=*/0, &error.value, &reply.value) < 0)
      throw BusFailure{std::string("ApplyMonitorsConfig: ") + (error.value.message ? error.value.message : "no reply")};
  } catch (const BusFailure& failure) {
    SayUnusable(failure.what);
    return false;
  }
  logicals_ = MovedLayout(mode);
  monitors_[device_].current = static_cast<int>(mode.id);
  return true;
}

}  // namespace

std::unique_ptr<DisplayService> OpenGnomeDisplayConfig(std::string* absence) {
  const SdBus* sd = LoadSdBus();
  if (!sd) {
    *absence = std::string(kService) + " on the session bus, through " + kLibrary + ", which cannot be loaded";
    return nullptr;
  }
  auto service = std::make_unique<GnomeDisplayConfig>(*sd);
  if (!service->Connect(absence)) return nullptr;
  try {
    service->Load();
  } catch (const BusFailure& failure) {
    SayUnusable(failure.what);
    return nullptr;
  }
  return service;
}

}  // namespace platform
