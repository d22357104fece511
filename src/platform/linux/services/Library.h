#pragma once

// Calls taken from a library that a display service loads at run time, on
// its own path only, so that a run that never takes that path never loads it.

#include <dlfcn.h>

namespace platform {

/// Sets `call` to the function `name` of the loaded `library`; returns
/// whether the library has it.
template <typename Call>
bool FindCall(void* library, const char* name, Call* call) {
  *call = reinterpret_cast<Call>(dlsym(library, name));
  return *call != nullptr;
}

}  // namespace platform
