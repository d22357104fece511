// The KDE Plasma display service: KWin's output devices and output
// management, over Wayland. Each output is a kde_output_device_v2 that
// announces its modes (kde_output_device_mode_v2 objects, in KWin's order),
// the mode in force, its place, scale and transform, and whether it is
// enabled. Plasma 6.7 and later announce the outputs through
// kde_output_device_registry_v2; earlier ones offer a global per output.
// kde_output_order_v1 lists the enabled outputs in Plasma's order, its
// primary output first (before Plasma 5.27, kde_primary_output_v1 names the
// primary output alone). A kde_output_configuration_v2 names only what it
// changes, and KWin answers it with applied or failed (with its reason, from
// management version 12).
//
// Outputs that show one picture: Plasma 5 (and 6.3) unifies outputs by
// putting them at one position, and they change together; KWin with
// kde_output_device_v2 version 13 (6.7, not 6.3) replicates an output
// (replication_source names the source's UUID). A replica stays enabled at a
// position of its own that is no place in the layout, and keeps its own mode:
// KWin fits its source's picture into it, scaled and centred between black bars.

#include <algorithm>
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
constexpr const char* kRegistry = "kde_output_device_registry_v2";
constexpr const char* kDevice = "kde_output_device_v2";
constexpr const char* kOrder = "kde_output_order_v1";
constexpr const char* kPrimary = "kde_primary_output_v1";
constexpr uint32_t kRegistryVersion = 21;      // the registry's first version: a lower one is a protocol error
constexpr uint32_t kReplicationSince = 13;     // an output global's first version that names its replication source
constexpr uint32_t kFailureReasonSince = 12;   // management's first version that says why it refuses
constexpr uint32_t kPrimaryDestroySince = 2;   // kde_primary_output_v1's first version with a destroy request

/// One mode of an output, as its kde_output_device_mode_v2 announced it.
struct KdeMode {
  kde_output_device_mode_v2* proxy = nullptr;  // nullptr once KWin removed it
  int32_t width = 0, height = 0;  // pixels
  int32_t refresh = 0;            // mHz
  bool preferred = false;
  bool removed = false;  // no longer offered: never listed, never sent
};

/// One output, as its kde_output_device_v2 announced it.
struct KdeOutput {
  kde_output_device_v2* proxy = nullptr;
  std::string name;       // the connector's name, as kde_output_order_v1 gives it
  std::string uuid;       // KWin's name for it in replication_source
  std::string replicationSource;  // the UUID of the output it replicates; empty: none
  int32_t x = 0, y = 0;   // layout units: pixels divided by the scale
  int32_t transform = 0;  // wl_output's: 0 normal, 1 90°, 2 180°, 3 270°, 4-7 the same flipped
  double scale = 1;  // as KWin holds it (HeldScale)
  bool enabled = false;
  bool done = false;     // its whole state has been announced
  bool removed = false;  // disconnected: it shows nothing and takes no configuration
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
/// KWin destroys a removed mode's object: its proxy goes with it.
void OnModeRemoved(void* data, kde_output_device_mode_v2* proxy) {
  ModeOf(data).removed = true, ModeOf(data).proxy = nullptr;
  kde_output_device_mode_v2_destroy(proxy);
}
void OnModeFlags(void*, kde_output_device_mode_v2*, uint32_t) {}  // custom, reduced blanking
const kde_output_device_mode_v2_listener kModeListener = {.size = OnModeSize,
                                                          .refresh = OnModeRefresh,
                                                          .preferred = OnModePreferred,
                                                          .removed = OnModeRemoved,
                                                          .flags = OnModeFlags};

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
void OnScale(void* data, kde_output_device_v2*, wl_fixed_t scale) { OutputOf(data).scale = HeldScale(scale); }
void OnEnabled(void* data, kde_output_device_v2*, int32_t enabled) { OutputOf(data).enabled = enabled != 0; }
void OnName(void* data, kde_output_device_v2*, const char* name) { OutputOf(data).name = name; }
void OnUuid(void* data, kde_output_device_v2*, const char* uuid) { OutputOf(data).uuid = uuid; }
void OnReplicationSource(void* data, kde_output_device_v2*, const char* uuid) {
  OutputOf(data).replicationSource = uuid;
}
void OnOutputRemoved(void* data, kde_output_device_v2*) { OutputOf(data).removed = true; }
/// An event of an output's settings that vistrel leaves as they are.
template <typename... Values>
void Unused(void*, kde_output_device_v2*, Values...) {}
const kde_output_device_v2_listener kOutputListener = {
    .geometry = OnGeometry,
    .current_mode = OnCurrentMode,
    .mode = OnMode,
    .done = OnOutputDone,
    .scale = OnScale,
    .edid = Unused<const char*>,
    .enabled = OnEnabled,
    .uuid = OnUuid,
    .serial_number = Unused<const char*>,
    .eisa_id = Unused<const char*>,
    .capabilities = Unused<uint32_t>,
    .overscan = Unused<uint32_t>,
    .vrr_policy = Unused<uint32_t>,
    .rgb_range = Unused<uint32_t>,
    .name = OnName,
    .high_dynamic_range = Unused<uint32_t>,
    .sdr_brightness = Unused<uint32_t>,
    .wide_color_gamut = Unused<uint32_t>,
    .auto_rotate_policy = Unused<uint32_t>,
    .icc_profile_path = Unused<const char*>,
    .brightness_metadata = Unused<uint32_t, uint32_t, uint32_t>,
    .brightness_overrides = Unused<int32_t, int32_t, int32_t>,
    .sdr_gamut_wideness = Unused<uint32_t>,
    .color_profile_source = Unused<uint32_t>,
    .brightness = Unused<uint32_t>,
    .color_power_tradeoff = Unused<uint32_t>,
    .dimming = Unused<uint32_t>,
    .replication_source = OnReplicationSource,
    .ddc_ci_allowed = Unused<uint32_t>,
    .max_bits_per_color = Unused<uint32_t>,
    .max_bits_per_color_range = Unused<uint32_t, uint32_t>,
    .automatic_max_bits_per_color_limit = Unused<uint32_t>,
    .edr_policy = Unused<uint32_t>,
    .sharpness = Unused<uint32_t>,
    .priority = Unused<uint32_t>,  // Plasma's order again: kde_output_order_v1 gives it to every version
    .auto_brightness = Unused<uint32_t>,
    .removed = OnOutputRemoved};

OutputOrder& OrderOf(void* data) { return *static_cast<OutputOrder*>(data); }
void OnOrderedOutput(void* data, kde_output_order_v1*, const char* name) {
  if (OrderOf(data).done) OrderOf(data).names.clear(), OrderOf(data).done = false;
  OrderOf(data).names.push_back(name);
}
void OnOrderDone(void* data, kde_output_order_v1*) { OrderOf(data).done = true; }
const kde_output_order_v1_listener kOrderListener = {.output = OnOrderedOutput, .done = OnOrderDone};

/// The primary output alone is Plasma's order where it has no other.
void OnPrimaryOutput(void* data, kde_primary_output_v1*, const char* name) { OrderOf(data).names = {name}; }
const kde_primary_output_v1_listener kPrimaryListener = {.primary_output = OnPrimaryOutput};

/// KWin's answer to a configuration, and its reason for a refusal.
struct Answer {
  enum { kNone, kApplied, kFailed } kind = kNone;
  std::string reason;  // empty before management version 12
};
Answer& AnswerOf(void* data) { return *static_cast<Answer*>(data); }
void OnApplied(void* data, kde_output_configuration_v2*) { AnswerOf(data).kind = Answer::kApplied; }
void OnFailed(void* data, kde_output_configuration_v2*) { AnswerOf(data).kind = Answer::kFailed; }
void OnFailureReason(void* data, kde_output_configuration_v2*, const char* reason) { AnswerOf(data).reason = reason; }
const kde_output_configuration_v2_listener kConfigurationListener = {
    .applied = OnApplied, .failed = OnFailed, .failure_reason = OnFailureReason};

/// Returns where `output` is in the layout when it shows `mode`: KWin divides
/// the mode's size, turned, by the scale and rounds it (KWin 5.27 and 6.3 its
/// size, 6.7 its edges, which is the same at a whole position).
Rect PlaceOf(const KdeOutput& output, const KdeMode& mode) {
  return platform::PlaceOf(output.x, output.y, mode.width, mode.height, output.transform, output.scale);
}

/// Returns `mode` as the layer lists it, with `id`.
ModeEntry EntryOf(const KdeMode& mode, std::optional<unsigned long> id = {}) {
  return {id, mode.width, mode.height, mode.refresh / 1000.0, /*interlaced=*/false, mode.preferred};
}

/// Returns the modes that `output` offers, each with its place in
/// `output.modes` as its id.
std::vector<ModeEntry> Listed(const KdeOutput& output) {
  std::vector<ModeEntry> listed;
  for (size_t i = 0; i < output.modes.size(); ++i)
    if (!output.modes[i]->removed) listed.push_back(EntryOf(*output.modes[i], i));
  return listed;
}

/// Returns `mode` as messages give it: "WxH at R mHz".
std::string Describe(const KdeMode& mode) {
  return std::to_string(mode.width) + "x" + std::to_string(mode.height) + " at " + std::to_string(mode.refresh) +
         " mHz";
}

/// One output and the mode that a change puts on it.
struct Change {
  KdeOutput* output;
  const KdeMode* mode;
};

/// One place in the layout and the outputs there: one output, or several
/// that Plasma unified at one position.
struct Place {
  std::vector<KdeOutput*> outputs;
  Rect rect;  // their corner and their largest width and height
};

/// The outputs that KWin holds, and the device among them.
class KdeOutputManagement : public DisplayService {
 public:
  explicit KdeOutputManagement(std::unique_ptr<WaylandConnection> connection) : connection_(std::move(connection)) {}
  ~KdeOutputManagement() override;
  /// Binds the globals, reads every output and picks the device; throws ServiceError.
  void Load();
  void Apply(const ModeEntry& mode, int32_t refreshHz) override;

 private:
  static void OnRegistryOutput(void* data, kde_output_device_registry_v2*, kde_output_device_v2* proxy);
  static void OnRegistryFinished(void* data, kde_output_device_registry_v2* proxy);
  void AddOutput(kde_output_device_v2* proxy);
  void BindOutputs();
  const KdeOutput* SourceOf(const KdeOutput& output) const;
  bool InLayout(const KdeOutput& output) const;
  KdeOutput* PickDevice();
  std::vector<Change> ChangesFor(const ModeEntry& mode, int32_t refreshHz) const;
  std::vector<Place> Places() const;
  void Configure(const std::vector<Change>& changes, const std::vector<Place>& places, const std::vector<Rect>& after);
  void ReadBack(const std::vector<Change>& changes);

  std::unique_ptr<WaylandConnection> connection_;  // first made, last gone: every proxy below lives on it
  kde_output_management_v2* management_ = nullptr;
  kde_output_device_registry_v2* registry_ = nullptr;  // until KWin finishes it
  kde_output_order_v1* orderProxy_ = nullptr;
  kde_primary_output_v1* primaryProxy_ = nullptr;
  OutputOrder order_;
  std::vector<std::unique_ptr<KdeOutput>> outputs_;  // in the order KWin announced them
  KdeOutput* device_ = nullptr;
};
KdeOutputManagement::~KdeOutputManagement() {
  for (const auto& output : outputs_) {
    for (const auto& mode : output->modes)
      if (mode->proxy) kde_output_device_mode_v2_destroy(mode->proxy);
    if (kde_output_device_v2_get_version(output->proxy) >= KDE_OUTPUT_DEVICE_V2_RELEASE_SINCE_VERSION)
      kde_output_device_v2_release(output->proxy);
    else
      kde_output_device_v2_destroy(output->proxy);
  }
  if (registry_) kde_output_device_registry_v2_destroy(registry_);
  if (orderProxy_) kde_output_order_v1_destroy(orderProxy_);
  if (primaryProxy_ && kde_primary_output_v1_get_version(primaryProxy_) >= kPrimaryDestroySince)
    kde_primary_output_v1_destroy(primaryProxy_);
  else if (primaryProxy_)
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(primaryProxy_));
  if (management_) kde_output_management_v2_destroy(management_);
}

void KdeOutputManagement::OnRegistryOutput(void* data, kde_output_device_registry_v2*, kde_output_device_v2* proxy) {
  static_cast<KdeOutputManagement*>(data)->AddOutput(proxy);
}

/// KWin destroys the registry once it has answered stop.
void KdeOutputManagement::OnRegistryFinished(void* data, kde_output_device_registry_v2* proxy) {
  kde_output_device_registry_v2_destroy(proxy);
  static_cast<KdeOutputManagement*>(data)->registry_ = nullptr;
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
    static const kde_output_device_registry_v2_listener listener = {.finished = OnRegistryFinished,
                                                                    .output = OnRegistryOutput};
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

/// Returns the output that `output` replicates, where it names one that
/// shows a picture; else nullptr.
const KdeOutput* KdeOutputManagement::SourceOf(const KdeOutput& output) const {
  if (output.replicationSource.empty()) return nullptr;
  for (const auto& source : outputs_)
    if (source.get() != &output && source->enabled && !source->removed && source->uuid == output.replicationSource)
      return source.get();
  return nullptr;
}

/// Whether `output` has a place in the layout: it shows a picture, not as a replica.
bool KdeOutputManagement::InLayout(const KdeOutput& output) const {
  return output.enabled && !output.removed && !SourceOf(output);
}

/// The device: the first output in the layout in Plasma's order (or its
/// primary output), else (a KWin that gives neither) the first announced.
KdeOutput* KdeOutputManagement::PickDevice() {
  for (const std::string& name : order_.names)
    for (const auto& output : outputs_)
      if (InLayout(*output) && output->name == name) return output.get();
  for (const auto& output : outputs_)
    if (InLayout(*output)) return output.get();
  return nullptr;
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
    if (!output->done) throw ServiceError(where + ": output " + output->name + " did not announce its whole state");
  device_ = PickDevice();
  if (!device_) throw ServiceError(where + " shows no enabled output");
  device.name = device_->name;
  device.modes = Listed(*device_);
  for (const ModeEntry& entry : device.modes)
    if (device_->modes[*entry.id].get() == device_->current) device.current = entry, device.hasCurrent = true;
  device.bitsPerPel = 32;  // KWin composes every output in 32-bit pixels
}

/// Returns the changes that put `mode` on the device: the device first, then
/// every output unified with it at its position in a mode of the same size,
/// chosen as ChooseMirrorMode does with `refreshHz`. Throws ServiceError when
/// one lacks it. Replicas are left in their own modes, whatever their size.
std::vector<Change> KdeOutputManagement::ChangesFor(const ModeEntry& mode, int32_t refreshHz) const {
  std::vector<Change> changes{{device_, device_->modes[*mode.id].get()}};
  for (const auto& output : outputs_) {
    if (output.get() == device_ || !InLayout(*output) || output->x != device_->x || output->y != device_->y) continue;
    const std::vector<ModeEntry> listed = Listed(*output);
    std::string refusal;
    const std::optional<size_t> chosen =
        ChooseMirrorMode(listed, mode, refreshHz, output->name, device_->name, &refusal);
    if (!chosen) throw ServiceError(refusal);
    changes.push_back({output.get(), output->modes[*listed[*chosen].id].get()});
  }
  return changes;
}

/// Returns the places of the layout, in the order KWin announced their first
/// outputs. Throws ServiceError where an output in it shows no mode.
std::vector<Place> KdeOutputManagement::Places() const {
  std::vector<Place> places;
  for (const auto& output : outputs_) {
    if (!InLayout(*output)) continue;
    if (!output->current || output->current->removed)
      throw ServiceError(kDevice + (" " + output->name) + " shows no mode");
    const Rect rect = PlaceOf(*output, *output->current);
    auto place = places.begin();
    while (place != places.end() && (place->rect.x != rect.x || place->rect.y != rect.y)) ++place;
    if (place == places.end()) place = places.insert(place, {{}, {rect.x, rect.y, 0, 0}});
    place->outputs.push_back(output.get());
    place->rect.width = std::max(place->rect.width, rect.width);
    place->rect.height = std::max(place->rect.height, rect.height);
  }
  return places;
}

/// Sends one configuration: each output of `changes` shows its mode (where
/// it shows another), and the outputs of every place that moves between
/// `places` and `after` move there; the rest of every output's state is left
/// as KWin holds it. Waits for the answer; throws ServiceError on a refusal.
void KdeOutputManagement::Configure(const std::vector<Change>& changes, const std::vector<Place>& places,
                                    const std::vector<Rect>& after) {
  kde_output_configuration_v2* configuration = kde_output_management_v2_create_configuration(management_);
  Answer answer;
  kde_output_configuration_v2_add_listener(configuration, &kConfigurationListener, &answer);
  for (const Change& change : changes)
    if (change.mode != change.output->current)
      kde_output_configuration_v2_mode(configuration, change.output->proxy, change.mode->proxy);
  for (size_t i = 0; i < places.size(); ++i)
    if (after[i].x != places[i].rect.x || after[i].y != places[i].rect.y)
      for (KdeOutput* output : places[i].outputs)
        kde_output_configuration_v2_position(configuration, output->proxy, after[i].x, after[i].y);
  kde_output_configuration_v2_apply(configuration);
  const bool answered = connection_->DispatchUntil([&answer] { return answer.kind != Answer::kNone; });
  kde_output_configuration_v2_destroy(configuration);
  const std::string asked = Describe(*changes[0].mode) + " on " + device_->name;
  if (!answered) throw ServiceError("KWin closed the connection while changing " + asked + ": " + connection_->Error());
  if (answer.kind == Answer::kFailed)
    throw ServiceError("kde_output_configuration_v2: KWin refused " + asked + (answer.reason.empty() ? "" : ": ") +
                       answer.reason);
}

/// Reads back what KWin announced with its answer (it sends an output's new
/// state before `applied`, and a round trip takes in what follows) and
/// throws ServiceError unless every output of `changes` shows its mode.
void KdeOutputManagement::ReadBack(const std::vector<Change>& changes) {
  if (!connection_->Roundtrip())
    throw ServiceError("KWin closed the connection after changing " + device_->name + ": " + connection_->Error());
  for (const Change& change : changes) {
    const KdeMode* shown = change.output->current;
    const std::string line =
        NotShown(change.output->name, EntryOf(*change.mode), shown ? std::optional(EntryOf(*shown)) : std::nullopt);
    if (!line.empty()) throw ServiceError("kde_output_configuration_v2: KWin answered applied, but " + line);
  }
}

/// Puts `mode` on the device and on the outputs unified with it, and moves
/// the other places of the layout by the layout rule, in one configuration;
/// replicas have no place and are left as they are.
void KdeOutputManagement::Apply(const ModeEntry& mode, int32_t refreshHz) {
  const std::vector<Change> changes = ChangesFor(mode, refreshHz);
  const std::vector<Place> places = Places();
  std::vector<Rect> before;
  size_t ours = 0;
  for (const Place& place : places) {
    if (place.rect.x == device_->x && place.rect.y == device_->y) ours = before.size();
    before.push_back(place.rect);
  }
  Rect resized{device_->x, device_->y, 0, 0};
  for (const Change& change : changes) {
    if (!InLayout(*change.output)) continue;
    const Rect rect = PlaceOf(*change.output, *change.mode);
    resized.width = std::max(resized.width, rect.width), resized.height = std::max(resized.height, rect.height);
  }
  // A scale written off KWin's steps sizes an output a unit off ours: where
  // any scale is fractional, one unit apart is touching.
  const bool fractional = std::any_of(outputs_.begin(), outputs_.end(), [](const auto& output) {
    return output->scale != std::floor(output->scale);
  });
  Configure(changes, places, ResizeOrRefuse(before, ours, resized, device_->name, mode, /*slack=*/fractional ? 1 : 0));
  ReadBack(changes);
}

}  // namespace

std::unique_ptr<DisplayService> OpenKdeOutputManagement(std::unique_ptr<WaylandConnection> connection) {
  auto service = std::make_unique<KdeOutputManagement>(std::move(connection));
  service->Load();
  return service;
}

}  // namespace platform
