// The KDE Plasma display service: KWin's output devices and output
// management, over Wayland. Each output is a kde_output_device_v2 global that
// announces its modes (kde_output_device_mode_v2 objects, in KWin's order),
// the mode in force, its place, scale and transform, and whether it is
// enabled; kde_output_order_v1 lists the enabled outputs in Plasma's order,
// its primary output first (before Plasma 5.27, kde_primary_output_v1 names
// the primary output alone). A kde_output_configuration_v2 names only what it
// changes, and KWin answers it with applied or failed.

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/services/WaylandClient.h"  // first: the protocol headers' calls go to the loaded library

#include "kde-output-device-v2-client-protocol.h"
#include "kde-output-management-v2-client-protocol.h"
#include "kde-output-order-v1-client-protocol.h"
#include "kde-primary-output-v1-client-protocol.h"
#include "platform/linux/DisplayService.h"
#include "platform/linux/Layout.h"

namespace platform {
namespace {

constexpr const char* kManagement = "kde_output_management_v2";
constexpr const char* kDevice = "kde_output_device_v2";
constexpr const char* kOrder = "kde_output_order_v1";
constexpr const char* kPrimary = "kde_primary_output_v1";
constexpr uint32_t kPrimaryDestroySince = 2;  // kde_primary_output_v1's first version with a destroy request

/// One mode of an output, as its kde_output_device_mode_v2 announced it.
struct KdeMode {
  kde_output_device_mode_v2* proxy = nullptr;
  int32_t width = 0, height = 0;  // pixels
  int32_t refresh = 0;            // mHz
  bool preferred = false;
  bool removed = false;  // no longer offered: never listed, never sent
};

/// One output, as its kde_output_device_v2 announced it.
struct KdeOutput {
  kde_output_device_v2* proxy = nullptr;
  std::string name;       // the connector's name, as kde_output_order_v1 gives it
  int32_t x = 0, y = 0;   // layout units: pixels divided by the scale
  int32_t transform = 0;  // wl_output's: 0 normal, 1 90°, 2 180°, 3 270°, 4-7 the same flipped
  double scale = 1;
  bool enabled = false;
  bool done = false;  // its whole state has been announced
  std::vector<std::unique_ptr<KdeMode>> modes;  // in KWin's order; the listeners hold their addresses
  const KdeMode* current = nullptr;  // the mode in force, one of `modes`
};

/// Plasma's order of the enabled outputs, by name.
struct OutputOrder {
  std::vector<std::string> names;
  bool done = false;  // the list is whole; the next name begins a new one
};

// The listeners: each one only records what KWin said.

KdeMode& ModeOf(void* data) { return *static_cast<KdeMode*>(data); }
void OnModeSize(void* data, kde_output_device_mode_v2*, int32_t width, int32_t height) {
  ModeOf(data).width = width, ModeOf(data).height = height;
}
void OnModeRefresh(void* data, kde_output_device_mode_v2*, int32_t refresh) { ModeOf(data).refresh = refresh; }
void OnModePreferred(void* data, kde_output_device_mode_v2*) { ModeOf(data).preferred = true; }
void OnModeRemoved(void* data, kde_output_device_mode_v2*) { ModeOf(data).removed = true; }
const kde_output_device_mode_v2_listener kModeListener = {OnModeSize, OnModeRefresh, OnModePreferred, OnModeRemoved};

KdeOutput& OutputOf(void* data) { return *static_cast<KdeOutput*>(data); }
void OnGeometry(void* data, kde_output_device_v2*, int32_t x, int32_t y, int32_t /*physicalWidth*/,
                int32_t /*physicalHeight*/, int32_t /*subpixel*/, const char* /*make*/, const char* model,
                int32_t transform) {
  KdeOutput& output = OutputOf(data);
  output.x = x, output.y = y, output.transform = transform;
  if (output.name.empty()) output.name = model;  // before version 2, outputs have no name
}
void OnCurrentMode(void* data, kde_output_device_v2*, kde_output_device_mode_v2* proxy) {
  OutputOf(data).current = static_cast<const KdeMode*>(kde_output_device_mode_v2_get_user_data(proxy));
}
void OnMode(void* data, kde_output_device_v2*, kde_output_device_mode_v2* proxy) {
  OutputOf(data).modes.push_back(std::make_unique<KdeMode>());
  KdeMode* mode = OutputOf(data).modes.back().get();
  mode->proxy = proxy;
  kde_output_device_mode_v2_add_listener(proxy, &kModeListener, mode);
}
void OnOutputDone(void* data, kde_output_device_v2*) { OutputOf(data).done = true; }
void OnScale(void* data, kde_output_device_v2*, wl_fixed_t scale) { OutputOf(data).scale = wl_fixed_to_double(scale); }
void OnEnabled(void* data, kde_output_device_v2*, int32_t enabled) { OutputOf(data).enabled = enabled != 0; }
void OnName(void* data, kde_output_device_v2*, const char* name) { OutputOf(data).name = name; }
void OnText(void*, kde_output_device_v2*, const char*) {}  // EDID, UUID, serial number, EISA id
void OnFlags(void*, kde_output_device_v2*, uint32_t) {}    // capabilities, overscan, VRR policy, RGB range
const kde_output_device_v2_listener kOutputListener = {
    OnGeometry, OnCurrentMode, OnMode,  OnOutputDone, OnScale, OnText, OnEnabled, OnText,
    OnText,     OnText,        OnFlags, OnFlags,      OnFlags, OnFlags, OnName};

OutputOrder& OrderOf(void* data) { return *static_cast<OutputOrder*>(data); }
void OnOrderedOutput(void* data, kde_output_order_v1*, const char* name) {
  if (OrderOf(data).done) OrderOf(data).names.clear(), OrderOf(data).done = false;
  OrderOf(data).names.push_back(name);
}
void OnOrderDone(void* data, kde_output_order_v1*) { OrderOf(data).done = true; }
const kde_output_order_v1_listener kOrderListener = {OnOrderedOutput, OnOrderDone};

/// The primary output alone is Plasma's order where it has no other.
void OnPrimaryOutput(void* data, kde_primary_output_v1*, const char* name) { OrderOf(data).names = {name}; }
const kde_primary_output_v1_listener kPrimaryListener = {OnPrimaryOutput};

/// KWin's answer to a configuration.
enum class Answer { kNone, kApplied, kFailed };
void OnApplied(void* data, kde_output_configuration_v2*) { *static_cast<Answer*>(data) = Answer::kApplied; }
void OnFailed(void* data, kde_output_configuration_v2*) { *static_cast<Answer*>(data) = Answer::kFailed; }
const kde_output_configuration_v2_listener kConfigurationListener = {OnApplied, OnFailed};

/// Returns where `output` is in the layout when it shows `mode`.
Rect PlaceOf(const KdeOutput& output, const KdeMode& mode) {
  return platform::PlaceOf(output.x, output.y, mode.width, mode.height, output.transform, output.scale);
}

/// The outputs that KWin holds, and the device among them.
class KdeOutputManagement : public DisplayService {
 public:
  explicit KdeOutputManagement(std::unique_ptr<WaylandConnection> connection) : connection_(std::move(connection)) {}
  ~KdeOutputManagement() override;
  /// Binds the globals, reads every output and picks the device; throws ServiceError.
  void Load();
  void Apply(const ModeEntry& mode, int32_t refreshHz) override;

 private:
  KdeOutput* PickDevice();
  void Configure(const KdeMode& target, const std::vector<KdeOutput*>& shown, const std::vector<Rect>& before,
                 const std::vector<Rect>& after);

  std::unique_ptr<WaylandConnection> connection_;  // first made, last gone: every proxy below lives on it
  kde_output_management_v2* management_ = nullptr;
  kde_output_order_v1* orderProxy_ = nullptr;
  kde_primary_output_v1* primaryProxy_ = nullptr;
  OutputOrder order_;
  std::vector<std::unique_ptr<KdeOutput>> outputs_;  // in the registry's order
  KdeOutput* device_ = nullptr;
};

KdeOutputManagement::~KdeOutputManagement() {
  for (const auto& output : outputs_) {
    for (const auto& mode : output->modes) kde_output_device_mode_v2_destroy(mode->proxy);
    kde_output_device_v2_destroy(output->proxy);
  }
  if (orderProxy_) kde_output_order_v1_destroy(orderProxy_);
  if (primaryProxy_ && kde_primary_output_v1_get_version(primaryProxy_) >= kPrimaryDestroySince)
    kde_primary_output_v1_destroy(primaryProxy_);
  else if (primaryProxy_)
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(primaryProxy_));
  if (management_) kde_output_management_v2_destroy(management_);
}

/// The device: the first enabled output in Plasma's order (or its primary
/// output), else (a KWin that gives neither) the first enabled output
/// announced.
KdeOutput* KdeOutputManagement::PickDevice() {
  for (const std::string& name : order_.names)
    for (const auto& output : outputs_)
      if (output->enabled && output->name == name) return output.get();
  for (const auto& output : outputs_)
    if (output->enabled) return output.get();
  return nullptr;
}

void KdeOutputManagement::Load() {
  management_ = static_cast<kde_output_management_v2*>(
      connection_->Bind(*connection_->Find(kManagement), &kde_output_management_v2_interface, /*version=*/1));
  for (const WaylandGlobal& global : connection_->Globals()) {
    if (global.interface != kDevice) continue;
    outputs_.push_back(std::make_unique<KdeOutput>());
    // Version 2 names the output, as kde_output_order_v1 does.
    outputs_.back()->proxy =
        static_cast<kde_output_device_v2*>(connection_->Bind(global, &kde_output_device_v2_interface, /*version=*/2));
    kde_output_device_v2_add_listener(outputs_.back()->proxy, &kOutputListener, outputs_.back().get());
  }
  if (const WaylandGlobal* order = connection_->Find(kOrder)) {
    orderProxy_ = static_cast<kde_output_order_v1*>(connection_->Bind(*order, &kde_output_order_v1_interface, 1));
    kde_output_order_v1_add_listener(orderProxy_, &kOrderListener, &order_);
  } else if (const WaylandGlobal* primary = connection_->Find(kPrimary)) {
    primaryProxy_ = static_cast<kde_primary_output_v1*>(
        connection_->Bind(*primary, &kde_primary_output_v1_interface, kPrimaryDestroySince));
    kde_primary_output_v1_add_listener(primaryProxy_, &kPrimaryListener, &order_);
  }
  const std::string where = std::string(kDevice) + " on " + connection_->Where();
  if (!connection_->Roundtrip()) throw ServiceError(where + ": " + connection_->Error());
  for (const auto& output : outputs_)
    if (!output->done) throw ServiceError(where + ": output " + output->name + " did not announce its whole state");
  device_ = PickDevice();
  if (!device_) throw ServiceError(where + " shows no enabled output");
  device.name = device_->name;
  for (size_t i = 0; i < device_->modes.size(); ++i) {
    const KdeMode& mode = *device_->modes[i];
    if (mode.removed) continue;
    const ModeEntry entry{i, mode.width, mode.height, mode.refresh / 1000.0, /*interlaced=*/false, mode.preferred};
    device.modes.push_back(entry);
    if (&mode == device_->current) device.current = entry, device.hasCurrent = true;
  }
  device.bitsPerPel = 32;  // KWin composes every output in 32-bit pixels
}

/// Sends one configuration: the device shows `target`, and every output
/// whose place differs between `before` and `after` moves there; the rest
/// of every output's state is left as KWin holds it. Waits for the answer.
void KdeOutputManagement::Configure(const KdeMode& target, const std::vector<KdeOutput*>& shown,
                                    const std::vector<Rect>& before, const std::vector<Rect>& after) {
  kde_output_configuration_v2* configuration = kde_output_management_v2_create_configuration(management_);
  Answer answer = Answer::kNone;
  kde_output_configuration_v2_add_listener(configuration, &kConfigurationListener, &answer);
  kde_output_configuration_v2_mode(configuration, device_->proxy, target.proxy);
  for (size_t i = 0; i < shown.size(); ++i)
    if (after[i].x != before[i].x || after[i].y != before[i].y)
      kde_output_configuration_v2_position(configuration, shown[i]->proxy, after[i].x, after[i].y);
  kde_output_configuration_v2_apply(configuration);
  const bool answered = connection_->DispatchUntil([&answer] { return answer != Answer::kNone; });
  kde_output_configuration_v2_destroy(configuration);
  const std::string asked = std::to_string(target.width) + "x" + std::to_string(target.height) + " at " +
                            std::to_string(target.refresh) + " mHz on " + device_->name;
  if (!answered) throw ServiceError("KWin closed the connection while changing " + asked + ": " + connection_->Error());
  if (answer == Answer::kFailed) throw ServiceError("kde_output_configuration_v2: KWin refused " + asked);
}

/// Puts `mode` on the device and moves the other enabled outputs by the
/// layout rule, in one configuration.
void KdeOutputManagement::Apply(const ModeEntry& mode, int32_t /*refreshHz*/) {
  const KdeMode& target = *device_->modes[*mode.id];
  std::vector<KdeOutput*> shown;
  std::vector<Rect> before;
  size_t ours = 0;
  for (const auto& output : outputs_) {
    if (!output->enabled) continue;
    const KdeMode* current = output->current;
    if (!current || current->removed) throw ServiceError(kDevice + (" " + output->name) + " shows no mode");
    if (output.get() == device_) ours = shown.size();
    shown.push_back(output.get());
    before.push_back(PlaceOf(*output, *current));
  }
  const Rect resized = PlaceOf(*device_, target);
  const std::optional<std::vector<Rect>> after = ResizeInLayout(before, ours, resized.width, resized.height);
  if (!after) throw ServiceError(NoLayout(device_->name, target.width, target.height));
  Configure(target, shown, before, *after);
  for (size_t i = 0; i < shown.size(); ++i) shown[i]->x = (*after)[i].x, shown[i]->y = (*after)[i].y;
  device_->current = &target;
}

}  // namespace

std::unique_ptr<DisplayService> OpenKdeOutputManagement(std::unique_ptr<WaylandConnection> connection) {
  auto service = std::make_unique<KdeOutputManagement>(std::move(connection));
  service->Load();
  return service;
}

}  // namespace platform
