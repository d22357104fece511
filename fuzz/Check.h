#pragma once

// The fuzz targets' property check. A broken promise aborts the run, so that
// libFuzzer reports it and keeps the input that broke it; the message names
// the file, the line and the condition.

#include <cstdio>
#include <cstdlib>

/// Aborts with "FILE:LINE: broken: CONDITION" on standard error unless
/// `condition` holds. Checked in every build type.
#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)
