#include "runtime/Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "runtime/RuntimeError.h"

namespace runtime {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipDigits(const std::string& text, size_t pos) {
  while (pos < text.size() && IsDigit(text[pos])) ++pos;
  return pos;
}

/// Where the number that starts `text` begins (after the blanks) and ends;
/// end == 0 when `text` does not start with a number.
struct NumberSpan {
  size_t begin = 0;
  size_t end = 0;
};

NumberSpan ScanNumber(const std::string& text) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  const size_t begin = pos;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  const size_t intEnd = SkipDigits(text, pos);
  size_t mantissaDigits = intEnd - pos;
  pos = intEnd;
  if (pos < text.size() && text[pos] == '.') {
    const size_t fracEnd = SkipDigits(text, pos + 1);
    mantissaDigits += fracEnd - (pos + 1);
    if (mantissaDigits > 0) pos = fracEnd;
  }
  if (mantissaDigits == 0) return {};
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t expPos = pos + 1;
    if (expPos < text.size() && (text[expPos] == '+' || text[expPos] == '-')) ++expPos;
    const size_t expEnd = SkipDigits(text, expPos);
    if (expEnd > expPos) pos = expEnd;  // "1e" is 1 followed by a letter
  }
  return {begin, pos};
}

RuntimeError OverflowError(const std::string& what) { return RuntimeError(ErrorKind::Overflow, what); }

}  // namespace

bool IsNumeric(const std::string& text) {
  const NumberSpan span = ScanNumber(text);
  return span.end > 0 && span.end == text.size();
}

double LeadingNumber(const std::string& text) {
  const NumberSpan span = ScanNumber(text);
  if (span.end == 0) return 0.0;
  const std::string number = text.substr(span.begin, span.end - span.begin);
  const double value = std::strtod(number.c_str(), nullptr);
  if (std::isinf(value)) throw OverflowError("the number " + number + " is beyond the range of double precision");
  return value;
}

float DoubleToSingle(double value) {
  if (std::fabs(value) > std::numeric_limits<float>::max()) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    throw OverflowError(std::string("the number ") + text + " is beyond the range of single precision");
  }
  return static_cast<float>(value);
}

float TextToSingle(const std::string& text) {
  if (!IsNumeric(text)) throw RuntimeError(ErrorKind::ConversionFailed, "\"" + text + "\" is not a number");
  const NumberSpan span = ScanNumber(text);
  const std::string number = text.substr(span.begin);
  const float value = std::strtof(number.c_str(), nullptr);
  if (std::isinf(value)) throw OverflowError("the number " + number + " is beyond the range of single precision");
  return value;
}

std::string SingleToText(float value) {
  char text[64];
  if (value == std::trunc(value)) {
    // Every whole single is an integer of at most 39 digits; print them all.
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(value));
    return text;
  }
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string IntegerToText(int32_t value) { return std::to_string(value); }

int32_t RoundToInt32(float value) {
  const double rounded = std::nearbyint(static_cast<double>(value));
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
    throw OverflowError("the value " + SingleToText(value) + " does not fit in a 32-bit integer");
  return static_cast<int32_t>(rounded);
}

int16_t RoundToInt16(float value) {
  const double rounded = std::nearbyint(static_cast<double>(value));
  if (!(rounded >= -32768.0 && rounded <= 32767.0))
    throw OverflowError("the value " + SingleToText(value) + " does not fit in a 16-bit integer");
  return static_cast<int16_t>(rounded);
}

int16_t NarrowToInt16(int32_t value) {
  if (value < -32768 || value > 32767)
    throw OverflowError("the value " + IntegerToText(value) + " does not fit in a 16-bit integer");
  return static_cast<int16_t>(value);
}

int32_t AddInt32(int32_t a, int32_t b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max())
    throw OverflowError("the sum " + IntegerToText(a) + " + " + IntegerToText(b) + " does not fit in 32 bits");
  return static_cast<int32_t>(sum);
}

int16_t AddInt16(int16_t a, int16_t b) { return NarrowToInt16(static_cast<int32_t>(a) + b); }

std::string LowerCase(const std::string& text) {
  std::string lower = text;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

}  // namespace runtime
