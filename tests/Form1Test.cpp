#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake/FakePlatform.h"
#include "report/Form1.h"
#include "runtime/ExitStatus.h"

namespace fs = std::filesystem;

namespace {

using fake::State;

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    directory_ = fs::temp_directory_path() /
                 ("vistrel-form1-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    State().programDirectory = directory_.string();
  }
  void TearDown() override { fs::remove_all(directory_); }

  fs::path ListFile() const { return directory_ / "output.txt"; }

  std::string ReadListFile() const {
    std::ifstream file(ListFile(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

  fs::path directory_;
};

TEST_F(Form1Test, WritesOneLinePerModeInEnumerationOrder) {
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    State().modes.push_back(fake::Mode(640 + i, 480, i % 2 ? 16 : 32, 60 + i));
    expected += std::to_string(640 + i) + "x480x" + (i % 2 ? "16" : "32") + " Bits @ " + std::to_string(60 + i) +
                " Hz\r\n";
  }
  EXPECT_EQ(fake::Run("-output"), kExitDone);
  EXPECT_EQ(ReadListFile(), expected);
  EXPECT_EQ(Form1::ModeIndex, 20);
  EXPECT_EQ(Form1::ModeTable.size(), 25u);  // capacity 8, then 16, then 24

  // A second run rebuilds the file instead of appending to it.
  EXPECT_EQ(fake::Run("-OUTPUT -768"), kExitDone);
  EXPECT_EQ(ReadListFile(), expected);
}

TEST_F(Form1Test, EveryEnumerationGetsAFreshZeroedRecord) {
  State().modes = {fake::Mode(1024, 768, 32, 60), fake::Mode(800, 600, 32, 60)};
  EXPECT_EQ(fake::Run("-output"), kExitDone);
  EXPECT_EQ(Form1::ModeTable[2].dmPelsWidth, 0);  // asked for, not answered, so untouched
  EXPECT_EQ(Form1::ModeTable[1].dmPelsWidth, 800);
  EXPECT_EQ(ReadListFile(), "1024x768x32 Bits @ 60 Hz\r\n800x600x32 Bits @ 60 Hz\r\n");
}

TEST_F(Form1Test, NoModesLeaveNoFile) {
  std::ofstream(ListFile()) << "stale";
  EXPECT_EQ(fake::Run("-output"), kExitNotChanged);
  EXPECT_FALSE(fs::exists(ListFile()));
}

TEST_F(Form1Test, DirectoryEndingInASeparatorGivesTwoSeparators) {
  fs::create_directories(directory_ / "sub");
  const char separator = static_cast<char>(fs::path::preferred_separator);
  State().programDirectory = (directory_ / "sub").string() + separator;
  State().modes = {fake::Mode(1024, 768, 32, 60)};
  EXPECT_EQ(fake::Run("-output"), kExitDone);
  ASSERT_EQ(State().openedFiles.size(), 1u);
  EXPECT_EQ(State().openedFiles[0], State().programDirectory + separator + "output.txt");
  EXPECT_TRUE(fs::exists(directory_ / "sub" / "output.txt"));
}

TEST_F(Form1Test, UnwritableListFileIsReported) {
  fs::create_directories(ListFile());  // a folder where the file should go
  State().modes = {fake::Mode(1024, 768, 32, 60)};
  EXPECT_EQ(fake::Run("-output"), kExitError);
  ASSERT_EQ(State().errorReports.size(), 1u);
  EXPECT_NE(State().errorReports[0].find("output.txt"), std::string::npos) << State().errorReports[0];
}

}  // namespace
