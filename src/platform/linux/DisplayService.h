#pragma once

// A display service: what the Linux layer uses to read and change the
// device's mode. One per run, chosen by DisplaySettings.cpp from the session
// (X11 RandR, or a Wayland compositor's own service); each lives in its own
// source file. Not thread-safe: the program has one thread.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/Modes.h"

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

/// Why a display service cannot serve, refused or failed: what() is the one
/// line the user is told (after "vistrel: "). The chooser (DisplaySettings.cpp)
/// writes it and decides the status; a service only throws.
class ServiceError : public std::runtime_error {
 public:
  /// A service that is there refused or failed, for the reason `what`.
  explicit ServiceError(const std::string& what) : std::runtime_error(what) {}
  /// The service is simply not in the session: `lookedFor` says what was
  /// looked for, and where; the chooser tries the next one.
  static ServiceError Absent(const std::string& lookedFor) {
    ServiceError error(lookedFor);
    error.absent_ = true;
    return error;
  }
  /// Whether the service is not in the session, rather than failing.
  bool IsAbsent() const { return absent_; }

 private:
  bool absent_ = false;
};

/// One display service, opened and read.
class DisplayService {
 public:
  virtual ~DisplayService() = default;

  /// Puts `mode`, one of `device.modes` (or, without id, a size of its own
  /// where the device takes any size), on the device; `refreshHz` is the
  /// rate asked, as ChooseMode took it, for any other monitor that must show
  /// the same size.
  /// Throws ServiceError when the service refused it or failed.
  virtual void Apply(const ModeEntry& mode, int32_t refreshHz) = 0;

  DeviceState device;
};

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
