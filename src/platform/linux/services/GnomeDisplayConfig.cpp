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
#include "platform/linux/services/GnomeMessage.h"

namespace platform {
namespace {

constexpr const char* kService = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kPath = "/org/gnome/Mutter/DisplayConfig";
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
  void PickDevice();
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
  SdCheck(sd_.newMethodCall(bus_.value, &call.value, kService, kPath, kService, "GetCurrentState"),
        "GetCurrentState message");
  ErrorHandle error(sd_);
  MessageHandle reply(sd_);
  if (sd_.call(bus_.value, call.value, usec, &error.value, &reply.value) < 0)
    throw ServiceError(std::string("GetCurrentState: ") + (error.value.message ? error.value.message : "no reply"));
  state_ = {};
  serial_ = ReadGnomeState(sd_, reply.value, &state_);
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


std::string GnomeDisplayConfig::Apply(const ModeEntry& mode, int32_t refreshHz) {
  planned_ = PlanGnomeChange(state_, mode, refreshHz);
  MessageHandle call(sd_);
  SdCheck(sd_.newMethodCall(bus_.value, &call.value, kService, kPath, kService, "ApplyMonitorsConfig"),
        "ApplyMonitorsConfig message");
  SdCheck(sd_.append(call.value, "uu", serial_, kTemporaryMethod), "ApplyMonitorsConfig message");
  AppendGnomeState(sd_, call.value, planned_);
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
