// Unit tests of the logic on the fake platform, for what the end-to-end
// cases cannot reach: platforms that fail in ways a real display cannot be
// made to, the bytes of the record handed to the platform, and the limits of
// the number services.

#include <gtest/gtest.h>

#include <cfloat>
#include <functional>

#include "display/ApplyDisplayMode.h"
#include "fake/FakePlatform.h"
#include "runtime/Numbers.h"
#include "runtime/RuntimeError.h"

namespace {

using fake::state;

class ApplyDisplayModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::state = {};
    state.current = fake::Mode(1280, 1024, 32, 75);
    state.store = {{{"Restore", "OldWidth"}, "800"}, {{"Restore", "OldHeight"}, "600"}, {{"Restore", "OldBPP"}, "16"}};
    state.modes = {fake::Mode(1024, 768, 32, 60), fake::Mode(640, 480, 16, 72)};
    state.modes.back().dmLogPixels = 96;  // kept, as every field the program does not write
  }
};

TEST_F(ApplyDisplayModeTest, HandsThePlatformTheLastEnumeratedRecordWithTheFiveFieldsSet) {
  EXPECT_TRUE(CommandLineParse::ApplyDisplayMode(1024, 768, 32, 60));
  EXPECT_EQ(state.saveCalls, 1);
  DEVMODEA expected = fake::Mode(1024, 768, 32, 60);  // the last mode listed, as the program sets it
  expected.dmFields = 0x005E0000;
  expected.dmLogPixels = 96;  // the platform's, kept
  ASSERT_EQ(state.changeImages.size(), 1u);
  EXPECT_EQ(state.changeImages[0], ToImage(expected));  // bytes 106-107 zero, though the platform filled them
  EXPECT_EQ(state.changeFlags[0], 1u);                  // CDS_UPDATEREGISTRY
}

TEST_F(ApplyDisplayModeTest, FaultsLeaveTheStoreAsItWasAndTheDisplayUntouched) {
  const std::pair<const char*, std::function<void()>> faults[] = {
      {"the mode in force cannot be read", [] { state.currentReadFails = true; }},
      {"a rate in force beyond 16 bits", [] { state.current.dmDisplayFrequency = 70000; }},
      {"the store fails at its third entry", [] { state.failingSave = 3; }},
  };
  for (const auto& [name, makeFault] : faults) {
    SetUp();
    const auto before = state.store;
    makeFault();
    EXPECT_FALSE(CommandLineParse::ApplyDisplayMode(1024, 768, 32, 60)) << name;
    EXPECT_EQ(state.store, before) << name;
    EXPECT_TRUE(state.changeImages.empty()) << name;
  }
}

TEST(Numbers, FormsAndLimits) {
  using namespace runtime;
  for (const char* text : {"+5", "  12", ".5", "5.", "1E-3"}) EXPECT_TRUE(IsNumeric(text)) << text;
  for (const char* text : {"", "1e", "0x10", "inf", ".", "5 "}) EXPECT_FALSE(IsNumeric(text)) << text;
  EXPECT_EQ(TextToSingle(SingleToText(FLT_MAX)), FLT_MAX);
  EXPECT_EQ(RoundToInt16(32767.4f), 32767);
  const std::pair<const char*, std::function<void()>> overflows[] = {
      {"LeadingNumber 1e400", [] { LeadingNumber("1e400"); }},
      {"TextToSingle 3.5e38", [] { TextToSingle("3.5e38"); }},
      {"RoundToInt16 32767.5", [] { RoundToInt16(32767.5f); }},
      {"RoundToInt32 2^31", [] { RoundToInt32(2147483648.0f); }},
      {"NarrowToInt16 32768", [] { NarrowToInt16(32768); }},
  };
  for (const auto& [name, call] : overflows) {
    try {
      call();
      ADD_FAILURE() << name << ": no error";
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.kind, ErrorKind::Overflow) << name;
    }
  }
}

}  // namespace
