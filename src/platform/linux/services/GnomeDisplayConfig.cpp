// The GNOME display service: Mutter's org.gnome.Mutter.DisplayConfig on the
// session bus. GetCurrentState gives the monitors, their modes and the
// layout; ApplyMonitorsConfig changes them, as a temporary configuration:
// no dialog asks to keep it, and it lasts until Mutter puts its stored
// configuration back (a monitor connected or removed, the lid, a resume).
//
// sd-bus is taken from libsystemd at run time, on this path only: an X11 run
// never loads libsystemd and the libraries it brings.

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/DisplayService.h"
#include "platform/linux/services/GnomeChange.h"
#include "platform/linux/services/SdBusCalls.h"

namespace platform {
namespace {

constexpr const char* kService = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kPath = "/org/gnome/Mutter/DisplayConfig";
constexpr const char* kReply = "GetCurrentState reply";  // what a failed read names
constexpr uint32_t kTemporaryMethod = 1;  // ApplyMonitorsConfig: 0 verify, 1 temporary, 2 persistent
constexpr uint64_t kCallBound = 5'000'000;     // µs: the longest any call waits
constexpr uint64_t kSettleBound = 20'000'000;  // µs: the read after an apply that outlasted kCallBound

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

/// Returns `result` when sd-bus reports success (>= 0); throws ServiceError
/// with the call and the reason otherwise.
int Check(int result, const char* call) {
  if (result < 0) throw ServiceError(std::string(call) + ": " + std::strerror(-result));
  return result;
}

/// Reads a property list (a{sv}), handing each key to `take`, which reads
/// its value and returns true, or returns false to have it skipped.
template <typename Take>
void ReadProperties(const SdBus& sd, sd_bus_message* m, Take take) {
  Check(sd.enter(m, SD_BUS_TYPE_ARRAY, "{sv}"), kReply);
  while (Check(sd.enter(m, SD_BUS_TYPE_DICT_ENTRY, "sv"), kReply) > 0) {
    const char* key = nullptr;
    Check(sd.read(m, "s", &key), kReply);
    if (!take(std::string(key))) Check(sd.skip(m, "v"), kReply);
    Check(sd.exit(m), kReply);
  }
  Check(sd.exit(m), kReply);
}

/// Reads a property's value, a variant of `type`: "b" into an int, "u" into
/// a uint32_t, "s" into a const char*.
template <typename T>
T ReadVariant(const SdBus& sd, sd_bus_message* m, const char* type) {
  T value{};
  Check(sd.read(m, "v", type, &value), kReply);
  return value;
}

/// Reads a mode's properties: its flags and its kind.
void ReadModeProperties(const SdBus& sd, sd_bus_message* m, GnomeMode* mode, bool* isCurrent) {
  ReadProperties(sd, m, [&](const std::string& key) {
    if (key == "refresh-rate-mode") {
      mode->variableRate = std::strcmp(ReadVariant<const char*>(sd, m, "s"), "variable") == 0;
      return true;
    }
    bool* flag = key == "is-current"      ? isCurrent
                 : key == "is-preferred"  ? &mode->entry.preferred
                 : key == "is-interlaced" ? &mode->entry.interlaced
                                          : nullptr;
    if (flag) *flag = ReadVariant<int>(sd, m, "b") != 0;  // sd-bus reads a D-Bus boolean into an int
    return flag != nullptr;
  });
}

/// Reads a monitor's properties, keeping those a change must repeat.
void ReadMonitorProperties(const SdBus& sd, sd_bus_message* m, GnomeMonitor* monitor) {
  ReadProperties(sd, m, [&](const std::string& key) {
    if (key == "is-underscanning") monitor->underscanning = ReadVariant<int>(sd, m, "b") != 0;
    if (key == "color-mode") monitor->colorMode = ReadVariant<uint32_t>(sd, m, "u");
    if (key == "rgb-range") monitor->rgbRange = ReadVariant<uint32_t>(sd, m, "u");
    if (key == "is-for-lease") monitor->forLease = ReadVariant<int>(sd, m, "b") != 0;
    return key == "is-underscanning" || key == "color-mode" || key == "rgb-range" || key == "is-for-lease";
  });
}

/// Reads one monitor: ((ssss) a(siiddada{sv}) a{sv}).
GnomeMonitor ReadMonitor(const SdBus& sd, sd_bus_message* m) {
  GnomeMonitor monitor;
  const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
  Check(sd.read(m, "(ssss)", &connector, &vendor, &product, &serial), kReply);
  monitor.connector = connector;
  monitor.vendor = vendor;
  monitor.product = product;
  monitor.serial = serial;
  Check(sd.enter(m, SD_BUS_TYPE_ARRAY, "(siiddada{sv})"), kReply);
  while (Check(sd.enter(m, SD_BUS_TYPE_STRUCT, "siiddada{sv}"), kReply) > 0) {
    const char* id = nullptr;
    GnomeMode mode;
    mode.entry = {monitor.modes.size(), 0, 0, 0, /*interlaced=*/false, /*preferred=*/false};
    Check(sd.read(m, "siidd", &id, &mode.entry.width, &mode.entry.height, &mode.entry.refresh, &mode.preferredScale),
          kReply);
    mode.id = id;
    Check(sd.enter(m, SD_BUS_TYPE_ARRAY, "d"), kReply);
    for (double scale = 0; Check(sd.read(m, "d", &scale), kReply) > 0;) mode.scales.push_back(scale);
    Check(sd.exit(m), kReply);
    bool isCurrent = false;
    ReadModeProperties(sd, m, &mode, &isCurrent);
    if (isCurrent) monitor.current = static_cast<int>(monitor.modes.size());
    monitor.modes.push_back(mode);
    Check(sd.exit(m), kReply);
  }
  Check(sd.exit(m), kReply);
  ReadMonitorProperties(sd, m, &monitor);
  return monitor;
}

/// Reads one logical monitor: (iiduba(ssss)a{sv}).
GnomeLogical ReadLogicalMonitor(const SdBus& sd, sd_bus_message* m) {
  GnomeLogical logical;
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

/// Reads the state's properties: the layout mode (physical where the
/// service does not say) and whether it can be changed.
void ReadLayoutMode(const SdBus& sd, sd_bus_message* m, GnomeState* state) {
  ReadProperties(sd, m, [&](const std::string& key) {
    if (key == "layout-mode") state->layoutMode = ReadVariant<uint32_t>(sd, m, "u");
    if (key == "supports-changing-layout-mode") state->layoutModeChangeable = ReadVariant<int>(sd, m, "b") != 0;
    return key == "layout-mode" || key == "supports-changing-layout-mode";
  });
}

/// The monitors and layout that Mutter holds, and the device among them.
class GnomeDisplayConfig : public DisplayService {
 public:
  explicit GnomeDisplayConfig(const SdBus& sd) : sd_(sd), bus_(sd) {}
  /// Connects to the session bus; throws ServiceError, marked absent, when
  /// it or the service is not there.
  void Connect();
  /// Reads the state and picks the device; throws ServiceError.
  void Load();
  std::string Apply(const ModeEntry& mode, int32_t refreshHz) override;
  std::vector<Shown> ReadBack() override;

 private:
  void Fetch(uint64_t usec = 0);  // GetCurrentState into state_, waiting `usec` at most (0: kCallBound)
  void ReadState(sd_bus_message* reply);
  void PickDevice();
  void AppendMonitors(sd_bus_message* m, const GnomeState& state, const GnomeLogical& logical) const;
  void AppendState(sd_bus_message* m, const GnomeState& state) const;
  void AppendForLease(sd_bus_message* m, const GnomeState& state) const;
  int LogicalOf(const std::string& connector) const;  // -1: shown by none

  const SdBus& sd_;
  BusHandle bus_;
  uint32_t serial_ = 0;  // the state's serial, which a change must quote
  GnomeState state_;
  GnomeState planned_;  // what the last change sent
  bool slow_ = false;   // the last change outlasted the bound of its call
};

void GnomeDisplayConfig::Connect() {
  const std::string lookedFor = std::string(kService) + " on the session bus";
  const int opened = sd_.openUser(&bus_.value);
  if (opened < 0) throw ServiceError::Absent(lookedFor + ", which cannot be reached: " + std::strerror(-opened));
  sd_.setTimeout(bus_.value, kCallBound);  // every call, the connection's own included
  ErrorHandle error(sd_);
  MessageHandle reply(sd_);
  int owned = 0;
  if (sd_.callMethod(bus_.value, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "NameHasOwner", &error.value, &reply.value, "s", kService) < 0 ||
      sd_.read(reply.value, "b", &owned) < 0 || !owned)
    throw ServiceError::Absent(lookedFor);
}

void GnomeDisplayConfig::ReadState(sd_bus_message* reply) {
  Check(sd_.read(reply, "u", &serial_), kReply);
  Check(sd_.enter(reply, SD_BUS_TYPE_ARRAY, "((ssss)a(siiddada{sv})a{sv})"), kReply);
  while (Check(sd_.enter(reply, SD_BUS_TYPE_STRUCT, "(ssss)a(siiddada{sv})a{sv}"), kReply) > 0) {
    state_.monitors.push_back(ReadMonitor(sd_, reply));
    Check(sd_.exit(reply), kReply);
  }
  Check(sd_.exit(reply), kReply);
  Check(sd_.enter(reply, SD_BUS_TYPE_ARRAY, "(iiduba(ssss)a{sv})"), kReply);
  while (Check(sd_.enter(reply, SD_BUS_TYPE_STRUCT, "iiduba(ssss)a{sv}"), kReply) > 0) {
    state_.logicals.push_back(ReadLogicalMonitor(sd_, reply));
    Check(sd_.exit(reply), kReply);
  }
  Check(sd_.exit(reply), kReply);
  ReadLayoutMode(sd_, reply, &state_);
}

int GnomeDisplayConfig::LogicalOf(const std::string& connector) const {
  for (size_t i = 0; i < state_.logicals.size(); ++i)
    for (const std::string& shown : state_.logicals[i].connectors)
      if (shown == connector) return static_cast<int>(i);
  return -1;
}

/// The device: the primary logical monitor's first monitor, else the first
/// monitor that shows a logical monitor.
void GnomeDisplayConfig::PickDevice() {
  const std::vector<GnomeMonitor>& monitors = state_.monitors;
  for (const GnomeLogical& logical : state_.logicals)
    if (logical.primary && !logical.connectors.empty() && state_.device < 0)
      state_.device = MonitorOf(state_, logical.connectors.front());
  for (size_t i = 0; i < monitors.size() && state_.device < 0; ++i)
    if (LogicalOf(monitors[i].connector) >= 0) state_.device = static_cast<int>(i);
  if (state_.device < 0) throw ServiceError(std::string(kService) + " shows no monitor in its layout");
  state_.logical = LogicalOf(monitors[state_.device].connector);
}

void GnomeDisplayConfig::Fetch(uint64_t usec) {
  MessageHandle call(sd_);
  Check(sd_.newMethodCall(bus_.value, &call.value, kService, kPath, kService, "GetCurrentState"),
        "GetCurrentState message");
  ErrorHandle error(sd_);
  MessageHandle reply(sd_);
  if (sd_.call(bus_.value, call.value, usec, &error.value, &reply.value) < 0)
    throw ServiceError(std::string("GetCurrentState: ") + (error.value.message ? error.value.message : "no reply"));
  state_ = {};
  ReadState(reply.value);
}

void GnomeDisplayConfig::Load() {
  Fetch();
  PickDevice();
  const GnomeMonitor& monitor = state_.monitors[state_.device];
  device.name = monitor.connector;
  device.modes = ListedModes(monitor);
  device.hasCurrent = monitor.current >= 0;
  if (device.hasCurrent) device.current = monitor.modes[monitor.current].entry;
  device.bitsPerPel = 32;  // Mutter composes every output in 32-bit pixels
}

/// Appends a logical monitor's monitors, a(ssa{sv}): each with its mode in
/// `state` and the settings the service reported for it, which it would
/// otherwise reset.
void GnomeDisplayConfig::AppendMonitors(sd_bus_message* m, const GnomeState& state, const GnomeLogical& logical) const {
  const char* what = "ApplyMonitorsConfig message";
  Check(sd_.open(m, SD_BUS_TYPE_ARRAY, "(ssa{sv})"), what);
  for (const std::string& connector : logical.connectors) {
    const int shown = MonitorOf(state, connector);
    const GnomeMonitor* monitor = shown < 0 ? nullptr : &state.monitors[shown];
    if (!monitor || monitor->current < 0) throw ServiceError("monitor " + connector + " shows no mode");
    Check(sd_.open(m, SD_BUS_TYPE_STRUCT, "ssa{sv}"), what);
    Check(sd_.append(m, "ss", connector.c_str(), monitor->modes[monitor->current].id.c_str()), what);
    Check(sd_.open(m, SD_BUS_TYPE_ARRAY, "{sv}"), what);
    for (const GnomeSetting& setting : RepeatedSettings(*monitor))
      Check(sd_.append(m, "{sv}", setting.key, setting.type, setting.value), what);
    Check(sd_.close(m), what);
    Check(sd_.close(m), what);
  }
  Check(sd_.close(m), what);
}

/// Appends the logical monitors, a(iiduba(ssa{sv})), and the properties,
/// a{sv}: the layout mode where the service lets it change, since it would
/// otherwise take its default.
void GnomeDisplayConfig::AppendState(sd_bus_message* m, const GnomeState& state) const {
  const char* what = "ApplyMonitorsConfig message";
  Check(sd_.open(m, SD_BUS_TYPE_ARRAY, "(iiduba(ssa{sv}))"), what);
  for (const GnomeLogical& logical : state.logicals) {
    Check(sd_.open(m, SD_BUS_TYPE_STRUCT, "iiduba(ssa{sv})"), what);
    Check(sd_.append(m, "iidub", logical.x, logical.y, logical.scale, logical.transform, int{logical.primary}), what);
    AppendMonitors(m, state, logical);
    Check(sd_.close(m), what);
  }
  Check(sd_.close(m), what);
  Check(sd_.open(m, SD_BUS_TYPE_ARRAY, "{sv}"), what);
  if (state.layoutModeChangeable) Check(sd_.append(m, "{sv}", "layout-mode", "u", state.layoutMode), what);
  AppendForLease(m, state);
  Check(sd_.close(m), what);
}

/// Appends the property monitors-for-lease, a(ssss), naming the monitors the
/// service reported set aside for lease (Mutter 48 and later): a change
/// without it leases none. Nothing where it reported none.
void GnomeDisplayConfig::AppendForLease(sd_bus_message* m, const GnomeState& state) const {
  const char* what = "ApplyMonitorsConfig message";
  std::vector<const GnomeMonitor*> leased;
  for (const GnomeMonitor& monitor : state.monitors)
    if (monitor.forLease) leased.push_back(&monitor);
  if (leased.empty()) return;
  Check(sd_.open(m, SD_BUS_TYPE_DICT_ENTRY, "sv"), what);
  Check(sd_.append(m, "s", "monitors-for-lease"), what);
  Check(sd_.open(m, SD_BUS_TYPE_VARIANT, "a(ssss)"), what);
  Check(sd_.open(m, SD_BUS_TYPE_ARRAY, "(ssss)"), what);
  for (const GnomeMonitor* monitor : leased)
    Check(sd_.append(m, "(ssss)", monitor->connector.c_str(), monitor->vendor.c_str(), monitor->product.c_str(),
                     monitor->serial.c_str()),
          what);
  for (int open = 3; open > 0; --open) Check(sd_.close(m), what);  // the array, the variant, the entry
}

std::string GnomeDisplayConfig::Apply(const ModeEntry& mode, int32_t refreshHz) {
  planned_ = PlanGnomeChange(state_, mode, refreshHz);
  MessageHandle call(sd_);
  Check(sd_.newMethodCall(bus_.value, &call.value, kService, kPath, kService, "ApplyMonitorsConfig"),
        "ApplyMonitorsConfig message");
  Check(sd_.append(call.value, "uu", serial_, kTemporaryMethod), "ApplyMonitorsConfig message");
  AppendState(call.value, planned_);
  ErrorHandle error(sd_);
  MessageHandle reply(sd_);
  const int sent = sd_.call(bus_.value, call.value, /*usec=*/0, &error.value, &reply.value);
  const std::string failed =
      std::string("ApplyMonitorsConfig: ") + (error.value.message ? error.value.message : "no reply");
  // A modeset of several monitors, or through an MST hub, can outlast the
  // bound and still succeed: then what the screen shows decides.
  slow_ = sent == -ETIMEDOUT;
  if (sent < 0 && !slow_) throw ServiceError(failed);
  return slow_ ? failed : "ApplyMonitorsConfig: Mutter answered";
}

/// Mutter answers calls in turn, so a read answered now shows what the
/// apply made; after a slow apply, it is given longer to.
std::vector<Shown> GnomeDisplayConfig::ReadBack() {
  Fetch(slow_ ? kSettleBound : 0);
  state_.device = MonitorOf(state_, device.name);  // where the next change starts
  state_.logical = LogicalOf(device.name);
  std::vector<Shown> shown;
  for (const std::string& connector : planned_.logicals[planned_.logical].connectors) {
    const int asked = MonitorOf(planned_, connector), now = MonitorOf(state_, connector);
    if (asked < 0) continue;
    const GnomeMonitor& monitor = planned_.monitors[asked];
    shown.push_back({connector, monitor.modes[monitor.current].entry, std::nullopt});
    if (now >= 0 && state_.monitors[now].current >= 0)
      shown.back().now = state_.monitors[now].modes[state_.monitors[now].current].entry;
  }
  return shown;
}

}  // namespace

std::unique_ptr<DisplayService> OpenGnomeDisplayConfig() {
  const SdBus* sd = nullptr;
  try {
    sd = &LoadSdBus();
  } catch (const ServiceError& error) {
    throw ServiceError::Absent(std::string(kService) + " on the session bus: " + error.what());
  }
  auto service = std::make_unique<GnomeDisplayConfig>(*sd);
  service->Connect();
  service->Load();
  return service;
}

}  // namespace platform
