#include "platform/linux/Modes.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(RefreshRateTest, ComesFromTheDotClockAndTotals) {
  EXPECT_NEAR(RefreshRate(65000000, 1344, 806, false, false), 60.004, 0.001);
  // Doublescan draws every line twice; interlace draws half the lines per field.
  EXPECT_NEAR(RefreshRate(25175000, 800, 525, /*doubleScan=*/true, false), 29.97, 0.01);
  EXPECT_NEAR(RefreshRate(74250000, 2200, 1125, false, /*interlaced=*/true), 60.0, 0.001);
  EXPECT_EQ(RefreshRate(65000000, 0, 806, false, false), 0);
  EXPECT_EQ(WholeHz(59.94), 60);
  EXPECT_EQ(WholeHz(74.49), 74);
}

std::vector<ModeEntry> SampleList() {
  return {
      {1, 1280, 1024, 75.02, false, true},  {2, 1280, 1024, 60.02, false, false},
      {3, 1024, 768, 75.03, false, false},  {4, 1024, 768, 70.07, false, false},
      {5, 1024, 768, 60.00, false, false},  {6, 640, 480, 59.94, false, false},
      {7, 640, 480, 60.00, false, false},   {8, 640, 480, 60.40, false, false},
      {9, 800, 600, 56.25, false, false},   {10, 800, 600, 60.32, false, true},
  };
}

TEST(ChooseModeTest, TakesTheSizeAndTheRefreshRateAsTheListRoundsIt) {
  const std::vector<ModeEntry> modes = SampleList();
  EXPECT_EQ(ChooseMode(modes, 1024, 768, 60), 4);
  EXPECT_EQ(ChooseMode(modes, 1024, 768, 70), 3);
  EXPECT_EQ(ChooseMode(modes, 1280, 1024, 75), 0);
  // 59.94, 60.00 and 60.40 all round to 60; 60.00 is nearest, wherever it is listed.
  EXPECT_EQ(ChooseMode(modes, 640, 480, 60), 6);
}

TEST(ChooseModeTest, ZeroOrOneAsksForThePreferredElseTheFirstMode) {
  const std::vector<ModeEntry> modes = SampleList();
  EXPECT_EQ(ChooseMode(modes, 800, 600, 0), 9);
  EXPECT_EQ(ChooseMode(modes, 800, 600, 1), 9);
  EXPECT_EQ(ChooseMode(modes, 1024, 768, 0), 2);
}

TEST(ChooseModeTest, RefusesWhatTheListLacks) {
  const std::vector<ModeEntry> modes = SampleList();
  EXPECT_EQ(ChooseMode(modes, 1024, 769, 60), -1);
  EXPECT_EQ(ChooseMode(modes, 768, 1024, 60), -1);  // width and height are not interchangeable
  EXPECT_EQ(ChooseMode(modes, 1024, 768, 85), -1);
  EXPECT_EQ(ChooseMode(modes, 1024, 768, 61), -1);
  EXPECT_EQ(ChooseMode({}, 1024, 768, 0), -1);
}

}  // namespace
}  // namespace platform
