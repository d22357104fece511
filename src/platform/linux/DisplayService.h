#pragma once

// A display service: what the Linux layer uses to read and change the
// device's mode. One per run, chosen by DisplaySettings.cpp from the session
// (X11 RandR, or a Wayland compositor's own service); each lives in its own
// source file. Not thread-safe: the program has one thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/Modes.h"

namespace platform {

class WaylandConnection;

/// ModeEntry::id of a mode that no list holds: a size built from a request,
/// for a device that takes any size.
constexpr unsigned long kAnySizeMode = ~0ul;

/// The device as a service read it when it was opened.
struct DeviceState {
  std::string name;              ///< the device's name for dmDeviceName
  std::vector<ModeEntry> modes;  ///< the device's modes, in the service's order
  ModeEntry current{};           ///< the mode in force; follows our changes
  bool hasCurrent = false;       ///< false: the device shows no mode it lists
  int16_t bitsPerPel = 0;        ///< bits per pixel of every mode
  bool takesAnySize = false;     ///< a virtual output: a size it lacks is put as kAnySizeMode
};

/// One display service, opened and read.
class DisplayService {
 public:
  virtual ~DisplayService() = default;

  /// Puts `mode`, one of `device.modes` (or a kAnySizeMode where the device
  /// takes any size), on the device; `refreshHz` is the rate asked, as
  /// ChooseMode took it, for any other monitor that must show the same size.
  /// Returns false when the service refused it or failed, having said why on
  /// standard error where the service gave a reason.
  virtual bool Apply(const ModeEntry& mode, int32_t refreshHz) = 0;

  DeviceState device;
};

/// Writes "vistrel: `what`" as one line on standard error.
void SayUnusable(const std::string& what);

/// Opens the X display that DISPLAY names and reads its RandR device.
/// Returns nullptr, having said why on standard error, when it cannot serve.
std::unique_ptr<DisplayService> OpenX11RandR();

/// Opens Mutter's DisplayConfig service on the session bus and reads its
/// device. Returns nullptr either with `absence` set to what was looked for
/// and not found (no libsystemd, no session bus, no such service; nothing is
/// said), or, the service being there but failing, having said why on
/// standard error.
std::unique_ptr<DisplayService> OpenGnomeDisplayConfig(std::string* absence);

/// Reads the heads that `connection`'s zwlr_output_manager_v1 (which it must
/// advertise) announces; the service keeps the connection. Returns nullptr,
/// having said why on standard error, when it cannot serve.
std::unique_ptr<DisplayService> OpenWlrOutputManagement(std::unique_ptr<WaylandConnection> connection);

/// Reads the outputs that `connection`'s kde_output_device_registry_v2, or
/// else its kde_output_device_v2 globals, announce (it must advertise
/// kde_output_management_v2); the service keeps the connection. Returns
/// nullptr, having said why on standard error, when it cannot serve.
std::unique_ptr<DisplayService> OpenKdeOutputManagement(std::unique_ptr<WaylandConnection> connection);

}  // namespace platform
