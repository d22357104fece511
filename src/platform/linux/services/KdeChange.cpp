#include "platform/linux/services/KdeChange.h"

#include "platform/linux/ServiceError.h"

namespace platform {
namespace {

/// Returns where `output` is in the layout when it shows `mode`: KWin divides
/// the mode's size, turned, by the scale and rounds it (KWin 5.27 and 6.3 its
/// size, 6.7 its edges, which is the same at a whole position).
Rect PlaceOf(const KdeOutputState& output, const ModeEntry& mode) {
  return platform::PlaceOf(output.x, output.y, mode.width, mode.height, output.transform, output.scale);
}

/// Returns the places of the outputs in the layout (nothing for the others)
/// as they are. Throws ServiceError where one shows no mode.
std::vector<std::optional<Rect>> PlacesNow(const std::vector<KdeOutputState>& outputs) {
  std::vector<std::optional<Rect>> places(outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (!KdeInLayout(outputs, i)) continue;
    if (!outputs[i].current) throw ServiceError("kde_output_device_v2 " + outputs[i].name + " shows no mode");
    places[i] = PlaceOf(outputs[i], *outputs[i].current);
  }
  return places;
}

}  // namespace

bool KdeInLayout(const std::vector<KdeOutputState>& outputs, size_t i) {
  const KdeOutputState& output = outputs[i];
  if (!output.enabled) return false;
  for (size_t j = 0; j < outputs.size() && !output.replicationSource.empty(); ++j)
    if (j != i && outputs[j].enabled && outputs[j].uuid == output.replicationSource) return false;
  return true;
}

std::optional<size_t> KdeDeviceOf(const std::vector<KdeOutputState>& outputs, const std::vector<std::string>& order) {
  for (const std::string& name : order)
    for (size_t i = 0; i < outputs.size(); ++i)
      if (KdeInLayout(outputs, i) && outputs[i].name == name) return i;
  for (size_t i = 0; i < outputs.size(); ++i)
    if (KdeInLayout(outputs, i)) return i;
  return std::nullopt;
}

std::vector<KdeOutputChange> PlanKdeChange(const std::vector<KdeOutputState>& outputs, size_t device,
                                           const ModeEntry& mode, int32_t refreshHz) {
  const KdeOutputState& ours = outputs[device];
  std::vector<KdeOutputChange> changes(outputs.size());
  changes[device].mode = mode;
  Rect resized = PlaceOf(ours, mode);
  // Outputs unified with the device at its position take the same size.
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (i == device || !KdeInLayout(outputs, i) || outputs[i].x != ours.x || outputs[i].y != ours.y) continue;
    changes[i].mode = outputs[i].modes[ChooseMirrorMode(outputs[i].modes, mode, refreshHz, outputs[i].name, ours.name)];
    Cover(resized, PlaceOf(outputs[i], *changes[i].mode));
  }
  std::vector<size_t> groupOf;
  const std::vector<Rect> before = PlacesByCorner(PlacesNow(outputs), groupOf);
  std::vector<double> scales;
  for (const KdeOutputState& output : outputs) scales.push_back(output.scale);
  const std::vector<Rect> after = ResizeOrRefuse(before, groupOf[device], resized, ours.name, mode, ScaleSlack(scales));
  for (size_t i = 0; i < outputs.size(); ++i) {
    const size_t group = groupOf[i];
    if (group < before.size() && (after[group].x != before[group].x || after[group].y != before[group].y))
      changes[i].place = after[group];
  }
  return changes;
}

}  // namespace platform
