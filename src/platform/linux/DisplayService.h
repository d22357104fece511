#pragma once

// A display service: what the Linux layer uses to read and change the
// device's mode. One per run, chosen by DisplaySettings.cpp from the session
// (X11 RandR, or a Wayland compositor's own service); each lives in its own
// source file. Not thread-safe: the program has one thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/Modes.h"
#include "platform/linux/ServiceError.h"

namespace platform {

class WaylandConnection;

/// The device as a service read it when it was opened.
struct DeviceState {
  std::string name;              ///< the device's name for dmDeviceName
  std::vector<ModeEntry> modes;  ///< the device's modes, in the service's order
  ModeEntry current{};           ///< the mode in force; follows our changes
  bool hasCurrent = false;       ///< false: the device shows no mode it lists
  int16_t bitsPerPel = 0;        ///< bits per pixel of every mode
  bool takesAnySize = false;     ///< a virtual output: a size it lacks is put as a mode without id
};

/// What one output was given by a change, and what it shows when read again.
struct Shown {
  std::string output;
  ModeEntry asked;
  std::optional<ModeEntry> now;  ///< nothing: it shows no mode
};

/// One display service, opened and read. A change is Apply, then ReadBack:
/// the chooser (DisplaySettings.cpp) believes it only when every output
/// given a mode Shows it.
class DisplayService {
 public:
  virtual ~DisplayService() = default;

  /// Puts `mode`, one of `device.modes` (or, without id, a size of its own
  /// where the device takes any size), on the device, and waits, bounded,
  /// for the service's answer; `refreshHz` is the rate asked, as ChooseMode
  /// took it, for any other monitor that must show the same size. Returns
  /// what the service answered, to lead the line where an output does not
  /// show what it was given. Throws ServiceError when the service refused
  /// it or failed.
  virtual std::string Apply(const ModeEntry& mode, int32_t refreshHz) = 0;

  /// Reads the outputs again after Apply (bounded) and returns each output
  /// that the change gave a mode, the device included, with what it shows now.
  /// Throws ServiceError when the service cannot be read.
  virtual std::vector<Shown> ReadBack() = 0;

  DeviceState device;
  /// Lines for the user about a change that stands, that ReadBack found
  /// (an output put elsewhere than asked); the chooser tells them.
  std::vector<std::string> notices;
};

/// Serves the display settings calls from `service` from now on, in place
/// of the one the session offers: how the tests put a scripted service there.
void UseDisplayService(std::unique_ptr<DisplayService> service);

/// Opens the X display that DISPLAY names and reads its RandR device.
/// Throws ServiceError when it cannot serve.
std::unique_ptr<DisplayService> OpenX11RandR();

/// Opens Mutter's DisplayConfig service on the session bus and reads its
/// device. Throws ServiceError, marked absent where libsystemd, the session
/// bus or the service is not there.
std::unique_ptr<DisplayService> OpenGnomeDisplayConfig();

/// Reads the heads that `connection`'s zwlr_output_manager_v1 (which it must
/// advertise) announces; the service keeps the connection. Throws
/// ServiceError when it cannot serve.
std::unique_ptr<DisplayService> OpenWlrOutputManagement(std::unique_ptr<WaylandConnection> connection);

/// Reads the outputs that `connection`'s kde_output_device_registry_v2, or
/// else its kde_output_device_v2 globals, announce (it must advertise
/// kde_output_management_v2); the service keeps the connection. Throws
/// ServiceError when it cannot serve.
std::unique_ptr<DisplayService> OpenKdeOutputManagement(std::unique_ptr<WaylandConnection> connection);

}  // namespace platform
