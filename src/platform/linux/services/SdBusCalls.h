#pragma once

// sd-bus's calls, from libsystemd loaded at run time by the GNOME service:
// one list (Library.h says how it reads), each call given as the name that
// the service calls it by (sd.read) and the function it is.

#include <systemd/sd-bus.h>

#include "platform/linux/services/Library.h"

#define VISTREL_SD_BUS_CALLS(LIBRARY, CALL, OPTIONAL)            \
  LIBRARY("libsystemd.so.0")                                     \
  CALL(openUser, sd_bus_open_user)                               \
  CALL(closeUnref, sd_bus_flush_close_unref)                     \
  CALL(callMethod, sd_bus_call_method)                           \
  CALL(newMethodCall, sd_bus_message_new_method_call)            \
  CALL(call, sd_bus_call)                                        \
  CALL(messageUnref, sd_bus_message_unref)                       \
  CALL(enter, sd_bus_message_enter_container)                    \
  CALL(exit, sd_bus_message_exit_container)                      \
  CALL(read, sd_bus_message_read)                                \
  CALL(skip, sd_bus_message_skip)                                \
  CALL(open, sd_bus_message_open_container)                      \
  CALL(close, sd_bus_message_close_container)                    \
  CALL(append, sd_bus_message_append)                            \
  CALL(errorFree, sd_bus_error_free)                             \
  CALL(setTimeout, sd_bus_set_method_call_timeout)

namespace platform {

#define VISTREL_SD_BUS_MEMBER(member, name) decltype(&::name) member = nullptr;
#define VISTREL_SD_BUS_FIND(member, name) library.Find(#name, &sd.member, /*optional=*/false);
#define VISTREL_SD_BUS_FIND_OPTIONAL(member, name) library.Find(#name, &sd.member, /*optional=*/true);

/// The sd-bus calls used, looked up in libsystemd.
struct SdBus {
  VISTREL_SD_BUS_CALLS(VISTREL_LIBRARY_NONE, VISTREL_SD_BUS_MEMBER, VISTREL_SD_BUS_MEMBER)
};

/// Loads libsystemd and returns its sd-bus calls; throws ServiceError naming
/// the library, or the call, that is missing.
inline const SdBus& LoadSdBus() {
  static SdBus sd;
  Library library;
  VISTREL_SD_BUS_CALLS(VISTREL_LIBRARY_OPEN, VISTREL_SD_BUS_FIND, VISTREL_SD_BUS_FIND_OPTIONAL)
  return sd;
}

#undef VISTREL_SD_BUS_MEMBER
#undef VISTREL_SD_BUS_FIND
#undef VISTREL_SD_BUS_FIND_OPTIONAL

}  // namespace platform
