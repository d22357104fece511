#include "platform/linux/services/KdeOutputs.h"

namespace platform {
namespace {

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
const kde_output_device_mode_v2_listener kModeListener = {
    .size = OnModeSize, .refresh = OnModeRefresh, .preferred = OnModePreferred, .removed = OnModeRemoved,
    .flags = OnModeFlags};

KdeOutput& OutputOf(void* data) { return *static_cast<KdeOutput*>(data); }
void OnGeometry(void* data, kde_output_device_v2*, int32_t x, int32_t y, int32_t /*physicalWidth*/,
                int32_t /*physicalHeight*/, int32_t /*subpixel*/, const char* /*make*/, const char* model,
                int32_t transform) {
  KdeOutputState& output = OutputOf(data).state;
  output.x = x, output.y = y, output.transform = static_cast<uint32_t>(transform);
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
void OnScale(void* data, kde_output_device_v2*, wl_fixed_t scale) { OutputOf(data).state.scale = HeldScale(scale); }
void OnEnabled(void* data, kde_output_device_v2*, int32_t enabled) { OutputOf(data).state.enabled = enabled != 0; }
void OnName(void* data, kde_output_device_v2*, const char* name) { OutputOf(data).state.name = name; }
void OnUuid(void* data, kde_output_device_v2*, const char* uuid) { OutputOf(data).state.uuid = uuid; }
void OnReplicationSource(void* data, kde_output_device_v2*, const char* uuid) {
  OutputOf(data).state.replicationSource = uuid;
}
void OnOutputRemoved(void* data, kde_output_device_v2*) { OutputOf(data).removed = true; }
/// An event of an output's settings that vistrel leaves as they are.
template <typename... Values>
void Unused(void*, kde_output_device_v2*, Values...) {}
// Plasma's order comes from kde_output_order_v1 in every version, so `priority` is not needed.
}  // namespace

const kde_output_device_v2_listener kOutputListener = {
    .geometry = OnGeometry, .current_mode = OnCurrentMode, .mode = OnMode, .done = OnOutputDone, .scale = OnScale,
    .edid = Unused<const char*>, .enabled = OnEnabled, .uuid = OnUuid, .serial_number = Unused<const char*>,
    .eisa_id = Unused<const char*>, .capabilities = Unused<uint32_t>, .overscan = Unused<uint32_t>,
    .vrr_policy = Unused<uint32_t>, .rgb_range = Unused<uint32_t>, .name = OnName,
    .high_dynamic_range = Unused<uint32_t>, .sdr_brightness = Unused<uint32_t>,
    .wide_color_gamut = Unused<uint32_t>, .auto_rotate_policy = Unused<uint32_t>,
    .icc_profile_path = Unused<const char*>, .brightness_metadata = Unused<uint32_t, uint32_t, uint32_t>,
    .brightness_overrides = Unused<int32_t, int32_t, int32_t>, .sdr_gamut_wideness = Unused<uint32_t>,
    .color_profile_source = Unused<uint32_t>, .brightness = Unused<uint32_t>,
    .color_power_tradeoff = Unused<uint32_t>, .dimming = Unused<uint32_t>,
    .replication_source = OnReplicationSource, .ddc_ci_allowed = Unused<uint32_t>,
    .max_bits_per_color = Unused<uint32_t>, .max_bits_per_color_range = Unused<uint32_t, uint32_t>,
    .automatic_max_bits_per_color_limit = Unused<uint32_t>, .edr_policy = Unused<uint32_t>,
    .sharpness = Unused<uint32_t>, .priority = Unused<uint32_t>, .auto_brightness = Unused<uint32_t>,
    .removed = OnOutputRemoved};

namespace {

OutputOrder& OrderOf(void* data) { return *static_cast<OutputOrder*>(data); }
void OnOrderedOutput(void* data, kde_output_order_v1*, const char* name) {
  if (OrderOf(data).done) OrderOf(data).names.clear(), OrderOf(data).done = false;
  OrderOf(data).names.push_back(name);
}
void OnOrderDone(void* data, kde_output_order_v1*) { OrderOf(data).done = true; }
}  // namespace

const kde_output_order_v1_listener kOrderListener = {.output = OnOrderedOutput, .done = OnOrderDone};

namespace {

/// The primary output alone is Plasma's order where it has no other.
void OnPrimaryOutput(void* data, kde_primary_output_v1*, const char* name) { OrderOf(data).names = {name}; }
}  // namespace

const kde_primary_output_v1_listener kPrimaryListener = {.primary_output = OnPrimaryOutput};

namespace {
Answer& AnswerOf(void* data) { return *static_cast<Answer*>(data); }
void OnApplied(void* data, kde_output_configuration_v2*) { AnswerOf(data).kind = Answer::kApplied; }
void OnFailed(void* data, kde_output_configuration_v2*) { AnswerOf(data).kind = Answer::kFailed; }
void OnFailureReason(void* data, kde_output_configuration_v2*, const char* reason) { AnswerOf(data).reason = reason; }
}  // namespace

const kde_output_configuration_v2_listener kConfigurationListener = {
    .applied = OnApplied, .failed = OnFailed, .failure_reason = OnFailureReason};

/// Returns `output` as the rules see it: a mode's id is its place in `output.modes`.
KdeOutputState StateOf(const KdeOutput& output) {
  KdeOutputState state = output.state;
  for (size_t i = 0; i < output.modes.size(); ++i) {
    const KdeMode& mode = *output.modes[i];
    if (mode.removed) continue;
    state.modes.push_back({i, mode.width, mode.height, HzOf(mode.refresh), /*interlaced=*/false, mode.preferred});
    if (&mode == output.current) state.current = state.modes.back();
  }
  state.enabled = state.enabled && !output.removed;
  return state;
}

}  // namespace platform
