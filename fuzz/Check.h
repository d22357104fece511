#pragma once

// The fuzz targets' property check, in every build type: a broken promise
// aborts with "FILE:LINE: broken: CONDITION", so that libFuzzer reports it
// and keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

#define CHECK(condition) \
  ((condition) ? (void)0 : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))
