// The Wayland client connection, with libwayland-client loaded at run time.
//
// Generated protocol code calls a handful of libwayland functions from
// static inline wrappers (wl_proxy_marshal_flags, wl_proxy_add_listener,
// ...). The program is not linked against libwayland-client, so it defines
// those functions here: each one calls the library's own, looked up with
// dlsym. The program exports none of them (it is not linked with
// -rdynamic), so the library, once loaded, keeps calling its own.

#include "platform/linux/services/WaylandClient.h"

#include <wayland-client-core.h>
#include <wayland-client-protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/services/Library.h"

namespace platform {
namespace {

constexpr const char* kLibrary = "libwayland-client.so.0";
constexpr int kMaxArguments = 20;  // the most arguments a Wayland message has

/// The libwayland-client calls used here, looked up in the library.
struct Wayland {
  decltype(&wl_display_connect) connect = nullptr;
  decltype(&wl_display_disconnect) disconnect = nullptr;
  decltype(&wl_display_roundtrip) roundtrip = nullptr;
  decltype(&wl_display_dispatch) dispatch = nullptr;
  decltype(&wl_display_get_error) getError = nullptr;
  decltype(&wl_display_get_protocol_error) getProtocolError = nullptr;
  decltype(&wl_proxy_marshal_array_flags) marshalArrayFlags = nullptr;
  decltype(&wl_proxy_add_listener) addListener = nullptr;
  decltype(&wl_proxy_destroy) destroy = nullptr;
  decltype(&wl_proxy_get_version) getVersion = nullptr;
  decltype(&wl_proxy_set_user_data) setUserData = nullptr;
  decltype(&wl_proxy_get_user_data) getUserData = nullptr;
  decltype(&wl_proxy_get_class) getClass = nullptr;
};
Wayland wl;  // filled once the library is loaded; no proxy exists before

/// Loads libwayland-client and its calls; returns false when it cannot.
/// The library stays loaded for the rest of the run.
bool LoadWayland() {
  static const bool loaded = [] {
    void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    return library && FindCall(library, "wl_display_connect", &wl.connect) &&
           FindCall(library, "wl_display_disconnect", &wl.disconnect) &&
           FindCall(library, "wl_display_roundtrip", &wl.roundtrip) &&
           FindCall(library, "wl_display_dispatch", &wl.dispatch) &&
           FindCall(library, "wl_display_get_error", &wl.getError) &&
           FindCall(library, "wl_display_get_protocol_error", &wl.getProtocolError) &&
           FindCall(library, "wl_proxy_marshal_array_flags", &wl.marshalArrayFlags) &&
           FindCall(library, "wl_proxy_add_listener", &wl.addListener) &&
           FindCall(library, "wl_proxy_destroy", &wl.destroy) &&
           FindCall(library, "wl_proxy_get_version", &wl.getVersion) &&
           FindCall(library, "wl_proxy_set_user_data", &wl.setUserData) &&
           FindCall(library, "wl_proxy_get_user_data", &wl.getUserData) &&
           FindCall(library, "wl_proxy_get_class", &wl.getClass);
  }();
  return loaded;
}

/// Whether `c`, a character of a message's signature, is an argument's type
/// (not a version number or the mark of a nullable argument).
bool IsArgument(char c) { return std::strchr("iufsonah", c) != nullptr; }

/// The interfaces whose requests the program may send: every one bound, and
/// every one reachable from it through its messages' arguments.
std::vector<const wl_interface*>& Known() {
  static std::vector<const wl_interface*> known;
  return known;
}

void Learn(const wl_interface* interface) {
  if (!interface || std::count(Known().begin(), Known().end(), interface)) return;
  Known().push_back(interface);
  const auto learnTypes = [](const wl_message* messages, int count) {
    for (int m = 0; m < count; ++m) {
      const char* signature = messages[m].signature;
      const int arguments = static_cast<int>(std::count_if(signature, signature + std::strlen(signature), IsArgument));
      for (int a = 0; a < arguments; ++a) Learn(messages[m].types[a]);
    }
  };
  learnTypes(interface->methods, interface->method_count);
  learnTypes(interface->events, interface->event_count);
}

/// Returns the interface of `proxy`, which one of Known() is.
const wl_interface* InterfaceOf(wl_proxy* proxy) {
  const char* name = wl.getClass(proxy);
  for (const wl_interface* interface : Known())
    if (std::strcmp(interface->name, name) == 0) return interface;
  std::fprintf(stderr, "vistrel: a request on a Wayland object of unknown interface %s\n", name);
  std::abort();  // a fault of the program: every interface it uses is learned when bound
}

}  // namespace
}  // namespace platform

// The libwayland-client calls of generated protocol code, passed on to the
// loaded library. A variadic request is read by its signature into an array,
// as the library's own variadic call does.

wl_proxy* wl_proxy_marshal_flags(wl_proxy* proxy, uint32_t opcode, const wl_interface* interface, uint32_t version,
                                 uint32_t flags, ...) {
  using platform::wl;
  const char* signature = platform::InterfaceOf(proxy)->methods[opcode].signature;
  wl_argument arguments[platform::kMaxArguments] = {};
  std::va_list list;
  va_start(list, flags);
  int count = 0;
  for (const char* c = signature; *c && count < platform::kMaxArguments; ++c) {
    wl_argument& argument = arguments[count];
    switch (*c) {
      case 'i': argument.i = va_arg(list, int32_t); break;
      case 'h': argument.h = va_arg(list, int32_t); break;
      case 'u': argument.u = va_arg(list, uint32_t); break;
      case 'f': argument.f = va_arg(list, wl_fixed_t); break;
      case 's': argument.s = va_arg(list, const char*); break;
      case 'o': case 'n': argument.o = va_arg(list, wl_object*); break;
      case 'a': argument.a = va_arg(list, wl_array*); break;
      default: continue;  // a version number or a nullable mark
    }
    ++count;
  }
  va_end(list);
  return wl.marshalArrayFlags(proxy, opcode, interface, version, flags, arguments);
}

int wl_proxy_add_listener(wl_proxy* proxy, void (**implementation)(void), void* data) {
  return platform::wl.addListener(proxy, implementation, data);
}
void wl_proxy_destroy(wl_proxy* proxy) { platform::wl.destroy(proxy); }
uint32_t wl_proxy_get_version(wl_proxy* proxy) { return platform::wl.getVersion(proxy); }
void wl_proxy_set_user_data(wl_proxy* proxy, void* data) { platform::wl.setUserData(proxy, data); }
void* wl_proxy_get_user_data(wl_proxy* proxy) { return platform::wl.getUserData(proxy); }

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

std::unique_ptr<WaylandConnection> WaylandConnection::Open(std::string* absence) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  const std::string where = std::string("the Wayland display \"") + (name ? name : "wayland-0") + "\"";
  if (!LoadWayland()) {
    *absence = where + ", through " + kLibrary + ", which cannot be loaded";
    return nullptr;
  }
  std::unique_ptr<WaylandConnection> connection(new WaylandConnection);
  connection->where_ = where;
  connection->display_ = wl.connect(/*name=*/nullptr);  // WAYLAND_DISPLAY, in XDG_RUNTIME_DIR
  if (!connection->display_) {
    *absence = where + ", which cannot be reached: " + std::strerror(errno);
    return nullptr;
  }
  Learn(&wl_display_interface);
  static const wl_registry_listener listener = {OnGlobal, OnGlobalRemove};
  connection->registry_ = wl_display_get_registry(connection->display_);
  wl_registry_add_listener(connection->registry_, &listener, connection.get());
  if (!connection->Roundtrip()) {
    *absence = where + ", which failed: " + connection->Error();
    return nullptr;
  }
  return connection;
}

WaylandConnection::~WaylandConnection() {
  if (registry_) wl_registry_destroy(registry_);
  if (display_) wl.disconnect(display_);
}

const WaylandGlobal* WaylandConnection::Find(const char* interface) const {
  for (const WaylandGlobal& global : globals_)
    if (global.interface == interface) return &global;
  return nullptr;
}

void* WaylandConnection::Bind(const WaylandGlobal& global, const wl_interface* interface, uint32_t version) {
  Learn(interface);
  version = std::min({version, global.version, static_cast<uint32_t>(interface->version)});
  return wl_registry_bind(registry_, global.name, interface, version);
}

bool WaylandConnection::Roundtrip() { return wl.roundtrip(display_) >= 0; }

bool WaylandConnection::DispatchUntil(const std::function<bool()>& done) {
  while (!done())
    if (wl.dispatch(display_) < 0) return false;
  return true;
}

std::string WaylandConnection::Error() const {
  const int code = wl.getError(display_);
  if (code != EPROTO) return code == 0 ? "no error" : std::strerror(code);
  const wl_interface* interface = nullptr;
  uint32_t id = 0;
  const uint32_t error = wl.getProtocolError(display_, &interface, &id);
  return "protocol error " + std::to_string(error) + " on " + (interface ? interface->name : "an object") + "@" +
         std::to_string(id);
}

}  // namespace platform
