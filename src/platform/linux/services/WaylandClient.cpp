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
#include <chrono>
#include <cstring>

#include <poll.h>

#include "platform/linux/ServiceError.h"

namespace platform {

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
  try {
    LoadWayland();
  } catch (const ServiceError& error) {
    throw ServiceError::Absent(where + ": " + error.what());
  }
  std::unique_ptr<WaylandConnection> connection(new WaylandConnection);
  connection->where_ = where;
  connection->display_ = wl_display_connect(/*name=*/nullptr);  // WAYLAND_DISPLAY, in XDG_RUNTIME_DIR
  if (!connection->display_) throw ServiceError::Absent(where + ", which cannot be reached: " + std::strerror(errno));
  static const wl_registry_listener listener = {.global = OnGlobal, .global_remove = OnGlobalRemove};
  connection->registry_ = wl_display_get_registry(connection->display_);
  wl_registry_add_listener(connection->registry_, &listener, connection.get());
  if (!connection->Roundtrip())  // one that does not answer is there, but stuck: no other service will do
    throw connection->timedOut_ ? ServiceError(where + ": " + connection->Error())
                                : ServiceError::Absent(where + ", which failed: " + connection->Error());
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

bool WaylandConnection::Roundtrip() {
  bool answered = false;
  static const wl_callback_listener listener = {
      .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
  wl_callback* callback = wl_display_sync(display_);
  wl_callback_add_listener(callback, &listener, &answered);
  const bool ok = DispatchUntil([&answered] { return answered; });
  wl_callback_destroy(callback);
  return ok;
}

// libwayland's own way to wait with a bound: announce the read, flush, poll
// the socket until the deadline, read, then dispatch what was queued.
bool WaylandConnection::DispatchUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kAnswerTime;
  for (;;) {
    while (wl_display_prepare_read(display_) != 0)
      if (wl_display_dispatch_pending(display_) < 0) return false;
    if (done()) {
      wl_display_cancel_read(display_);
      return true;
    }
    wl_display_flush(display_);  // EAGAIN: the rest goes at the next turn
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd socket = {.fd = wl_display_get_fd(display_), .events = POLLIN, .revents = 0};
    const int ready = left.count() > 0 ? poll(&socket, 1, static_cast<int>(left.count())) : 0;
    if (ready <= 0) {
      wl_display_cancel_read(display_);
      if (ready < 0 && errno == EINTR) continue;
      timedOut_ = ready == 0;
      return false;
    }
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) return false;
  }
}

std::string WaylandConnection::Error() const {
  if (timedOut_) return "no answer within " + std::to_string(kAnswerTime.count()) + " s";
  const int code = wl_display_get_error(display_);
  if (code != EPROTO) return code == 0 ? "no error" : std::strerror(code);
  const wl_interface* interface = nullptr;
  uint32_t id = 0;
  const uint32_t error = wl_display_get_protocol_error(display_, &interface, &id);
  return "protocol error " + std::to_string(error) + " on " + (interface ? interface->name : "an object") + "@" +
         std::to_string(id);
}

}  // namespace platform
