#pragma once

// The one way the Linux layer fails below the program's logic: a service,
// or a pure decision about its outputs, throws a ServiceError, and
// DisplaySettings.cpp alone turns it into a line and a result.

#include <stdexcept>
#include <string>

namespace platform {

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

}  // namespace platform
