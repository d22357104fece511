#include "platform/linux/SettingsFile.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>

#include <filesystem>
#include <fstream>

#include "platform/Platform.h"
#include "platform/linux/Handles.h"
#include "runtime/RuntimeError.h"

namespace platform {
namespace fs = std::filesystem;

TEST(ReplaceIniValueTest, ChangesOneKeyAndKeepsEveryOtherByteAndLineBreak) {
  const struct { const char* before; const char* key; std::optional<std::string> value; const char* after; } edits[] = {
      {"; c\n[Other]\nA=7\n\n[ restore ]\r\n  A = 1  \r\n#B=5\r\n[Restore]\nB=2\n", "A", "2",
       "; c\n[Other]\nA=7\n\n[ restore ]\r\nA=2\r\n#B=5\r\n[Restore]\nB=2\n"},
      {"[Restore]\r\nA=1\r\n\r\n[Next]\r\n", "B", " 2", "[Restore]\r\nA=1\r\nB= 2\r\n\r\n[Next]\r\n"},
      {"[Restore]\r\nA=1\r", "B", "2", "[Restore]\r\nA=1\r\nB=2\r\n"},  // a lone CR at the end stays a break
      {"[Other]\nx=y", "A", "2", "[Other]\nx=y\n[Restore]\nA=2\n"},
      {"x\n[Restore]\r\nA=1\r\n\n[Other]\n", "A", std::nullopt, "x\n\n[Other]\n"},  // no empty section left
      {"[Restore]\n;c\nB=2\n[Other]\nB=3\n", "B", std::nullopt, "[Restore]\n;c\n[Other]\nB=3\n"}};
  for (const auto& edit : edits) {
    EXPECT_EQ(ReplaceIniValue(edit.before, "Restore", edit.key, edit.value), edit.after) << edit.before;
    EXPECT_EQ(ReadIniValue(edit.after, "RESTORE", edit.key), edit.value ? "2" : edit.value) << edit.after;
  }
}

static std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::create_directory(root_)) << root_;
    setenv("XDG_CONFIG_HOME", root_.c_str(), /*overwrite=*/1);  // a fresh path, so a fresh store
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string root_ =
      "/tmp/vistrel-" + std::to_string(getpid()) + testing::UnitTest::GetInstance()->current_test_info()->name();
  std::string folder_ = root_ + "/Quendrel", file_ = folder_ + "/settings.ini", mine_ = root_ + "/mine.ini";
};

TEST_F(SettingsStoreTest, SavesEveryEntryInOneReplaceOfALinkWhileHoldingTheLock) {
  fs::create_directories(folder_);
  std::ofstream(folder_ + "/settings.ini.0123456789ab") << "left by a killed save";
  std::ofstream(mine_) << "; mine\r\n[Restore]\r\nOldWidth=1\r\n";
  fs::create_symlink(mine_, file_);
  EXPECT_EQ(QuerySetting("Quendrel", "Restore", "OldWidth"), "1");
  FileDescriptor otherRun(open(folder_.c_str(), O_RDONLY | O_DIRECTORY)), creations(inotify_init1(IN_NONBLOCK));
  EXPECT_NE(flock(otherRun.Get(), LOCK_EX | LOCK_NB), 0);
  inotify_add_watch(creations.Get(), folder_.c_str(), IN_CREATE);  // one temporary file per replace
  EXPECT_THROW(SaveSettings("Quendrel", "Restore", {{"OldWidth", "5"}, {"OldHeight", "6"}, {"C", "\n"}}), RuntimeError);
  SaveSettings("Quendrel", "Restore", {{"OldWidth", "2"}, {"OldHeight", "3"}, {"OldBPP", "4"}});
  alignas(inotify_event) char events[4096];
  EXPECT_EQ(read(creations.Get(), events, sizeof events), static_cast<ssize_t>(sizeof(inotify_event) + 32));
  EXPECT_EQ(Read(mine_), "; mine\r\n[Restore]\r\nOldWidth=1\r\n");  // replaced, not written through
  EXPECT_EQ(Read(file_), "; mine\r\n[Restore]\r\nOldWidth=2\r\nOldHeight=3\r\nOldBPP=4\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 1);  // no temporary file, old ones gone
}

}  // namespace platform
