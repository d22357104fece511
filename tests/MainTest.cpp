#include <gtest/gtest.h>

#include "fake/FakePlatform.h"
#include "runtime/ExitStatus.h"
#include "startup/CommandLineParse.h"

namespace {

using fake::Saved;
using fake::State;

class MainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    State().current = fake::Mode(1280, 1024, 32, 75);
    State().modes = {fake::Mode(1280, 1024, 32, 75), fake::Mode(1024, 768, 32, 60)};
  }

  /// The requested mode of the last change: width, height, depth, refresh rate.
  std::vector<int32_t> LastChange() const {
    DEVMODEA record;
    FromImage(State().changeImages.back().data(), record);
    return {record.dmPelsWidth, record.dmPelsHeight, record.dmBitsPerPel, record.dmDisplayFrequency};
  }

  void ExpectNothingTouched() const {
    EXPECT_TRUE(State().changeImages.empty());
    EXPECT_TRUE(State().saves.empty());
  }

  /// Runs `commandText`; expects one error report that holds each of
  /// `parts`, and nothing saved or changed.
  void ExpectErrorReport(const std::string& commandText, std::initializer_list<const char*> parts) const {
    EXPECT_EQ(fake::Run(commandText), kExitError) << commandText;
    ASSERT_EQ(State().errorReports.size(), 1u) << commandText;
    for (const char* part : parts)
      EXPECT_NE(State().errorReports[0].find(part), std::string::npos) << State().errorReports[0];
    ExpectNothingTouched();
  }
};

TEST_F(MainTest, UsageWarningForACommandLineWithoutArguments) {
  for (const char* text : {"", " \t ", "768 1024", "-a - -b", "\"-restore\""}) {
    State().messages.clear();
    EXPECT_EQ(fake::Run(text), kExitUsage) << text;
    ASSERT_EQ(State().messages.size(), 1u) << text;
  }
  const fake::MessageBoxCall& warning = State().messages.back();
  EXPECT_EQ(warning.title, "ERROR: Vistrel ");
  EXPECT_EQ(warning.style, 48u);
  EXPECT_EQ(warning.text,
            "Invalid commandline Usage.\r\n\r\nUSAGE  : -height -width -depth -refreshrate -monitor \r\n\r\n"
            "-height : Set Height of Resolution\r\n-width : Set Width of Resolution\r\n"
            "-depth : Set Depth of Resolution\r\n-refreshrate : Set Refresh Rate of Resolution\r\n"
            "-monitor : '1' = Primary Monitor  and '2' = Secondary Monitor\r\n"
            "-restore : Restore Previous Resolution\r\n-output : Make a list of All Available Resolution");
  ExpectNothingTouched();
}

TEST_F(MainTest, ArgumentNamingNoCommandEndsSilently) {
  for (const char* text : {"-restores", "-out", "-list", "-output\n", "-x -restore"}) {
    EXPECT_EQ(fake::Run(text), kExitUsage) << text;
  }
  EXPECT_TRUE(State().messages.empty());
  EXPECT_TRUE(State().errorReports.empty());
  EXPECT_TRUE(State().enumIndexes.empty());
  ExpectNothingTouched();
}

TEST_F(MainTest, NumericCommandTakesHeightBeforeWidthAndIgnoresTheMonitor) {
  EXPECT_EQ(fake::Run("-768 -1024 -32 -60 -9"), kExitDone);
  EXPECT_EQ(LastChange(), (std::vector<int32_t>{1024, 768, 32, 60}));
  EXPECT_EQ(State().changeFlags.back(), 1u);  // CDS_UPDATEREGISTRY
  EXPECT_EQ(fake::Run("-768 -abc -32 -60 -1 -restore"), kExitDone);
  EXPECT_EQ(LastChange(), (std::vector<int32_t>{0, 768, 32, 60}));
}

TEST_F(MainTest, NumericCommandWithFourValuesIsAnIndexErrorBeforeAnythingIsSaved) {
  ExpectErrorReport("-768 -1024 -32 -60", {"needs 5 values", "got 4"});
}

TEST_F(MainTest, NumericValueBeyondSinglePrecisionIsReported) {
  ExpectErrorReport("-768 -1e39 -32 -60 -1", {"width -1e39", "single precision"});
}

TEST_F(MainTest, TwoRestoresAlternateBetweenTwoModes) {
  ASSERT_EQ(fake::Run("-768 -1024 -32 -60 -1"), kExitDone);
  EXPECT_EQ(Saved("OldWidth"), "1280");
  EXPECT_EQ(Saved("OldHeight"), "1024");
  EXPECT_EQ(Saved("OldBPP"), "32");
  EXPECT_EQ(Saved("OldRefresh"), "75");

  EXPECT_EQ(fake::Run("-RESTORE -768"), kExitDone);
  EXPECT_EQ(LastChange(), (std::vector<int32_t>{1280, 1024, 32, 75}));
  EXPECT_EQ(Saved("OldWidth"), "1024");
  EXPECT_EQ(Saved("OldHeight"), "768");
  EXPECT_EQ(Saved("OldRefresh"), "60");

  EXPECT_EQ(fake::Run("-Restore"), kExitDone);
  EXPECT_EQ(LastChange(), (std::vector<int32_t>{1024, 768, 32, 60}));
  EXPECT_EQ(Saved("OldWidth"), "1280");
}

TEST_F(MainTest, RestoreWithNothingSavedIsAConversionErrorThatChangesNothing) {
  ExpectErrorReport("-restore", {"no saved display mode"});
}

TEST_F(MainTest, RestoreOfAnEntryEditedToAWordNamesTheEntry) {
  State().store = {{{"Restore", "OldWidth"}, "1280"},
                   {{"Restore", "OldHeight"}, "tall"},
                   {{"Restore", "OldBPP"}, "32"},
                   {{"Restore", "OldRefresh"}, "75"}};
  ExpectErrorReport("-restore", {"OldHeight", "\"tall\""});
}

TEST_F(MainTest, RefusedChangeExitsWithThreeAndNoMessage) {
  State().changeResult = -2;  // DISP_CHANGE_BADMODE
  EXPECT_EQ(fake::Run("-600 -800 -32 -60 -1"), kExitNotChanged);
  EXPECT_TRUE(State().messages.empty());
  EXPECT_TRUE(State().errorReports.empty());
  State().changeResult = 1;  // DISP_CHANGE_RESTART: taken, effective later
  EXPECT_EQ(fake::Run("-600 -800 -32 -60 -1"), kExitDone);
}

}  // namespace
