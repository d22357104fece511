#include "platform/linux/services/GnomeMessage.h"

#include <cstring>
#include <string>

#include "platform/linux/ServiceError.h"

namespace platform {
namespace {

constexpr const char* kReply = "GetCurrentState reply";  // what a failed read names

/// Reads a property list (a{sv}), handing each key to `take`, which reads
/// its value and returns true, or returns false to have it skipped.
template <typename Take>
void ReadProperties(const SdBus& sd, sd_bus_message* m, Take take) {
  SdCheck(sd.enter(m, SD_BUS_TYPE_ARRAY, "{sv}"), kReply);
  while (SdCheck(sd.enter(m, SD_BUS_TYPE_DICT_ENTRY, "sv"), kReply) > 0) {
    const char* key = nullptr;
    SdCheck(sd.read(m, "s", &key), kReply);
    if (!take(std::string(key))) SdCheck(sd.skip(m, "v"), kReply);
    SdCheck(sd.exit(m), kReply);
  }
  SdCheck(sd.exit(m), kReply);
}

/// Reads a property's value, a variant of `type`: "b" into an int, "u" into
/// a uint32_t, "s" into a const char*.
template <typename T>
T ReadVariant(const SdBus& sd, sd_bus_message* m, const char* type) {
  T value{};
  SdCheck(sd.read(m, "v", type, &value), kReply);
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
  SdCheck(sd.read(m, "(ssss)", &connector, &vendor, &product, &serial), kReply);
  monitor.connector = connector;
  monitor.vendor = vendor;
  monitor.product = product;
  monitor.serial = serial;
  SdCheck(sd.enter(m, SD_BUS_TYPE_ARRAY, "(siiddada{sv})"), kReply);
  while (SdCheck(sd.enter(m, SD_BUS_TYPE_STRUCT, "siiddada{sv}"), kReply) > 0) {
    const char* id = nullptr;
    GnomeMode mode;
    mode.entry = {monitor.modes.size(), 0, 0, 0, /*interlaced=*/false, /*preferred=*/false};
    SdCheck(sd.read(m, "siidd", &id, &mode.entry.width, &mode.entry.height, &mode.entry.refresh, &mode.preferredScale),
          kReply);
    mode.id = id;
    SdCheck(sd.enter(m, SD_BUS_TYPE_ARRAY, "d"), kReply);
    for (double scale = 0; SdCheck(sd.read(m, "d", &scale), kReply) > 0;) mode.scales.push_back(scale);
    SdCheck(sd.exit(m), kReply);
    bool isCurrent = false;
    ReadModeProperties(sd, m, &mode, &isCurrent);
    if (isCurrent) monitor.current = static_cast<int>(monitor.modes.size());
    monitor.modes.push_back(mode);
    SdCheck(sd.exit(m), kReply);
  }
  SdCheck(sd.exit(m), kReply);
  ReadMonitorProperties(sd, m, &monitor);
  return monitor;
}

/// Reads one logical monitor: (iiduba(ssss)a{sv}).
GnomeLogical ReadLogicalMonitor(const SdBus& sd, sd_bus_message* m) {
  GnomeLogical logical;
  int primary = 0;
  SdCheck(sd.read(m, "iidub", &logical.x, &logical.y, &logical.scale, &logical.transform, &primary), kReply);
  logical.primary = primary != 0;
  SdCheck(sd.enter(m, SD_BUS_TYPE_ARRAY, "(ssss)"), kReply);
  const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
  while (SdCheck(sd.read(m, "(ssss)", &connector, &vendor, &product, &serial), kReply) > 0)
    logical.connectors.push_back(connector);
  SdCheck(sd.exit(m), kReply);
  SdCheck(sd.skip(m, "a{sv}"), kReply);
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

/// Appends a logical monitor's monitors, a(ssa{sv}): each with its mode in
/// `state` and the settings the service reported for it, which it would
/// otherwise reset.
void AppendMonitors(const SdBus& sd, sd_bus_message* m, const GnomeState& state, const GnomeLogical& logical) {
  const char* what = "ApplyMonitorsConfig message";
  SdCheck(sd.open(m, SD_BUS_TYPE_ARRAY, "(ssa{sv})"), what);
  for (const std::string& connector : logical.connectors) {
    const int shown = MonitorOf(state, connector);
    const GnomeMonitor* monitor = shown < 0 ? nullptr : &state.monitors[shown];
    if (!monitor || monitor->current < 0) throw ServiceError("monitor " + connector + " shows no mode");
    SdCheck(sd.open(m, SD_BUS_TYPE_STRUCT, "ssa{sv}"), what);
    SdCheck(sd.append(m, "ss", connector.c_str(), monitor->modes[monitor->current].id.c_str()), what);
    SdCheck(sd.open(m, SD_BUS_TYPE_ARRAY, "{sv}"), what);
    for (const GnomeSetting& setting : RepeatedSettings(*monitor))
      SdCheck(sd.append(m, "{sv}", setting.key, setting.type, setting.value), what);
    SdCheck(sd.close(m), what);
    SdCheck(sd.close(m), what);
  }
  SdCheck(sd.close(m), what);
}

/// Appends the property monitors-for-lease, a(ssss), naming the monitors the
/// service reported set aside for lease (Mutter 48 and later): a change
/// without it leases none. Nothing where it reported none.
void AppendForLease(const SdBus& sd, sd_bus_message* m, const GnomeState& state) {
  const char* what = "ApplyMonitorsConfig message";
  std::vector<const GnomeMonitor*> leased;
  for (const GnomeMonitor& monitor : state.monitors)
    if (monitor.forLease) leased.push_back(&monitor);
  if (leased.empty()) return;
  SdCheck(sd.open(m, SD_BUS_TYPE_DICT_ENTRY, "sv"), what);
  SdCheck(sd.append(m, "s", "monitors-for-lease"), what);
  SdCheck(sd.open(m, SD_BUS_TYPE_VARIANT, "a(ssss)"), what);
  SdCheck(sd.open(m, SD_BUS_TYPE_ARRAY, "(ssss)"), what);
  for (const GnomeMonitor* monitor : leased)
    SdCheck(sd.append(m, "(ssss)", monitor->connector.c_str(), monitor->vendor.c_str(), monitor->product.c_str(),
                     monitor->serial.c_str()),
          what);
  for (int open = 3; open > 0; --open) SdCheck(sd.close(m), what);  // the array, the variant, the entry
}

}  // namespace

/// Returns `result` when sd-bus reports success (>= 0); throws ServiceError
/// with the call and the reason otherwise.
int SdCheck(int result, const char* call) {
  if (result < 0) throw ServiceError(std::string(call) + ": " + std::strerror(-result));
  return result;
}

uint32_t ReadGnomeState(const SdBus& sd, sd_bus_message* reply, GnomeState* state) {
  uint32_t serial = 0;
  SdCheck(sd.read(reply, "u", &serial), kReply);
  SdCheck(sd.enter(reply, SD_BUS_TYPE_ARRAY, "((ssss)a(siiddada{sv})a{sv})"), kReply);
  while (SdCheck(sd.enter(reply, SD_BUS_TYPE_STRUCT, "(ssss)a(siiddada{sv})a{sv}"), kReply) > 0) {
    state->monitors.push_back(ReadMonitor(sd, reply));
    SdCheck(sd.exit(reply), kReply);
  }
  SdCheck(sd.exit(reply), kReply);
  SdCheck(sd.enter(reply, SD_BUS_TYPE_ARRAY, "(iiduba(ssss)a{sv})"), kReply);
  while (SdCheck(sd.enter(reply, SD_BUS_TYPE_STRUCT, "iiduba(ssss)a{sv}"), kReply) > 0) {
    state->logicals.push_back(ReadLogicalMonitor(sd, reply));
    SdCheck(sd.exit(reply), kReply);
  }
  SdCheck(sd.exit(reply), kReply);
  ReadLayoutMode(sd, reply, state);
  return serial;
}

/// Appends the logical monitors, a(iiduba(ssa{sv})), and the properties,
/// a{sv}: the layout mode where the service lets it change, since it would
/// otherwise take its default.
void AppendGnomeState(const SdBus& sd, sd_bus_message* m, const GnomeState& state) {
  const char* what = "ApplyMonitorsConfig message";
  SdCheck(sd.open(m, SD_BUS_TYPE_ARRAY, "(iiduba(ssa{sv}))"), what);
  for (const GnomeLogical& logical : state.logicals) {
    SdCheck(sd.open(m, SD_BUS_TYPE_STRUCT, "iiduba(ssa{sv})"), what);
    SdCheck(sd.append(m, "iidub", logical.x, logical.y, logical.scale, logical.transform, int{logical.primary}), what);
    AppendMonitors(sd, m, state, logical);
    SdCheck(sd.close(m), what);
  }
  SdCheck(sd.close(m), what);
  SdCheck(sd.open(m, SD_BUS_TYPE_ARRAY, "{sv}"), what);
  if (state.layoutModeChangeable) SdCheck(sd.append(m, "{sv}", "layout-mode", "u", state.layoutMode), what);
  AppendForLease(sd, m, state);
  SdCheck(sd.close(m), what);
}

}  // namespace platform
