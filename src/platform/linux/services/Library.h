#pragma once

// Libraries that a display service loads at run time, on its own path only,
// so that a run that never takes that path never loads them.
//
// Each library's calls are one list, in a header of its own (X11Calls.h,
// WaylandCalls.h, SdBusCalls.h): a macro LIST(LIBRARY, CALL, OPTIONAL) in
// which LIBRARY("file.so.N") opens the library that the calls after it come
// from, CALL(name) is a function the program needs, and OPTIONAL(name) one
// it does without where the library lacks it (its pointer is then null).
// VISTREL_POINTERS(LIST) makes each call a pointer of the enclosing
// namespace, named and typed as the function in the library's own header, so
// that code in that namespace calls through it by the function's own name;
// VISTREL_LOAD(LIST) loads the libraries and sets the pointers.

#include <dlfcn.h>

#include <string>

#include "platform/linux/ServiceError.h"

namespace platform {

/// A library loaded at run time; it stays loaded for the rest of the run.
class Library {
 public:
  Library() = default;
  /// Loads `file`; throws ServiceError "cannot load FILE: REASON".
  explicit Library(const char* file) : file_(file), handle_(dlopen(file, RTLD_LAZY | RTLD_LOCAL)) {
    const char* reason = handle_ ? nullptr : dlerror();
    if (!handle_) throw ServiceError(std::string("cannot load ") + file + ": " + (reason ? reason : "no reason given"));
  }

  /// Sets `*call` to the library's function `name`. Where the library lacks
  /// it, sets it to null if `optional`, else throws ServiceError "FILE lacks NAME".
  template <typename Call>
  void Find(const char* name, Call* call, bool optional) const {
    *call = reinterpret_cast<Call>(dlsym(handle_, name));
    if (!*call && !optional) throw ServiceError(std::string(file_) + " lacks " + name);
  }

 private:
  const char* file_ = "";
  void* handle_ = nullptr;
};

}  // namespace platform

#define VISTREL_LIBRARY_NONE(file)
#define VISTREL_CALL_POINTER(name) inline decltype(&::name) name = nullptr;
#define VISTREL_LIBRARY_OPEN(file) library = ::platform::Library(file);
#define VISTREL_CALL_FIND(name) library.Find(#name, &name, /*optional=*/false);
#define VISTREL_OPTIONAL_FIND(name) library.Find(#name, &name, /*optional=*/true);

/// Declares the pointers of `LIST`'s calls, null until VISTREL_LOAD sets them.
#define VISTREL_POINTERS(LIST) LIST(VISTREL_LIBRARY_NONE, VISTREL_CALL_POINTER, VISTREL_CALL_POINTER)

/// Loads `LIST`'s libraries and sets the pointers of its calls; throws
/// ServiceError naming the library, or the call, that is missing.
#define VISTREL_LOAD(LIST)                                                 \
  do {                                                                     \
    ::platform::Library library;                                           \
    LIST(VISTREL_LIBRARY_OPEN, VISTREL_CALL_FIND, VISTREL_OPTIONAL_FIND)   \
  } while (false)
