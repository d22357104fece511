#include <gtest/gtest.h>

#include <cstring>

#include "display/ApplyDisplayMode.h"
#include "fake/FakePlatform.h"

namespace {

using CommandLineParse::ApplyDisplayMode;
using fake::Saved;
using fake::State;

class ApplyDisplayModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    State().current = fake::Mode(1280, 1024, 32, 75);
    DEVMODEA last = fake::Mode(640, 480, 16, 72);
    last.dmLogPixels = 96;
    last.dmDisplayFlags = 2;
    last.dmDriverExtra = 7;
    std::strcpy(last.dmFormName, "form");
    State().modes = {fake::Mode(1280, 1024, 32, 75), fake::Mode(1024, 768, 32, 60), last};
  }

  bool Apply(float width, float height, float depth, float refreshRate) {
    return ApplyDisplayMode(width, height, depth, refreshRate);
  }

  void SaveOldMode(const char* width, const char* height, const char* depth, const char* refresh) {
    State().store = {{{"Restore", "OldWidth"}, width},
                     {{"Restore", "OldHeight"}, height},
                     {{"Restore", "OldBPP"}, depth},
                     {{"Restore", "OldRefresh"}, refresh}};
  }
};

TEST_F(ApplyDisplayModeTest, SavesTheModeInForceThenHandsThePlatformTheRequestedOne) {
  EXPECT_TRUE(Apply(1024, 768, 32, 60));
  ASSERT_EQ(State().saves.size(), 4u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"OldWidth", "1280"}, {"OldHeight", "1024"}, {"OldBPP", "32"}, {"OldRefresh", "75"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(State().saves[i].key, expected[i].first);
    EXPECT_EQ(State().saves[i].value, expected[i].second);
  }
  // The mode in force first, then the whole list once, up to the index that ends it.
  EXPECT_EQ(State().enumIndexes, (std::vector<int32_t>{-1, 0, 1, 2, 3}));

  ASSERT_EQ(State().changeImages.size(), 1u);
  // Expected image: the last enumerated mode as the platform left it, with
  // the five written fields replaced and the depth's high half zero.
  DEVMODEA expectedRecord = State().modes.back();
  expectedRecord.dmFields = 0x005E0000;
  expectedRecord.dmPelsWidth = 1024;
  expectedRecord.dmPelsHeight = 768;
  expectedRecord.dmBitsPerPel = 32;
  expectedRecord.dmDisplayFrequency = 60;
  const DevModeImage image = State().changeImages[0];
  EXPECT_EQ(image, ToImage(expectedRecord));
  EXPECT_EQ(image[106], 0);
  EXPECT_EQ(image[107], 0);
}

TEST_F(ApplyDisplayModeTest, RoundsToNearestWithTiesToEven) {
  EXPECT_TRUE(Apply(1024.4f, 768.5f, 32.5f, 59.5f));
  DEVMODEA sent;
  FromImage(State().changeImages[0].data(), sent);
  EXPECT_EQ(sent.dmPelsWidth, 1024);
  EXPECT_EQ(sent.dmPelsHeight, 768);
  EXPECT_EQ(sent.dmBitsPerPel, 32);
  EXPECT_EQ(sent.dmDisplayFrequency, 60);
  EXPECT_TRUE(Apply(1024, 769.5f, 32, 60));
  FromImage(State().changeImages[1].data(), sent);
  EXPECT_EQ(sent.dmPelsHeight, 770);
}

TEST_F(ApplyDisplayModeTest, AbandonedChangePutsTheSavedModeBack) {
  SaveOldMode("800", "600", "16", "70");
  const auto before = State().store;
  EXPECT_FALSE(Apply(1024, 768, 40000, 60));  // depth beyond 16 bits
  EXPECT_EQ(State().saves.size(), 4u + 4u);  // the new mode, then the old one put back
  EXPECT_TRUE(State().changeImages.empty());
  EXPECT_EQ(State().store, before);
}

TEST_F(ApplyDisplayModeTest, RefusedChangePutsTheSavedModeBackAndAbsentEntriesStayAbsent) {
  State().changeResult = -2;  // DISP_CHANGE_BADMODE
  EXPECT_FALSE(Apply(1000, 700, 32, 60));
  EXPECT_EQ(State().changeImages.size(), 1u);
  EXPECT_TRUE(State().store.empty());

  SaveOldMode("800", "600", "16", "70");
  State().store.erase({"Restore", "OldBPP"});
  const auto before = State().store;
  EXPECT_FALSE(Apply(1000, 700, 32, 60));
  EXPECT_EQ(State().store, before);
}

TEST_F(ApplyDisplayModeTest, StoreThatFailsHalfwayLeavesTheSavedModeWhole) {
  SaveOldMode("800", "600", "16", "70");
  const auto before = State().store;
  State().failingSave = 3;  // OldWidth and OldHeight are written, OldBPP fails
  EXPECT_FALSE(Apply(1024, 768, 32, 60));
  EXPECT_TRUE(State().changeImages.empty());
  EXPECT_EQ(State().store, before);
}

TEST_F(ApplyDisplayModeTest, FailedReadOfTheModeInForceSavesAndChangesNothing) {
  SaveOldMode("800", "600", "16", "70");
  const auto before = State().store;
  State().currentReadFails = true;
  EXPECT_FALSE(Apply(1024, 768, 32, 60));
  EXPECT_TRUE(State().saves.empty());
  EXPECT_TRUE(State().changeImages.empty());
  EXPECT_EQ(State().store, before);
}

TEST_F(ApplyDisplayModeTest, RefreshRateBeyondSixteenBitsAbandonsBeforeSaving) {
  State().current.dmDisplayFrequency = 40000;
  EXPECT_FALSE(Apply(1024, 768, 32, 60));
  EXPECT_TRUE(State().saves.empty());
  EXPECT_TRUE(State().changeImages.empty());
}

}  // namespace
