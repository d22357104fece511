#include "platform/linux/SettingsFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Platform.h"
#include "runtime/RuntimeError.h"

namespace platform {
namespace {

const char kFile[] =
    "; comment=1\n"
    "[Other]\n"
    "OldWidth=7\n"
    "\n"
    "[ restore ]\r\n"
    "  OldWidth = 1280  \r\n"
    "#OldHeight=5\r\n"
    "OldBPP=32\r\n"
    "[Restore]\n"
    "OldRefresh=75\n";

TEST(ReadIniValueTest, ReadsTheFirstSectionAndKeyOfThatName) {
  EXPECT_EQ(ReadIniValue(kFile, "Restore", "OldWidth"), "1280");
  EXPECT_EQ(ReadIniValue(kFile, "RESTORE", "oldbpp"), "32");
  EXPECT_EQ(ReadIniValue(kFile, "Other", "OldWidth"), "7");
  EXPECT_EQ(ReadIniValue("[Restore]\nOldWidth=", "Restore", "OldWidth"), "");
}

TEST(ReadIniValueTest, GivesNothingForWhatIsAbsent) {
  EXPECT_EQ(ReadIniValue(kFile, "Restore", "OldHeight"), std::nullopt);    // only in a comment
  EXPECT_EQ(ReadIniValue(kFile, "Restore", "OldRefresh"), std::nullopt);   // in a later section of that name
  EXPECT_EQ(ReadIniValue(kFile, "Missing", "OldWidth"), std::nullopt);
  EXPECT_EQ(ReadIniValue("OldWidth=1\n", "Restore", "OldWidth"), std::nullopt);
  EXPECT_EQ(ReadIniValue("", "Restore", "OldWidth"), std::nullopt);
  EXPECT_EQ(ReadIniValue("[Restore\nOldWidth=1\n", "Restore", "OldWidth"), std::nullopt);
}

TEST(ReplaceIniValueTest, ReplacesOneLineAndKeepsEveryOther) {
  const std::string text = kFile;
  const std::string changed = ReplaceIniValue(text, "Restore", "OldWidth", "1024");
  std::string expected = text;
  expected.replace(expected.find("  OldWidth = 1280  "), 19, "OldWidth=1024");
  EXPECT_EQ(changed, expected);
  EXPECT_EQ(ReplaceIniValue("[Restore]\nOldWidth=1", "Restore", "OldWidth", "2"), "[Restore]\nOldWidth=2");
}

TEST(ReplaceIniValueTest, AddsNewKeysAfterTheSectionsLastKey) {
  EXPECT_EQ(ReplaceIniValue("[Restore]\nA=1\n\n[Next]\n", "Restore", "B", "2"), "[Restore]\nA=1\nB=2\n\n[Next]\n");
  EXPECT_EQ(ReplaceIniValue("[Restore]\r\n[Next]\r\n", "Restore", "B", "2"), "[Restore]\r\nB=2\r\n[Next]\r\n");
  EXPECT_EQ(ReplaceIniValue("[Restore]\nA=1", "Restore", "B", "2"), "[Restore]\nA=1\nB=2\n");
  // A lone CR at the very end stays a line break; it must not end up in A's value.
  const std::string afterLoneCr = ReplaceIniValue("[Restore]\r\nA=1\r", "Restore", "B", "2");
  EXPECT_EQ(afterLoneCr, "[Restore]\r\nA=1\r\nB=2\r\n");
  EXPECT_EQ(ReadIniValue(afterLoneCr, "Restore", "A"), "1");
}

TEST(ReplaceIniValueTest, AddsAMissingSectionAtTheEnd) {
  EXPECT_EQ(ReplaceIniValue("", "Restore", "OldWidth", "1280"), "[Restore]\nOldWidth=1280\n");
  EXPECT_EQ(ReplaceIniValue("[Other]\nx=y", "Restore", "A", "1"), "[Other]\nx=y\n[Restore]\nA=1\n");
}

TEST(ReplaceIniValueTest, RemovesOnlyTheKeysLine) {
  const std::string text = "[Restore]\nA=1\nB=2\n[Other]\nB=3\n";
  EXPECT_EQ(ReplaceIniValue(text, "Restore", "B", std::nullopt), "[Restore]\nA=1\n[Other]\nB=3\n");
  EXPECT_EQ(ReplaceIniValue(text, "Restore", "C", std::nullopt), text);
  EXPECT_EQ(ReplaceIniValue("", "Restore", "C", std::nullopt), "");
}

/// Points XDG_CONFIG_HOME at a fresh folder for one test.
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vistrel-settings.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    setenv("XDG_CONFIG_HOME", (folder_ + "/config").c_str(), /*overwrite=*/1);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

  std::string folder_;
};

TEST_F(SettingsStoreTest, SavesReadsAndDeletesInTheApplicationsFile) {
  const std::string path = folder_ + "/config/Quendrel/settings.ini";
  EXPECT_EQ(SettingsPath("Quendrel"), path);
  EXPECT_EQ(QuerySetting("Quendrel", "Restore", "OldWidth"), std::nullopt);
  SaveSettings("Quendrel", "Restore", {{"OldWidth", "1280"}});
  SaveSettings("Quendrel", "Restore", {{"OldHeight", "1024"}});
  EXPECT_EQ(QuerySetting("Quendrel", "Restore", "OldWidth"), "1280");
  EXPECT_EQ(Read(path), "[Restore]\nOldWidth=1280\nOldHeight=1024\n");
  SaveSettings("Quendrel", "Restore", {{"OldWidth", std::nullopt}});
  EXPECT_EQ(QuerySetting("Quendrel", "Restore", "OldWidth"), std::nullopt);
  EXPECT_EQ(Read(path), "[Restore]\nOldHeight=1024\n");
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_ + "/config/Quendrel"), {}), 1);
}

TEST_F(SettingsStoreTest, ReplacesALinkWithoutWritingThroughIt) {
  const std::string target = folder_ + "/target.ini";
  std::ofstream(target) << "[Restore]\nOldWidth=1\n";
  std::filesystem::create_directories(folder_ + "/config/Quendrel");
  std::filesystem::create_symlink(target, folder_ + "/config/Quendrel/settings.ini");
  EXPECT_EQ(QuerySetting("Quendrel", "Restore", "OldWidth"), "1");
  SaveSettings("Quendrel", "Restore", {{"OldWidth", "2"}});
  EXPECT_EQ(Read(target), "[Restore]\nOldWidth=1\n");
  EXPECT_EQ(QuerySetting("Quendrel", "Restore", "OldWidth"), "2");
}

TEST_F(SettingsStoreTest, AFailedSaveIsAPlatformCallErrorNamingTheFile) {
  // A plain file where the folder should be: nothing can be created in it.
  std::filesystem::create_directories(folder_ + "/config");
  std::ofstream(folder_ + "/config/Quendrel") << "not a folder";
  try {
    SaveSettings("Quendrel", "Restore", {{"OldWidth", "1280"}});
    FAIL() << "the save did not fail";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.kind, ErrorKind::PlatformCallFailed);
    EXPECT_NE(std::string(error.what()).find(folder_ + "/config/Quendrel/settings.ini"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(QuerySetting("Quendrel", "Restore", "OldWidth"), std::nullopt);  // a read never fails
}

}  // namespace
}  // namespace platform
