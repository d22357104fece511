// Unit tests of the logic on the fake platform, for what the end-to-end
// cases cannot reach: platforms that fail in ways a real display cannot be
// made to, the bytes of the record handed to the platform, and the limits of
// the number services.

#include <gtest/gtest.h>

#include <cfloat>

#include "display/ApplyDisplayMode.h"
#include "fake/FakePlatform.h"
#include "runtime/Numbers.h"
#include "runtime/RuntimeError.h"

namespace {

using fake::state;

// Faults that leave the store as it was and the display untouched (the mode
// in force unreadable, its rate beyond 16 bits, a store failing at any entry)
// are fuzzed (fuzz/CommandLineFuzzer.cpp).
TEST(ApplyDisplayModeTest, HandsThePlatformTheLastEnumeratedRecordWithTheFiveFieldsSet) {
  state = {};
  state.modes = {fake::Mode(1024, 768, 32, 60), fake::Mode(640, 480, 16, 72)};
  state.modes.back().dmLogPixels = 96;  // kept, as every field the program does not write
  EXPECT_TRUE(CommandLineParse::ApplyDisplayMode(1024, 768, 32, 60));
  EXPECT_EQ(state.saveCalls, 1);
  DEVMODEA expected = fake::Mode(1024, 768, 32, 60);  // the last mode listed, as the program sets it
  expected.dmFields = 0x005E0000;
  expected.dmLogPixels = 96;  // the platform's, kept
  // Bytes 106-107 zero, though the platform filled them; CDS_UPDATEREGISTRY.
  EXPECT_EQ(state.changes, (std::vector{std::pair(ToImage(expected), 1u)}));
}

TEST(Numbers, FormsAndLimits) {
  using namespace runtime;
  for (const char* text : {"  +.5", "5.", "1E-3"}) EXPECT_TRUE(IsNumeric(text)) << text;
  for (const char* text : {"", "1e", "0x10", "inf", "5 "}) EXPECT_FALSE(IsNumeric(text)) << text;
  EXPECT_EQ(TextToSingle(SingleToText(FLT_MAX)), FLT_MAX);
  EXPECT_EQ(RoundToInt16(32767.4f), 32767);
  const auto overflows = [](auto call) {
    try {
      call();
    } catch (const RuntimeError& error) {
      return error.kind == ErrorKind::Overflow;
    }
    return false;
  };
  EXPECT_TRUE(overflows([] { LeadingNumber("1e400"); }));
  EXPECT_TRUE(overflows([] { TextToSingle("3.5e38"); }));
  EXPECT_TRUE(overflows([] { RoundToInt16(32767.5f); }));
  EXPECT_TRUE(overflows([] { RoundToInt32(2147483648.0f); }));
  EXPECT_TRUE(overflows([] { NarrowToInt16(32768); }));
}

}  // namespace
