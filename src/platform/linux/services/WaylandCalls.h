#pragma once

// libwayland-client's own API, for a program that loads the library at run
// time: its headers, with every call that the program or generated protocol
// code makes turned into a call through a pointer into the loaded library
// (the static inline requests of the *-client-protocol.h headers call
// wl_proxy_marshal_flags and a few others by name). libwayland does its own
// marshalling. Include this before any protocol header.

#if defined(WAYLAND_CLIENT_PROTOCOL_H)
#error "WaylandCalls.h must come before any Wayland protocol header, whose calls it redirects"
#endif

#include <wayland-client-core.h>

namespace platform {

/// The libwayland-client calls used, taken from the library when
/// WaylandConnection::Open first loads it (WaylandClient.cpp).
struct WaylandCalls {
  decltype(&::wl_display_connect) displayConnect;
  decltype(&::wl_display_disconnect) displayDisconnect;
  decltype(&::wl_display_get_fd) displayGetFd;
  decltype(&::wl_display_flush) displayFlush;
  decltype(&::wl_display_prepare_read) displayPrepareRead;
  decltype(&::wl_display_cancel_read) displayCancelRead;
  decltype(&::wl_display_read_events) displayReadEvents;
  decltype(&::wl_display_dispatch_pending) displayDispatchPending;
  decltype(&::wl_display_get_error) displayGetError;
  decltype(&::wl_display_get_protocol_error) displayGetProtocolError;
  decltype(&::wl_proxy_marshal_flags) proxyMarshalFlags;
  decltype(&::wl_proxy_add_listener) proxyAddListener;
  decltype(&::wl_proxy_destroy) proxyDestroy;
  decltype(&::wl_proxy_get_version) proxyGetVersion;
  decltype(&::wl_proxy_set_user_data) proxySetUserData;
  decltype(&::wl_proxy_get_user_data) proxyGetUserData;
};

/// The loaded library's calls; set once, before any proxy exists.
extern WaylandCalls wayland;

}  // namespace platform

#define wl_display_connect (platform::wayland.displayConnect)
#define wl_display_disconnect (platform::wayland.displayDisconnect)
#define wl_display_get_fd (platform::wayland.displayGetFd)
#define wl_display_flush (platform::wayland.displayFlush)
#define wl_display_prepare_read (platform::wayland.displayPrepareRead)
#define wl_display_cancel_read (platform::wayland.displayCancelRead)
#define wl_display_read_events (platform::wayland.displayReadEvents)
#define wl_display_dispatch_pending (platform::wayland.displayDispatchPending)
#define wl_display_get_error (platform::wayland.displayGetError)
#define wl_display_get_protocol_error (platform::wayland.displayGetProtocolError)
#define wl_proxy_marshal_flags (platform::wayland.proxyMarshalFlags)
#define wl_proxy_add_listener (platform::wayland.proxyAddListener)
#define wl_proxy_destroy (platform::wayland.proxyDestroy)
#define wl_proxy_get_version (platform::wayland.proxyGetVersion)
#define wl_proxy_set_user_data (platform::wayland.proxySetUserData)
#define wl_proxy_get_user_data (platform::wayland.proxyGetUserData)

#include <wayland-client-protocol.h>
