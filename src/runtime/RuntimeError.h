#pragma once

#include <stdexcept>
#include <string>

/// What kind of runtime error was raised.
enum class ErrorKind {
  Overflow,            ///< integer arithmetic or a conversion out of range
  IndexOutOfRange,     ///< an element beyond an array's bounds
  ConversionFailed,    ///< a text that is not a number
  PlatformCallFailed,  ///< the settings store or the file system failed
};

/// The one exception type of the program. The message says in plain words
/// what failed and on what value.
struct RuntimeError : std::runtime_error {
  RuntimeError(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind(kind) {}
  ErrorKind kind;
};
