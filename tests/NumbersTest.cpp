#include <gtest/gtest.h>

#include <cfloat>

#include "runtime/Numbers.h"
#include "runtime/RuntimeError.h"

namespace {

using namespace runtime;

ErrorKind KindOf(void (*call)()) {
  try {
    call();
  } catch (const RuntimeError& error) {
    return error.kind;
  }
  ADD_FAILURE() << "no error raised";
  return ErrorKind::PlatformCallFailed;
}

TEST(Numbers, NumericTestAcceptsDecimalNumbersOnly) {
  for (const char* text : {"768", "768.5", "-5", "+5", "  12", ".5", "5.", "1e3", "1E-3", "0"})
    EXPECT_TRUE(IsNumeric(text)) << text;
  for (const char* text : {"", " ", "restore", "output", "12abc", "1e", "0x10", "1,024", "inf", "nan", ".", "-",
                           "5 ", "1e+", "--5"})
    EXPECT_FALSE(IsNumeric(text)) << text;
}

TEST(Numbers, LeadingNumberTakesTheNumberAtTheStart) {
  EXPECT_EQ(LeadingNumber("768.5"), 768.5);
  EXPECT_EQ(LeadingNumber("12abc"), 12.0);
  EXPECT_EQ(LeadingNumber("abc"), 0.0);
  EXPECT_EQ(LeadingNumber(""), 0.0);
  EXPECT_EQ(LeadingNumber(" -3e2x"), -300.0);
  EXPECT_EQ(LeadingNumber("1e"), 1.0);
  EXPECT_EQ(LeadingNumber("0x10"), 0.0);
  EXPECT_EQ(KindOf([] { LeadingNumber("1e400"); }), ErrorKind::Overflow);
  EXPECT_EQ(KindOf([] { DoubleToSingle(1e39); }), ErrorKind::Overflow);
  EXPECT_EQ(DoubleToSingle(-1e-50), -0.0f);
}

TEST(Numbers, TextToSingleReadsWholeNumbersAndRejectsTheRest) {
  EXPECT_EQ(TextToSingle("1280"), 1280.0f);
  EXPECT_EQ(TextToSingle("3.4028234e38"), FLT_MAX);
  EXPECT_EQ(KindOf([] { TextToSingle(""); }), ErrorKind::ConversionFailed);
  EXPECT_EQ(KindOf([] { TextToSingle("abc"); }), ErrorKind::ConversionFailed);
  EXPECT_EQ(KindOf([] { TextToSingle("12abc"); }), ErrorKind::ConversionFailed);
  EXPECT_EQ(KindOf([] { TextToSingle("3.5e38"); }), ErrorKind::Overflow);
}

TEST(Numbers, NumberToTextWritesDigitsThatReadBack) {
  EXPECT_EQ(SingleToText(1024.0f), "1024");
  EXPECT_EQ(SingleToText(0.0f), "0");
  EXPECT_EQ(SingleToText(16777216.0f), "16777216");
  EXPECT_EQ(SingleToText(-75.0f), "-75");
  for (float value : {FLT_MAX, 123456789.0f, 0.1f, 768.5f, -1e-30f})
    EXPECT_EQ(TextToSingle(SingleToText(value)), value) << SingleToText(value);
  EXPECT_EQ(IntegerToText(-32768), "-32768");
}

TEST(Numbers, RoundingIsToNearestEvenWithOverflowOutsideTheRange) {
  EXPECT_EQ(RoundToInt16(32767.4f), 32767);
  EXPECT_EQ(RoundToInt16(-32768.4f), -32768);
  EXPECT_EQ(RoundToInt16(0.5f), 0);
  EXPECT_EQ(RoundToInt16(1.5f), 2);
  EXPECT_EQ(RoundToInt16(-2.5f), -2);
  EXPECT_EQ(RoundToInt32(768.5f), 768);
  EXPECT_EQ(RoundToInt32(769.5f), 770);
  EXPECT_EQ(RoundToInt32(-2147483648.0f), INT32_MIN);
  EXPECT_EQ(KindOf([] { RoundToInt16(40000.0f); }), ErrorKind::Overflow);
  EXPECT_EQ(KindOf([] { RoundToInt16(32767.5f); }), ErrorKind::Overflow);
  EXPECT_EQ(KindOf([] { RoundToInt32(2147483648.0f); }), ErrorKind::Overflow);
  EXPECT_EQ(KindOf([] { NarrowToInt16(32768); }), ErrorKind::Overflow);
  EXPECT_EQ(KindOf([] { AddInt16(32767, 1); }), ErrorKind::Overflow);
  EXPECT_EQ(KindOf([] { AddInt32(INT32_MAX, 1); }), ErrorKind::Overflow);
}

TEST(Numbers, LowerCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(LowerCase("ReStOrE-1\xC4"), "restore-1\xC4");
}

}  // namespace
