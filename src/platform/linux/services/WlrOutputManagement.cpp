// The wlroots family's display service: zwlr_output_manager_v1, which sway,
// Hyprland, river, labwc, Wayfire, niri, COSMIC and phoc offer. The manager
// announces every head (an output, enabled or not) with its modes and state,
// then a serial; a change is one configuration quoting that serial that names
// every head, as the protocol requires, and states each enabled head's mode
// and place (WlrChange.cpp decides them). It lasts until the compositor's own
// configuration is loaded again.
//
// Read, then decide, then write: the listeners only fill the plain structs
// below; the device, the modes and the layout follow from them.

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/DisplayService.h"
#include "platform/linux/services/WaylandClient.h"
#include "platform/linux/services/WlrChange.h"
#include "wlr-output-management-unstable-v1-client-protocol.h"

namespace platform {
namespace {

constexpr uint32_t kVersion = 4;       // the highest version this client knows
constexpr uint32_t kReleaseSince = 3;  // heads and modes are released, not only forgotten

/// One mode of a head, as the compositor announced it.
struct WlrMode {
  zwlr_output_mode_v1* proxy = nullptr;
  int32_t width = 0, height = 0;  // pixels
  int32_t refresh = 0;            // mHz; 0: not given
  bool preferred = false;
  bool finished = false;          // no longer offered: never listed, never sent
};

/// One head: an output, enabled (showing part of the layout) or not.
struct WlrHead {
  zwlr_output_head_v1* proxy = nullptr;
  std::string name;
  std::vector<std::unique_ptr<WlrMode>> modes;  // in the compositor's order
  bool physicalSize = false;  // a size in millimetres was given: a real monitor
  bool enabled = false;
  WlrMode* current = nullptr;  // the mode in force, one of `modes`
  int32_t x = 0, y = 0;        // layout units
  int32_t transform = 0;       // wl_output.transform: 0 normal, 1 90°, 2 180°, 3 270°, 4-7 the same flipped
  wl_fixed_t scale = wl_fixed_from_int(1);
};

/// The configuration's answer, while it is awaited and after.
enum class Answer { kNone, kSucceeded, kFailed, kCancelled };

/// The heads that the manager announced, and the device among them.
class WlrOutputManagement : public DisplayService {
 public:
  explicit WlrOutputManagement(std::unique_ptr<WaylandConnection> connection)
      : connection_(std::move(connection)) {}
  ~WlrOutputManagement() override;
  /// Binds the manager and reads every head; throws ServiceError.
  void Load();
  std::string Apply(const ModeEntry& mode, int32_t refreshHz) override;
  std::vector<Shown> ReadBack() override;

  // What the listeners fill.
  std::vector<std::unique_ptr<WlrHead>> heads;  // in the order announced
  uint32_t serial = 0;                          // the state's serial, which a configuration quotes
  unsigned dones = 0;                           // states announced whole (`done` events) so far
  bool finished = false;                        // the compositor ended the manager: no more states, no answers
  Answer answer = Answer::kNone;

 private:
  std::vector<WlrHeadState> States() const;
  bool SendConfiguration(const std::vector<WlrHeadChange>& changes);
  bool AwaitState(const ModeEntry& mode, unsigned sentAt);
  void ReleaseHead(WlrHead& head);

  std::unique_ptr<WaylandConnection> connection_;  // outlives every proxy: the destructor releases them
  zwlr_output_manager_v1* manager_ = nullptr;
  WlrHead* device_ = nullptr;
  std::vector<WlrHeadChange> changes_;  // what the last change sent, for the heads in order
};

// The listeners: each one only records what the compositor said.

void OnModeSize(void* data, zwlr_output_mode_v1*, int32_t width, int32_t height) {
  static_cast<WlrMode*>(data)->width = width, static_cast<WlrMode*>(data)->height = height;
}
void OnModeRefresh(void* data, zwlr_output_mode_v1*, int32_t refresh) {
  static_cast<WlrMode*>(data)->refresh = refresh;
}
void OnModePreferred(void* data, zwlr_output_mode_v1*) { static_cast<WlrMode*>(data)->preferred = true; }
void OnModeFinished(void* data, zwlr_output_mode_v1*) { static_cast<WlrMode*>(data)->finished = true; }
const zwlr_output_mode_v1_listener kModeListener = {
    .size = OnModeSize, .refresh = OnModeRefresh, .preferred = OnModePreferred, .finished = OnModeFinished};

WlrHead& HeadOf(void* data) { return *static_cast<WlrHead*>(data); }
void OnHeadName(void* data, zwlr_output_head_v1*, const char* name) { HeadOf(data).name = name; }
void OnHeadText(void*, zwlr_output_head_v1*, const char*) {}  // description, make, model, serial number
void OnHeadPhysicalSize(void* data, zwlr_output_head_v1*, int32_t width, int32_t height) {
  HeadOf(data).physicalSize = width > 0 && height > 0;
}
void OnHeadMode(void* data, zwlr_output_head_v1*, zwlr_output_mode_v1* proxy) {
  HeadOf(data).modes.push_back(std::make_unique<WlrMode>());
  WlrMode* mode = HeadOf(data).modes.back().get();
  mode->proxy = proxy;
  zwlr_output_mode_v1_add_listener(proxy, &kModeListener, mode);
}
void OnHeadEnabled(void* data, zwlr_output_head_v1*, int32_t enabled) { HeadOf(data).enabled = enabled != 0; }
void OnHeadCurrentMode(void* data, zwlr_output_head_v1*, zwlr_output_mode_v1* proxy) {
  HeadOf(data).current = static_cast<WlrMode*>(zwlr_output_mode_v1_get_user_data(proxy));
}
void OnHeadPosition(void* data, zwlr_output_head_v1*, int32_t x, int32_t y) { HeadOf(data).x = x, HeadOf(data).y = y; }
void OnHeadTransform(void* data, zwlr_output_head_v1*, int32_t transform) { HeadOf(data).transform = transform; }
void OnHeadScale(void* data, zwlr_output_head_v1*, wl_fixed_t scale) { HeadOf(data).scale = scale; }
void OnHeadFinished(void*, zwlr_output_head_v1*) {}  // a head unplugged: the next configuration is cancelled
void OnHeadAdaptiveSync(void*, zwlr_output_head_v1*, uint32_t) {}
const zwlr_output_head_v1_listener kHeadListener = {
    .name = OnHeadName, .description = OnHeadText, .physical_size = OnHeadPhysicalSize, .mode = OnHeadMode,
    .enabled = OnHeadEnabled, .current_mode = OnHeadCurrentMode, .position = OnHeadPosition,
    .transform = OnHeadTransform, .scale = OnHeadScale, .finished = OnHeadFinished, .make = OnHeadText,
    .model = OnHeadText, .serial_number = OnHeadText, .adaptive_sync = OnHeadAdaptiveSync};

WlrOutputManagement& ServiceOf(void* data) { return *static_cast<WlrOutputManagement*>(data); }
void OnHead(void* data, zwlr_output_manager_v1*, zwlr_output_head_v1* proxy) {
  ServiceOf(data).heads.push_back(std::make_unique<WlrHead>());
  WlrHead* head = ServiceOf(data).heads.back().get();
  head->proxy = proxy;
  zwlr_output_head_v1_add_listener(proxy, &kHeadListener, head);
}
void OnDone(void* data, zwlr_output_manager_v1*, uint32_t serial) {
  ServiceOf(data).serial = serial, ++ServiceOf(data).dones;
}
void OnManagerFinished(void* data, zwlr_output_manager_v1*) { ServiceOf(data).finished = true; }
const zwlr_output_manager_v1_listener kManagerListener = {
    .head = OnHead, .done = OnDone, .finished = OnManagerFinished};

void OnSucceeded(void* data, zwlr_output_configuration_v1*) { ServiceOf(data).answer = Answer::kSucceeded; }
void OnFailed(void* data, zwlr_output_configuration_v1*) { ServiceOf(data).answer = Answer::kFailed; }
void OnCancelled(void* data, zwlr_output_configuration_v1*) { ServiceOf(data).answer = Answer::kCancelled; }
const zwlr_output_configuration_v1_listener kConfigurationListener = {
    .succeeded = OnSucceeded, .failed = OnFailed, .cancelled = OnCancelled};

/// Returns `mode` as the mode list gives it: the id is its place in
/// `head`'s list. Throws ServiceError when the head did not announce it.
ModeEntry EntryOf(const WlrHead& head, const WlrMode& mode) {
  const auto isIt = [&mode](const std::unique_ptr<WlrMode>& announced) { return announced.get() == &mode; };
  const auto found = std::find_if(head.modes.begin(), head.modes.end(), isIt);
  if (found == head.modes.end())
    throw ServiceError("zwlr_output_head_v1 " + head.name + ": its current mode is none of the modes it announced");
  const auto id = static_cast<unsigned long>(found - head.modes.begin());
  return {id, mode.width, mode.height, HzOf(mode.refresh), /*interlaced=*/false, mode.preferred};
}

/// Returns `head` as the rules see it.
WlrHeadState StateOf(const WlrHead& head) {
  WlrHeadState state;
  state.name = head.name, state.enabled = head.enabled, state.x = head.x, state.y = head.y;
  state.transform = static_cast<uint32_t>(head.transform), state.scale = head.scale;
  for (const auto& mode : head.modes)
    if (!mode->finished) state.modes.push_back(EntryOf(head, *mode));
  if (head.current) state.current = EntryOf(head, *head.current);
  // A headless, nested or remote output has no size in millimetres and no
  // list beyond the mode in force: it shows whatever size it is given.
  state.takesAnySize = !head.physicalSize && state.modes.size() <= (state.current ? 1u : 0u);
  return state;
}

WlrOutputManagement::~WlrOutputManagement() {
  for (auto& head : heads) ReleaseHead(*head);
  if (manager_) zwlr_output_manager_v1_destroy(manager_);
}

void WlrOutputManagement::ReleaseHead(WlrHead& head) {
  for (auto& mode : head.modes) Release(mode->proxy, kReleaseSince, zwlr_output_mode_v1_release);
  Release(head.proxy, kReleaseSince, zwlr_output_head_v1_release);
}

void WlrOutputManagement::Load() {
  const WaylandGlobal& global = *connection_->Find(zwlr_output_manager_v1_interface.name);
  manager_ = static_cast<zwlr_output_manager_v1*>(
      connection_->Bind(global, &zwlr_output_manager_v1_interface, kVersion));
  zwlr_output_manager_v1_add_listener(manager_, &kManagerListener, this);
  const std::string where = "zwlr_output_manager_v1 on " + connection_->Where();
  if (!connection_->DispatchUntil([this] { return dones > 0 || finished; }))
    throw ServiceError(where + ": " + connection_->Error());
  if (finished) throw ServiceError(where + ": the compositor ended the manager");
  const std::vector<WlrHeadState> states = States();
  const std::optional<size_t> chosen = WlrDeviceOf(states);
  if (!chosen) throw ServiceError(where + " shows no enabled head");
  device_ = heads[*chosen].get();
  if (!states[*chosen].current) RequireModesInForce(states);
  device.name = device_->name;
  device.modes = states[*chosen].modes;
  device.current = *states[*chosen].current;
  device.hasCurrent = true;
  device.bitsPerPel = 32;  // wlroots composes every output in 32-bit pixels
  device.takesAnySize = states[*chosen].takesAnySize;
}

/// Returns every head as the rules see it, in the order announced.
std::vector<WlrHeadState> WlrOutputManagement::States() const {
  std::vector<WlrHeadState> states;
  for (const auto& head : heads) states.push_back(StateOf(*head));
  return states;
}

/// Sends one configuration that names every head, as the protocol requires
/// (a disabled one stays disabled), each enabled one with the mode and place
/// `changes` gives it and nothing else. Then waits for the answer.
bool WlrOutputManagement::SendConfiguration(const std::vector<WlrHeadChange>& changes) {
  zwlr_output_configuration_v1* configuration = zwlr_output_manager_v1_create_configuration(manager_, serial);
  zwlr_output_configuration_v1_add_listener(configuration, &kConfigurationListener, this);
  for (size_t i = 0; i < heads.size(); ++i) {
    const WlrHead& head = *heads[i];
    const WlrHeadChange& change = changes[i];
    if (!head.enabled) {
      zwlr_output_configuration_v1_disable_head(configuration, head.proxy);
      continue;
    }
    auto* state = zwlr_output_configuration_v1_enable_head(configuration, head.proxy);
    if (change.mode && change.mode->id)
      zwlr_output_configuration_head_v1_set_mode(state, head.modes[*change.mode->id]->proxy);
    else if (change.mode)
      zwlr_output_configuration_head_v1_set_custom_mode(state, change.mode->width, change.mode->height,
                                                        static_cast<int32_t>(std::lround(change.mode->refresh * 1000)));
    if (change.place) zwlr_output_configuration_head_v1_set_position(state, change.place->x, change.place->y);
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(state));  // has no destructor request; the configuration holds it
  }
  answer = Answer::kNone;
  zwlr_output_configuration_v1_apply(configuration);
  const bool answered = connection_->DispatchUntil([this] { return answer != Answer::kNone || finished; });
  zwlr_output_configuration_v1_destroy(configuration);
  return answered && !finished;
}

/// Waits for the heads' state after the compositor said it succeeded: the
/// state it sends next, which a round trip brings where it applies at once
/// (and where nothing changed, no new state comes). A state sent since the
/// configuration (`sentAt` states before it), before the answer, is taken
/// when the device shows `mode` in it (Hyprland sends the heads' new state
/// after its `done`); so is one that shows every head as it was sent.
/// Returns false when no new state came within the bound though the device
/// does not show `mode` yet.
bool WlrOutputManagement::AwaitState(const ModeEntry& mode, unsigned sentAt) {
  const unsigned before = dones;
  if (!connection_->Roundtrip()) return false;
  const auto shown = [this, &mode] {
    const WlrHeadState head = StateOf(*device_);
    return head.enabled && Shows(head.current, mode);
  };
  if (dones > before || (shown() && (dones > sentAt || WlrMisplaced(States(), changes_).empty()))) return true;
  const bool answered = connection_->DispatchUntil([this, before] { return dones > before || finished; });
  return !finished && (answered || shown());
}

std::string WlrOutputManagement::Apply(const ModeEntry& mode, int32_t refreshHz) {
  const auto ours = std::find_if(heads.begin(), heads.end(), [this](const auto& h) { return h.get() == device_; });
  changes_ = PlanWlrChange(States(), static_cast<size_t>(ours - heads.begin()), mode, refreshHz);
  const std::string change =
      device.name + " to " + SizeText(mode.width, mode.height) + " at " + std::to_string(WholeHz(mode.refresh)) + " Hz";
  const auto ended = [this, &change] {
    return ServiceError(finished ? "the compositor ended its output manager during the change of " + change
                                 : "the compositor did not complete the change of " + change + ": " +
                                       connection_->Error());
  };
  const unsigned sentAt = dones;
  if (!SendConfiguration(changes_)) throw ended();
  if (answer == Answer::kCancelled)
    throw ServiceError("the compositor cancelled the change of " + change + ": its outputs changed meanwhile");
  if (answer == Answer::kFailed) throw ServiceError("the compositor failed to apply the change of " + change);
  if (!AwaitState(mode, sentAt)) throw ended();
  return "the compositor answered that it applied the change of " + change;
}

/// Returns the heads as the state that followed the answer shows them. A
/// head put elsewhere than sent is a notice, and the change stands: it is
/// the modes that decide.
std::vector<Shown> WlrOutputManagement::ReadBack() {
  const std::vector<WlrHeadState> states = States();
  notices = WlrMisplaced(states, changes_);
  std::vector<Shown> shown;  // a head announced since the change was not in it
  for (size_t i = 0; i < std::min(states.size(), changes_.size()); ++i)
    if (changes_[i].mode)
      shown.push_back({states[i].name, *changes_[i].mode, states[i].enabled ? states[i].current : std::nullopt});
  return shown;
}

}  // namespace

std::unique_ptr<DisplayService> OpenWlrOutputManagement(std::unique_ptr<WaylandConnection> connection) {
  auto service = std::make_unique<WlrOutputManagement>(std::move(connection));
  service->Load();
  return service;
}

}  // namespace platform
