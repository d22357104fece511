#pragma once

// Text and number services of the runtime. A number is: optional leading
// blanks, an optional sign, digits with an optional fraction, and an optional
// exponent ("768", " -5", "768.5", ".5", "1e3"). Nothing else is a number: no
// hexadecimal, no digit grouping, no "inf" or "nan".

#include <cstdint>
#include <string>

namespace runtime {

/// Returns true when the whole of `text` is a number.
bool IsNumeric(const std::string& text);

/// Returns the number at the start of `text` ("12abc" gives 12), or 0 when
/// `text` does not start with one. Throws Overflow beyond double precision.
double LeadingNumber(const std::string& text);

/// Returns `value` as a single. Throws Overflow beyond single precision.
float DoubleToSingle(double value);

/// Returns the whole of `text` as a single. Throws ConversionFailed when
/// `text` is not a number (empty text included), Overflow beyond single
/// precision.
float TextToSingle(const std::string& text);

/// Returns `value` in decimal: a whole number as its digits ("1024"), any
/// other as the shortest text that reads back to the same single.
std::string SingleToText(float value);

/// Returns `value` in decimal, without leading zeros or blanks.
std::string IntegerToText(int32_t value);

/// Rounds to nearest, ties to even. Throws Overflow outside the target range.
int32_t RoundToInt32(float value);
int16_t RoundToInt16(float value);

/// Narrows to 16 bits. Throws Overflow outside -32768 to 32767.
int16_t NarrowToInt16(int32_t value);

/// Returns a + b. Throws Overflow when the sum does not fit.
int32_t AddInt32(int32_t a, int32_t b);
int16_t AddInt16(int16_t a, int16_t b);

/// Returns `text` with A-Z turned into a-z; every other character is kept.
std::string LowerCase(const std::string& text);

}  // namespace runtime
