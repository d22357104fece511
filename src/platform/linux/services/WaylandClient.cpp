// The Wayland client connection, with libwayland-client loaded at run time.
//
// Every libwayland call, those of generated protocol code included, goes
// through the pointers of WaylandCalls.h, set here once the library is
// loaded. The program defines no libwayland function and exports nothing
// (it is not linked with -rdynamic), so the library keeps calling its own.

#include "platform/linux/services/WaylandClient.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/linux/DisplayService.h"
#include "platform/linux/services/Library.h"

namespace platform {

WaylandCalls wayland{};

namespace {

constexpr const char* kLibrary = "libwayland-client.so.0";

/// Loads libwayland-client and sets `wayland`; returns false when the library
/// or one of its calls is missing. The library stays loaded for the rest of the run.
bool LoadWayland() {
  static const bool loaded = [] {
    void* library = dlopen(kLibrary, RTLD_LAZY | RTLD_LOCAL);
    return library && FindCall(library, "wl_display_connect", &wayland.displayConnect) &&
           FindCall(library, "wl_display_disconnect", &wayland.displayDisconnect) &&
           FindCall(library, "wl_display_roundtrip", &wayland.displayRoundtrip) &&
           FindCall(library, "wl_display_dispatch", &wayland.displayDispatch) &&
           FindCall(library, "wl_display_get_error", &wayland.displayGetError) &&
           FindCall(library, "wl_display_get_protocol_error", &wayland.displayGetProtocolError) &&
           FindCall(library, "wl_proxy_marshal_flags", &wayland.proxyMarshalFlags) &&
           FindCall(library, "wl_proxy_add_listener", &wayland.proxyAddListener) &&
           FindCall(library, "wl_proxy_destroy", &wayland.proxyDestroy) &&
           FindCall(library, "wl_proxy_get_version", &wayland.proxyGetVersion) &&
           FindCall(library, "wl_proxy_set_user_data", &wayland.proxySetUserData) &&
           FindCall(library, "wl_proxy_get_user_data", &wayland.proxyGetUserData);
  }();
  return loaded;
}

}  // namespace

void WaylandConnection::OnGlobal(void* data, wl_registry* /*registry*/, uint32_t name, const char* interface,
                                 uint32_t version) {
  static_cast<WaylandConnection*>(data)->globals_.push_back({name, interface, version});
}

void WaylandConnection::OnGlobalRemove(void* data, wl_registry* /*registry*/, uint32_t name) {
  std::vector<WaylandGlobal>& globals = static_cast<WaylandConnection*>(data)->globals_;
  const auto removed = [name](const WaylandGlobal& global) { return global.name == name; };
  globals.erase(std::remove_if(globals.begin(), globals.end(), removed), globals.end());
}

std::unique_ptr<WaylandConnection> WaylandConnection::Open() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  const std::string where = std::string("the Wayland display \"") + (name ? name : "wayland-0") + "\"";
  if (!LoadWayland()) throw ServiceError::Absent(where + ", through " + kLibrary + ", which cannot be loaded");
  std::unique_ptr<WaylandConnection> connection(new WaylandConnection);
  connection->where_ = where;
  connection->display_ = wl_display_connect(/*name=*/nullptr);  // WAYLAND_DISPLAY, in XDG_RUNTIME_DIR
  if (!connection->display_) throw ServiceError::Absent(where + ", which cannot be reached: " + std::strerror(errno));
  static const wl_registry_listener listener = {.global = OnGlobal, .global_remove = OnGlobalRemove};
  connection->registry_ = wl_display_get_registry(connection->display_);
  wl_registry_add_listener(connection->registry_, &listener, connection.get());
  if (!connection->Roundtrip()) throw ServiceError::Absent(where + ", which failed: " + connection->Error());
  return connection;
}

WaylandConnection::~WaylandConnection() {
  if (registry_) wl_registry_destroy(registry_);
  if (display_) wl_display_disconnect(display_);
}

const WaylandGlobal* WaylandConnection::Find(const char* interface) const {
  for (const WaylandGlobal& global : globals_)
    if (global.interface == interface) return &global;
  return nullptr;
}

void* WaylandConnection::Bind(const WaylandGlobal& global, const wl_interface* interface, uint32_t version) {
  version = std::min({version, global.version, static_cast<uint32_t>(interface->version)});
  return wl_registry_bind(registry_, global.name, interface, version);
}

bool WaylandConnection::Roundtrip() { return wl_display_roundtrip(display_) >= 0; }

bool WaylandConnection::DispatchUntil(const std::function<bool()>& done) {
  while (!done())
    if (wl_display_dispatch(display_) < 0) return false;
  return true;
}

std::string WaylandConnection::Error() const {
  const int code = wl_display_get_error(display_);
  if (code != EPROTO) return code == 0 ? "no error" : std::strerror(code);
  const wl_interface* interface = nullptr;
  uint32_t id = 0;
  const uint32_t error = wl_display_get_protocol_error(display_, &interface, &id);
  return "protocol error " + std::to_string(error) + " on " + (interface ? interface->name : "an object") + "@" +
         std::to_string(id);
}

}  // namespace platform
