// The wlroots family's display service: zwlr_output_manager_v1, which sway,
// Hyprland, river, labwc, Wayfire, niri, COSMIC and phoc offer. The manager
// announces every head (an output, enabled or not) with its modes and state,
// then a serial; a change is one configuration quoting that serial that names
// every head, enabled with its state or disabled, as the protocol requires.
// It lasts until the compositor's own configuration is loaded again.
//
// Read, then decide, then write: the listeners only fill the plain structs
// below; the device, the modes and the layout follow from them.

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/DisplayService.h"
#include "platform/linux/Layout.h"
#include "platform/linux/services/WaylandClient.h"
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
  void Apply(const ModeEntry& mode, int32_t refreshHz) override;

  // What the listeners fill.
  std::vector<std::unique_ptr<WlrHead>> heads;  // in the order announced
  uint32_t serial = 0;                          // the state's serial, which a configuration quotes
  bool haveSerial = false;
  Answer answer = Answer::kNone;

 private:
  std::vector<Rect> LayoutFor(const ModeEntry& mode) const;
  bool SendConfiguration(const ModeEntry& mode, const std::vector<Rect>& layout);
  void ReleaseHead(WlrHead& head);

  std::unique_ptr<WaylandConnection> connection_;  // outlives every proxy: the destructor releases them
  zwlr_output_manager_v1* manager_ = nullptr;
  uint32_t version_ = 0;
  WlrHead* device_ = nullptr;
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
  ServiceOf(data).serial = serial, ServiceOf(data).haveSerial = true;
}
void OnManagerFinished(void*, zwlr_output_manager_v1*) {}
const zwlr_output_manager_v1_listener kManagerListener = {
    .head = OnHead, .done = OnDone, .finished = OnManagerFinished};

void OnSucceeded(void* data, zwlr_output_configuration_v1*) { ServiceOf(data).answer = Answer::kSucceeded; }
void OnFailed(void* data, zwlr_output_configuration_v1*) { ServiceOf(data).answer = Answer::kFailed; }
void OnCancelled(void* data, zwlr_output_configuration_v1*) { ServiceOf(data).answer = Answer::kCancelled; }
const zwlr_output_configuration_v1_listener kConfigurationListener = {
    .succeeded = OnSucceeded, .failed = OnFailed, .cancelled = OnCancelled};

/// Returns the device among `heads`: the enabled head at the layout's origin,
/// where a desktop puts its primary display, else the first enabled head;
/// nullptr when none is enabled.
WlrHead* DeviceOf(const std::vector<std::unique_ptr<WlrHead>>& heads) {
  for (const auto& head : heads)
    if (head->enabled && head->x == 0 && head->y == 0) return head.get();
  for (const auto& head : heads)
    if (head->enabled) return head.get();
  return nullptr;
}

/// Returns `mode` as the mode list gives it: the id is its place in
/// `head`'s list. Throws ServiceError when the head did not announce it.
ModeEntry EntryOf(const WlrHead& head, const WlrMode& mode) {
  const auto isIt = [&mode](const std::unique_ptr<WlrMode>& announced) { return announced.get() == &mode; };
  const auto found = std::find_if(head.modes.begin(), head.modes.end(), isIt);
  if (found == head.modes.end())
    throw ServiceError("zwlr_output_head_v1 " + head.name + ": its current mode is none of the modes it announced");
  const auto id = static_cast<unsigned long>(found - head.modes.begin());
  return {id, mode.width, mode.height, mode.refresh / 1000.0, /*interlaced=*/false, mode.preferred};  // mHz to Hz
}

/// Returns where `head` is in the layout when it shows `width` by `height` pixels.
Rect PlaceOf(const WlrHead& head, int32_t width, int32_t height) {
  return platform::PlaceOf(head.x, head.y, width, height, static_cast<uint32_t>(head.transform),
                           wl_fixed_to_double(head.scale));
}

WlrOutputManagement::~WlrOutputManagement() {
  for (auto& head : heads) ReleaseHead(*head);
  if (manager_) zwlr_output_manager_v1_destroy(manager_);
}

/// Destroys `proxy`, telling the compositor where its version has the request `release`.
template <typename Proxy>
void Release(uint32_t version, Proxy* proxy, void (*release)(Proxy*)) {
  if (version >= kReleaseSince)
    release(proxy);
  else
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(proxy));
}

void WlrOutputManagement::ReleaseHead(WlrHead& head) {
  for (auto& mode : head.modes) Release(version_, mode->proxy, zwlr_output_mode_v1_release);
  Release(version_, head.proxy, zwlr_output_head_v1_release);
}

void WlrOutputManagement::Load() {
  const WaylandGlobal& global = *connection_->Find(zwlr_output_manager_v1_interface.name);
  manager_ = static_cast<zwlr_output_manager_v1*>(
      connection_->Bind(global, &zwlr_output_manager_v1_interface, kVersion));
  version_ = zwlr_output_manager_v1_get_version(manager_);
  zwlr_output_manager_v1_add_listener(manager_, &kManagerListener, this);
  if (!connection_->DispatchUntil([this] { return haveSerial; }))
    throw ServiceError("zwlr_output_manager_v1 on " + connection_->Where() + ": " + connection_->Error());
  device_ = DeviceOf(heads);
  if (!device_) throw ServiceError("zwlr_output_manager_v1 on " + connection_->Where() + " shows no enabled head");
  device.name = device_->name;
  for (const auto& mode : device_->modes)
    if (!mode->finished) device.modes.push_back(EntryOf(*device_, *mode));
  device.hasCurrent = device_->current != nullptr;
  if (device.hasCurrent) device.current = EntryOf(*device_, *device_->current);
  device.bitsPerPel = 32;  // wlroots composes every output in 32-bit pixels
  // A headless, nested or remote output has no size in millimetres and no
  // list beyond the mode in force: it shows whatever size it is given.
  device.takesAnySize = !device_->physicalSize && device.modes.size() <= (device.hasCurrent ? 1u : 0u);
}

/// Returns where every head goes (beside `heads`; disabled heads stay as
/// they are) when the device shows `mode`, by the outputs' shared layout
/// rule; throws ServiceError when no layout keeps them together.
std::vector<Rect> WlrOutputManagement::LayoutFor(const ModeEntry& mode) const {
  std::vector<Rect> before;  // the enabled heads
  size_t ours = 0;
  for (const auto& head : heads) {
    if (!head->enabled) continue;
    if (head.get() == device_) ours = before.size();
    const WlrMode* shown = head->current;
    before.push_back(shown ? PlaceOf(*head, shown->width, shown->height) : PlaceOf(*head, 0, 0));
  }
  const std::vector<Rect> after =
      ResizeOrRefuse(before, ours, PlaceOf(*device_, mode.width, mode.height), device.name, mode);
  std::vector<Rect> layout;
  size_t next = 0;
  for (const auto& head : heads) layout.push_back(head->enabled ? after[next++] : PlaceOf(*head, 0, 0));
  return layout;
}

/// Sends one configuration: every head as it is but for its place in
/// `layout`, the device showing `mode`; then waits for the answer.
bool WlrOutputManagement::SendConfiguration(const ModeEntry& mode, const std::vector<Rect>& layout) {
  zwlr_output_configuration_v1* configuration = zwlr_output_manager_v1_create_configuration(manager_, serial);
  zwlr_output_configuration_v1_add_listener(configuration, &kConfigurationListener, this);
  for (size_t i = 0; i < heads.size(); ++i) {
    const WlrHead* head = heads[i].get();
    if (!head->enabled) {
      zwlr_output_configuration_v1_disable_head(configuration, head->proxy);
      continue;
    }
    auto* state = zwlr_output_configuration_v1_enable_head(configuration, head->proxy);
    if (head == device_ && !mode.id)
      zwlr_output_configuration_head_v1_set_custom_mode(state, mode.width, mode.height,
                                                        static_cast<int32_t>(std::lround(mode.refresh * 1000)));  // mHz
    else if (head == device_)
      zwlr_output_configuration_head_v1_set_mode(state, device_->modes[*mode.id]->proxy);
    else if (head->current && !head->current->finished)  // else the compositor keeps the one in force
      zwlr_output_configuration_head_v1_set_mode(state, head->current->proxy);
    zwlr_output_configuration_head_v1_set_position(state, layout[i].x, layout[i].y);
    zwlr_output_configuration_head_v1_set_transform(state, head->transform);
    zwlr_output_configuration_head_v1_set_scale(state, head->scale);
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(state));  // has no destructor request; the configuration holds it
  }
  answer = Answer::kNone;
  zwlr_output_configuration_v1_apply(configuration);
  const bool answered = connection_->DispatchUntil([this] { return answer != Answer::kNone; });
  zwlr_output_configuration_v1_destroy(configuration);
  return answered;
}

void WlrOutputManagement::Apply(const ModeEntry& mode, int32_t /*refreshHz*/) {
  const std::vector<Rect> layout = LayoutFor(mode);
  const std::string change = device.name + " to " + std::to_string(mode.width) + "x" + std::to_string(mode.height) +
                             " at " + std::to_string(WholeHz(mode.refresh)) + " Hz";
  if (!SendConfiguration(mode, layout))
    throw ServiceError("the compositor ended the connection during the change of " + change + ": " +
                       connection_->Error());
  if (answer == Answer::kCancelled)
    throw ServiceError("the compositor cancelled the change of " + change + ": its outputs changed meanwhile");
  if (answer == Answer::kFailed) throw ServiceError("the compositor failed to apply the change of " + change);
}

}  // namespace

std::unique_ptr<DisplayService> OpenWlrOutputManagement(std::unique_ptr<WaylandConnection> connection) {
  auto service = std::make_unique<WlrOutputManagement>(std::move(connection));
  service->Load();
  return service;
}

}  // namespace platform
