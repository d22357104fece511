// The KDE Plasma display service: KWin's output devices and output
// management, over Wayland. Each output is a kde_output_device_v2 that
// announces its modes (kde_output_device_mode_v2 objects, in KWin's order) and
// its state; Plasma 6.7 and later announce them through
// kde_output_device_registry_v2, earlier ones as globals. kde_output_order_v1
// lists the enabled outputs in Plasma's order, its primary output first
// (before Plasma 5.27, kde_primary_output_v1 names the primary alone). A
// kde_output_configuration_v2 names only what it changes; KWin answers it with
// applied or failed (with its reason, from management version 12). Read, then
// decide, then write: the listeners only fill the structs below, and
// KdeChange.cpp decides from their plain states what a change sends.

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/services/KdeOutputs.h"  // first: the protocol headers' calls go to the loaded library

#include "platform/linux/DisplayService.h"

namespace platform {
namespace {

constexpr const char* kManagement = "kde_output_management_v2";
constexpr const char* kRegistry = "kde_output_device_registry_v2";
constexpr const char* kDevice = "kde_output_device_v2";
constexpr const char* kOrder = "kde_output_order_v1";
constexpr const char* kPrimary = "kde_primary_output_v1";
constexpr uint32_t kRegistryVersion = 21;      // the registry's first version: a lower one is a protocol error
constexpr uint32_t kReplicationSince = 13;     // an output global's first version that names its replication source
constexpr uint32_t kFailureReasonSince = 12;   // management's first version that says why it refuses
constexpr uint32_t kPrimaryDestroySince = 2;   // kde_primary_output_v1's first version with a destroy request


/// The outputs that KWin holds, and the device among them.
class KdeOutputManagement : public DisplayService {
 public:
  explicit KdeOutputManagement(std::unique_ptr<WaylandConnection> connection) : connection_(std::move(connection)) {}
  ~KdeOutputManagement() override;
  /// Binds the globals, reads every output and picks the device; throws ServiceError.
  void Load();
  /// Puts `mode` on the device, and what PlanKdeChange says on the others, in
  /// one configuration.
  std::string Apply(const ModeEntry& mode, int32_t refreshHz) override;
  std::vector<Shown> ReadBack() override;

 private:
  void AddOutput(kde_output_device_v2* proxy);
  void BindOutputs();
  std::vector<KdeOutputState> States() const;
  void Configure(const std::vector<KdeOutputChange>& changes, const std::string& asked);

  std::unique_ptr<WaylandConnection> connection_;  // first made, last gone: every proxy below lives on it
  kde_output_management_v2* management_ = nullptr;
  kde_output_device_registry_v2* registry_ = nullptr;  // until KWin finishes it
  kde_output_order_v1* orderProxy_ = nullptr;
  kde_primary_output_v1* primaryProxy_ = nullptr;
  OutputOrder order_;
  std::vector<std::unique_ptr<KdeOutput>> outputs_;  // in the order KWin announced them
  size_t device_ = 0;                                // the device's place in `outputs_`
  std::vector<KdeOutputChange> changes_;             // what the last change sent
};
KdeOutputManagement::~KdeOutputManagement() {
  for (const auto& output : outputs_) {
    for (const auto& mode : output->modes)
      if (mode->proxy) kde_output_device_mode_v2_destroy(mode->proxy);
    Release(output->proxy, KDE_OUTPUT_DEVICE_V2_RELEASE_SINCE_VERSION, kde_output_device_v2_release);
  }
  if (registry_) kde_output_device_registry_v2_destroy(registry_);
  if (orderProxy_) kde_output_order_v1_destroy(orderProxy_);
  if (primaryProxy_) Release(primaryProxy_, kPrimaryDestroySince, kde_primary_output_v1_destroy);
  if (management_) kde_output_management_v2_destroy(management_);
}

void KdeOutputManagement::AddOutput(kde_output_device_v2* proxy) {
  outputs_.push_back(std::make_unique<KdeOutput>());
  outputs_.back()->proxy = proxy;
  kde_output_device_v2_add_listener(proxy, &kOutputListener, outputs_.back().get());
}

/// Asks for every output: from the registry where KWin offers one, else
/// from its globals.
void KdeOutputManagement::BindOutputs() {
  if (const WaylandGlobal* registry = connection_->Find(kRegistry)) {
    using Registry = kde_output_device_registry_v2;
    static const kde_output_device_registry_v2_listener listener = {
        // KWin destroys the registry once it has answered stop.
        .finished = [](void* data, Registry* proxy) {
          kde_output_device_registry_v2_destroy(proxy);
          static_cast<KdeOutputManagement*>(data)->registry_ = nullptr;
        },
        .output = [](void* data, Registry*, kde_output_device_v2* proxy) {
          static_cast<KdeOutputManagement*>(data)->AddOutput(proxy);
        }};
    registry_ = static_cast<kde_output_device_registry_v2*>(
        connection_->Bind(*registry, &kde_output_device_registry_v2_interface, kRegistryVersion));
    kde_output_device_registry_v2_add_listener(registry_, &listener, this);
    return;
  }
  for (const WaylandGlobal& global : connection_->Globals())
    if (global.interface == kDevice)
      AddOutput(static_cast<kde_output_device_v2*>(
          connection_->Bind(global, &kde_output_device_v2_interface, kReplicationSince)));
}

/// Returns every output as the rules see it, in the order KWin announced them.
std::vector<KdeOutputState> KdeOutputManagement::States() const {
  std::vector<KdeOutputState> states;
  for (const auto& output : outputs_) states.push_back(StateOf(*output));
  return states;
}

void KdeOutputManagement::Load() {
  management_ = static_cast<kde_output_management_v2*>(connection_->Bind(
      *connection_->Find(kManagement), &kde_output_management_v2_interface, kFailureReasonSince));
  BindOutputs();
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
  // The outputs announced so far are the ones a run uses; the second round
  // trip also brings the state of the last ones announced.
  if (registry_) kde_output_device_registry_v2_stop(registry_);
  if (!connection_->Roundtrip()) throw ServiceError(where + ": " + connection_->Error());
  if (outputs_.empty())
    throw ServiceError(std::string(kManagement) + " on " + connection_->Where() + " has no output to manage: neither " +
                       kRegistry + " nor any " + kDevice + " announced one");
  for (const auto& output : outputs_)
    if (!output->done)
      throw ServiceError(where + ": output " + output->state.name + " did not announce its whole state");
  const std::vector<KdeOutputState> states = States();
  const std::optional<size_t> chosen = KdeDeviceOf(states, order_.names);
  if (!chosen) throw ServiceError(where + " shows no enabled output");
  device_ = *chosen;
  device.name = states[device_].name;
  device.modes = states[device_].modes;
  if (states[device_].current) device.current = *states[device_].current, device.hasCurrent = true;
  device.bitsPerPel = 32;  // KWin composes every output in 32-bit pixels
}

/// Sends one configuration: each output the mode `changes` gives it, where
/// it shows another, and its new place; KWin keeps the rest of every
/// output's state. Waits for the answer; throws ServiceError, naming the
/// change `asked`, on a refusal.
void KdeOutputManagement::Configure(const std::vector<KdeOutputChange>& changes, const std::string& asked) {
  kde_output_configuration_v2* configuration = kde_output_management_v2_create_configuration(management_);
  Answer answer;
  kde_output_configuration_v2_add_listener(configuration, &kConfigurationListener, &answer);
  for (size_t i = 0; i < outputs_.size(); ++i) {
    KdeOutput& output = *outputs_[i];
    const KdeMode* mode = changes[i].mode ? output.modes[*changes[i].mode->id].get() : nullptr;
    if (mode && mode != output.current) kde_output_configuration_v2_mode(configuration, output.proxy, mode->proxy);
    if (const std::optional<Rect>& place = changes[i].place)
      kde_output_configuration_v2_position(configuration, output.proxy, place->x, place->y);
  }
  kde_output_configuration_v2_apply(configuration);
  const bool answered = connection_->DispatchUntil([&answer] { return answer.kind != Answer::kNone; });
  kde_output_configuration_v2_destroy(configuration);
  if (!answered) throw ServiceError("KWin closed the connection while changing " + asked + ": " + connection_->Error());
  if (answer.kind == Answer::kFailed)
    throw ServiceError("kde_output_configuration_v2: KWin refused " + asked + (answer.reason.empty() ? "" : ": ") +
                       answer.reason);
}

std::string KdeOutputManagement::Apply(const ModeEntry& mode, int32_t refreshHz) {
  changes_ = PlanKdeChange(States(), device_, mode, refreshHz);
  const KdeMode& asked = *outputs_[device_]->modes[*mode.id];
  Configure(changes_, SizeText(asked.width, asked.height) + " at " + std::to_string(asked.refresh) + " mHz on " +
                          device.name);
  return "kde_output_configuration_v2: KWin answered applied";
}

/// Reads what KWin announced with its answer: it sends an output's new
/// state before `applied`, and a round trip takes in what follows.
std::vector<Shown> KdeOutputManagement::ReadBack() {
  if (!connection_->Roundtrip())
    throw ServiceError("KWin closed the connection after changing " + device.name + ": " + connection_->Error());
  const std::vector<KdeOutputState> states = States();
  std::vector<Shown> shown;  // an output announced since the change was not in it
  for (size_t i = 0; i < std::min(states.size(), changes_.size()); ++i)
    if (changes_[i].mode) shown.push_back({states[i].name, *changes_[i].mode, states[i].current});
  return shown;
}

}  // namespace

std::unique_ptr<DisplayService> OpenKdeOutputManagement(std::unique_ptr<WaylandConnection> connection) {
  auto service = std::make_unique<KdeOutputManagement>(std::move(connection));
  service->Load();
  return service;
}

}  // namespace platform
