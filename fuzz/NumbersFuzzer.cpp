// The number services against what their callers rely on: what the
// whole-text conversion accepts is numeric; numeric text converts (or
// overflows) and never fails as "not a number"; the leading-number conversion
// reads the longest numeric start of any text; every single that
// number-to-text writes reads back to the same value; rounding goes to
// nearest, ties to even, and overflows outside its range, never wrapping.
//
// Input: the whole input is a text for the text services; its first bytes
// also serve as a single, a double and integers for the others.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Check.h"
#include "runtime/Numbers.h"
#include "runtime/RuntimeError.h"

namespace {

/// Longest prefix checked piece by piece; the scan is quadratic.
constexpr size_t kPrefixScanLimit = 300;

/// Runs `call`; returns true when it returned, false when it threw a
/// RuntimeError of `kind`. Any other error breaks the run.
template <typename Call>
bool ReturnsOr(ErrorKind kind, Call call) {
  try {
    call();
    return true;
  } catch (const RuntimeError& error) {
    CHECK(error.kind == kind);
    CHECK(std::strlen(error.what()) > 0);
    return false;
  }
}

/// Ties to even, worked out without the library's rounding.
double ReferenceRound(double value) {
  if (!std::isfinite(value)) return value;
  const double floor = std::floor(value);
  const double fraction = value - floor;
  if (fraction > 0.5) return floor + 1;
  if (fraction < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

void CheckTextServices(const std::string& text) {
  const bool numeric = runtime::IsNumeric(text);
  // The whole-text conversion accepts numeric text only, and numeric text
  // converts unless it is beyond single precision.
  float single = 0;
  bool converted = false;
  try {
    single = runtime::TextToSingle(text);
    converted = true;
  } catch (const RuntimeError& error) {
    CHECK(error.kind == (numeric ? ErrorKind::Overflow : ErrorKind::ConversionFailed));
  }
  CHECK(!converted || numeric);
  if (numeric) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    CHECK(end == text.c_str() + text.size());  // the C library reads all of it too
    if (converted) {
      // The nearest single, or its neighbour when the double itself was rounded.
      CHECK(std::isfinite(single));
      CHECK(std::fabs(single - value) <= std::fabs(std::nexttoward(single, static_cast<long double>(value)) - single));
    } else {
      CHECK(std::fabs(value) > FLT_MAX);
    }
  }
  // The leading-number conversion reads the longest start that is numeric.
  if (text.size() > kPrefixScanLimit) return;
  double expected = 0;
  for (size_t length = text.size(); length > 0; --length) {
    const std::string start = text.substr(0, length);
    if (!runtime::IsNumeric(start)) continue;
    expected = std::strtod(start.c_str(), nullptr);
    break;
  }
  double leading = 0;
  if (ReturnsOr(ErrorKind::Overflow, [&] { leading = runtime::LeadingNumber(text); }))
    CHECK(leading == expected || (std::isnan(leading) && std::isnan(expected)));
  else
    CHECK(std::isinf(expected));
  // Lower-casing touches A-Z only.
  const std::string lowered = runtime::LowerCase(text);
  CHECK(lowered.size() == text.size());
  for (size_t i = 0; i < text.size(); ++i)
    CHECK(lowered[i] == (text[i] >= 'A' && text[i] <= 'Z' ? text[i] - 'A' + 'a' : text[i]));
}

void CheckSingleToText(float value) {
  if (!std::isfinite(value)) return;
  for (const float number : {value, std::trunc(value)}) {
    const std::string text = runtime::SingleToText(number);
    CHECK(runtime::IsNumeric(text));
    CHECK(text.find_first_of(" ,") == std::string::npos);
    CHECK(runtime::TextToSingle(text) == number);
    if (number == std::trunc(number)) CHECK(text.find_first_of(".eE") == std::string::npos);
  }
}

void CheckRounding(float value) {
  const double expected = ReferenceRound(value);
  int32_t rounded32 = 0;
  if (ReturnsOr(ErrorKind::Overflow, [&] { rounded32 = runtime::RoundToInt32(value); }))
    CHECK(rounded32 == expected);
  else
    CHECK(std::isnan(value) || expected < INT32_MIN || expected > INT32_MAX);
  int16_t rounded16 = 0;
  if (ReturnsOr(ErrorKind::Overflow, [&] { rounded16 = runtime::RoundToInt16(value); }))
    CHECK(rounded16 == expected);
  else
    CHECK(std::isnan(value) || expected < INT16_MIN || expected > INT16_MAX);
}

void CheckIntegers(int32_t a, int32_t b, double wide) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  int32_t sum32 = 0;
  if (ReturnsOr(ErrorKind::Overflow, [&] { sum32 = runtime::AddInt32(a, b); }))
    CHECK(sum32 == sum);
  else
    CHECK(sum < INT32_MIN || sum > INT32_MAX);
  const int16_t a16 = static_cast<int16_t>(a), b16 = static_cast<int16_t>(b);
  int16_t sum16 = 0;
  if (ReturnsOr(ErrorKind::Overflow, [&] { sum16 = runtime::AddInt16(a16, b16); }))
    CHECK(sum16 == a16 + b16);
  else
    CHECK(a16 + b16 < INT16_MIN || a16 + b16 > INT16_MAX);
  int16_t narrowed = 0;
  if (ReturnsOr(ErrorKind::Overflow, [&] { narrowed = runtime::NarrowToInt16(a); }))
    CHECK(narrowed == a);
  else
    CHECK(a < INT16_MIN || a > INT16_MAX);
  CHECK(runtime::IntegerToText(a) == std::to_string(a));
  float single = 0;
  if (ReturnsOr(ErrorKind::Overflow, [&] { single = runtime::DoubleToSingle(wide); }))
    CHECK(std::isnan(wide) ? std::isnan(single) : single == static_cast<float>(wide));
  else
    CHECK(std::fabs(wide) > FLT_MAX);
}

template <typename T>
T Bytes(const uint8_t* data, size_t size, size_t offset) {
  unsigned char bytes[sizeof(T)] = {};
  for (size_t i = 0; i < sizeof(T) && offset + i < size; ++i) bytes[i] = data[offset + i];
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckTextServices(std::string(reinterpret_cast<const char*>(data), size));
  const float single = Bytes<float>(data, size, 0);
  CheckSingleToText(single);
  CheckRounding(single);
  CheckIntegers(Bytes<int32_t>(data, size, 0), Bytes<int32_t>(data, size, 4), Bytes<double>(data, size, 0));
  return 0;
}
