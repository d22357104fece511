#pragma once

// libwayland-client's calls, for a program that loads the library at run
// time: one list (Library.h says how it reads), each call a pointer of
// namespace platform named as the function, so that the program's code calls
// it by its own name. The static inline requests of the *-client-protocol.h
// headers call a few of them by name too, from outside the namespace: the
// macros below send those to the pointers as well. libwayland does its own
// marshalling. Include this before any protocol header.

#if defined(WAYLAND_CLIENT_PROTOCOL_H)
#error "WaylandCalls.h must come before any Wayland protocol header, whose calls it redirects"
#endif

#include <wayland-client-core.h>

#include "platform/linux/services/Library.h"

#define VISTREL_WAYLAND_CALLS(LIBRARY, CALL, OPTIONAL) \
  LIBRARY("libwayland-client.so.0")                   \
  CALL(wl_display_connect)                            \
  CALL(wl_display_disconnect)                         \
  CALL(wl_display_get_fd)                             \
  CALL(wl_display_flush)                              \
  CALL(wl_display_prepare_read)                       \
  CALL(wl_display_cancel_read)                        \
  CALL(wl_display_read_events)                        \
  CALL(wl_display_dispatch_pending)                   \
  CALL(wl_display_get_error)                          \
  CALL(wl_display_get_protocol_error)                 \
  CALL(wl_proxy_marshal_flags)                        \
  CALL(wl_proxy_add_listener)                         \
  CALL(wl_proxy_destroy)                              \
  CALL(wl_proxy_get_version)                          \
  CALL(wl_proxy_set_user_data)                        \
  CALL(wl_proxy_get_user_data)

namespace platform {

VISTREL_POINTERS(VISTREL_WAYLAND_CALLS)

/// Loads libwayland-client and sets the pointers; throws ServiceError naming
/// the library, or the call, that is missing.
inline void LoadWayland() { VISTREL_LOAD(VISTREL_WAYLAND_CALLS); }

}  // namespace platform

// Function-like, so that only a call is sent: the names above stay the pointers' own.
#define wl_proxy_marshal_flags(...) platform::wl_proxy_marshal_flags(__VA_ARGS__)
#define wl_proxy_add_listener(...) platform::wl_proxy_add_listener(__VA_ARGS__)
#define wl_proxy_destroy(...) platform::wl_proxy_destroy(__VA_ARGS__)
#define wl_proxy_get_version(...) platform::wl_proxy_get_version(__VA_ARGS__)
#define wl_proxy_set_user_data(...) platform::wl_proxy_set_user_data(__VA_ARGS__)
#define wl_proxy_get_user_data(...) platform::wl_proxy_get_user_data(__VA_ARGS__)

#include <wayland-client-protocol.h>
