// Unit tests of the Linux layer's pure parts, for what no display service
// here can show: the settings file's text and store, the rate of modes that
// the test display cannot have (its dummy driver rejects doublescan and
// interlaced modes), the decisions of GNOME's, KDE's and wlroots' services in
// states their test set-ups cannot reach, and the loader of the libraries
// taken at run time, on libraries that lack a call. The layout rule is
// fuzzed (fuzz/LayoutFuzzer.cpp); the rest is checked end to end.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Platform.h"
#include "platform/linux/services/GnomeChange.h"
#include "platform/linux/services/KdeChange.h"
#include "platform/linux/services/Library.h"
#include "platform/linux/services/WlrChange.h"
#include "platform/linux/Modes.h"
#include "platform/linux/SettingsFile.h"
#include "runtime/RuntimeError.h"

// Lists as the services' own: libc's, with a call in no library, and a library that is not there.
extern "C" int vistrel_absent();
#define LIBC(LIBRARY, CALL, OPTIONAL) LIBRARY("libc.so.6") CALL(strlen) OPTIONAL(vistrel_absent)
#define NEEDS_ABSENT(LIBRARY, CALL, OPTIONAL) LIBRARY("libc.so.6") CALL(vistrel_absent)
#define NO_LIBRARY(LIBRARY, CALL, OPTIONAL) LIBRARY("libvistrel.so.0") CALL(strlen)
namespace loaded {
VISTREL_POINTERS(LIBC)
void (*const kLoads[])() = {[] { VISTREL_LOAD(LIBC); }, [] { VISTREL_LOAD(NEEDS_ABSENT); },
                            [] { VISTREL_LOAD(NO_LIBRARY); }};
}  // namespace loaded

namespace platform {
namespace fs = std::filesystem;

// A lone CR at the end is fuzzed (fuzz/corpus/settings_file/lone-cr-at-end).
TEST(ReplaceIniValueTest, ChangesOneKeyAndKeepsEveryOtherByteAndLineBreak) {
  const struct { const char* before; std::optional<std::string> value; const char* after; } edits[] = {
      {"; c\n[Other]\nB=7\n\n[ restore ]\r\n  B = 1  \r\n#B=5\r\n[Restore]\nB=3\n", "2",
       "; c\n[Other]\nB=7\n\n[ restore ]\r\nB=2\r\n#B=5\r\n[Restore]\nB=3\n"},
      {"[Restore]\r\nA=1\r\n\r\n[Next]\r\n", " 2", "[Restore]\r\nA=1\r\nB= 2\r\n\r\n[Next]\r\n"},
      {"[Other]\nx=y", "2", "[Other]\nx=y\n[Restore]\nB=2\n"},
      {"x\n[Restore]\r\nB=1\r\n\n[Other]\n", std::nullopt, "x\n\n[Other]\n"},  // no empty section left
      {"[Restore]\n;c\nB=2\n[Other]\nB=3\n", std::nullopt, "[Restore]\n;c\n[Other]\nB=3\n"},
      {"[Restore]\nB=1\n[Restore]\nB=3\n", std::nullopt, "[Restore]\n[Restore]\nB=3\n"}};  // the first stays first
  for (const auto& edit : edits) {
    EXPECT_EQ(ReplaceIniValue(edit.before, "Restore", "B", edit.value), edit.after);
    EXPECT_EQ(ReadIniValue(edit.after, "RESTORE", "B"), edit.value ? "2" : edit.value) << edit.after;
  }
}

static std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The lock is checked end to end (a run that waits for another's turn); here,
// what a save does to the folder and a link.
TEST(SettingsStoreTest, ReplacesALinkRemovesStaleTemporaryFilesAndWritesNothingOfARefusedSave) {
  const std::string root = "/tmp/vistrel-store-" + std::to_string(getpid()), folder = root + "/Quendrel",
                    file = folder + "/settings.ini", mine = root + "/mine.ini";
  setenv("XDG_CONFIG_HOME", root.c_str(), /*overwrite=*/1);
  fs::create_directories(folder);
  std::ofstream(folder + "/settings.ini.0123456789ab") << "left by a killed save";
  std::ofstream(mine) << "; mine\r\n[Restore]\r\nOldWidth=1\r\n";
  fs::create_symlink(mine, file);
  EXPECT_EQ(QuerySetting("Quendrel", "Restore", "OldWidth"), "1");
  EXPECT_THROW(SaveSettings("Quendrel", "Restore", {{"OldWidth", "5"}, {"C", "\n"}}), RuntimeError);
  SaveSettings("Quendrel", "Restore", {{"OldWidth", "2"}, {"OldHeight", "3"}});
  EXPECT_EQ(Read(mine), "; mine\r\n[Restore]\r\nOldWidth=1\r\n");  // replaced, not written through
  EXPECT_EQ(Read(file), "; mine\r\n[Restore]\r\nOldWidth=2\r\nOldHeight=3\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);  // no temporary file, old ones gone
  fs::remove_all(root);
}

// The rate of modes that the test display cannot have, and the line for a
// compositor that answers success for a mode it does not show (no KWin here does).
TEST(ModesTest, RatesOfDoublescanAndInterlacedModesAndWhatAnOutputShowsInstead) {
  // Doublescan draws every line twice; interlace draws half the lines per field.
  EXPECT_NEAR(RefreshRate(25175000, 800, 525, /*doubleScan=*/true, false), 29.97, 0.01);
  EXPECT_NEAR(RefreshRate(74250000, 2200, 1125, false, /*interlaced=*/true), 60.0, 0.001);
  const ModeEntry asked{0, 800, 600, 59.861, false, false}, other{{}, 800, 600, 60, false, false};
  EXPECT_EQ(NotShown("V", asked, asked) + NotShown("V", asked, other),
            "V shows 800x600 at 60.000 Hz, not 800x600 at 59.861 Hz");
  EXPECT_EQ(NotShown("V", asked, std::nullopt), "V shows no mode, not 800x600 at 59.861 Hz");
  // A size of the caller's own: the service computes its timings, so the whole Hz is the rate asked.
  const ModeEntry own{{}, 800, 600, 59.861, false, false}, any{{}, 800, 600, 0, false, false};
  EXPECT_EQ(NotShown("V", own, other) + NotShown("V", any, other), "");
  EXPECT_EQ(NotShown("V", own, ModeEntry{{}, 800, 600, 59.4, false, false}) + NotShown("V", any, {}),
            "V shows 800x600 at 59.400 Hz, not 800x600 at 59.861 HzV shows no mode, not 800x600");
}

// The line of what `call` throws; "" where it throws nothing.
template <typename Call>
std::string Thrown(Call call) {
  try {
    call();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

// A missing library, and a missing call that the program needs, are named in
// the line; an optional call is left null (libX11's before 1.7 lack one).
TEST(LibraryTest, NamesAMissingLibraryOrNeededCallAndDoesWithoutAnOptionalOne) {
  std::string said[3];
  for (int i = 0; i < 3; ++i) try { loaded::kLoads[i](); } catch (const ServiceError& error) { said[i] = error.what(); }
  EXPECT_TRUE(said[0].empty() && loaded::strlen("four") == 4 && !loaded::vistrel_absent) << said[0];
  EXPECT_EQ(said[1], "libc.so.6 lacks vistrel_absent");
  EXPECT_EQ(said[2].substr(0, 29), "cannot load libvistrel.so.0: ");
}

// What Mutter's dummy monitors cannot show: a mirroring monitor that lacks
// the size (they all have the same modes), variable refresh rate modes
// (Mutter 46 and later), and the monitor settings that ApplyMonitorsConfig
// resets where they are not sent back (they report none). A and B mirror
// each other at a variable rate.
TEST(PlanGnomeChangeTest, MirrorsChangeTogetherEachInItsOwnKindOrNotAtAllKeepingTheirSettings) {
  const auto mode = [](size_t id, int32_t width, bool variableRate) {
    return GnomeMode{"", {id, width, 768, 60, false, false}, 1, {1}, variableRate};
  };
  const std::vector<GnomeMode> modes = {mode(0, 1280, false), mode(1, 1280, true), mode(2, 1024, true)};
  GnomeState state{{{"A", modes, 1, false, 1, 3}, {"B", modes, 1, {}, {}, {}}}, {{0, 0, 1, 0, true, {"A", "B"}}},
                   kPhysicalLayout, false, 0, 0};
  // A lists its variable rate modes alone; B follows in its kind, and at a fixed rate it lacks 1024x768.
  EXPECT_EQ(ListedModes(state.monitors[0]).size(), 2u);
  const GnomeState after = PlanGnomeChange(state, modes[2].entry, 60);
  EXPECT_EQ(after.monitors[1].current, 2);
  EXPECT_EQ(RepeatedSettings(after.monitors[0]),
            (std::vector<GnomeSetting>{{"underscanning", "b", 0}, {"color-mode", "u", 1}, {"rgb-range", "u", 3}}));
  state.monitors[1].current = 0;
  EXPECT_EQ(Thrown([&] { PlanGnomeChange(state, modes[2].entry, 60); }),
            "B, which shows the same picture as A, has no mode of 1024x768 at 60 Hz");
}

// Where a mode lacks the preferred scale (2 here): in the physical layout
// mode of the end-to-end rows, every mode lists only whole scales.
TEST(ScaleForTest, DefaultIsTheNearestBelowThePreferred) {
  const auto mode = [](std::vector<double> scales) { return GnomeMode{"", {}, 2, scales}; };
  // The default, or the preferred scale though not listed, becomes the new
  // mode's default: 1.5, not 2.25 nor 1. So does a chosen scale it lacks.
  EXPECT_EQ(ScaleFor(mode({1, 2}), mode({1, 1.5, 2.25}), 2), 1.5);
  EXPECT_EQ(ScaleFor(mode({1, 1.5}), mode({1, 1.5, 2.004}), 2), 1.5);
  EXPECT_EQ(ScaleFor(mode({1, 1.75, 2}), mode({1, 1.25, 3}), 1.75), 1.25);
}

// What a plan sends, as rows write it: each output's mode (its id, a custom
// mode's width@rate, or -) and @x,y where it is placed; or the refusal.
template <typename Plan>
std::string Sent(Plan plan) {
  std::string sent;
  try {
    for (const auto& c : plan()) {
      const std::optional<ModeEntry>& m = c.mode;
      const std::string custom = m ? std::to_string(m->width) + "@" + std::to_string(WholeHz(m->refresh)) : "-";
      sent += m && m->id ? std::to_string(*m->id) : custom;
      sent += (c.place ? "@" + std::to_string(c.place->x) + "," + std::to_string(c.place->y) : "") + " ";
    }
  } catch (const std::exception& error) { return error.what(); }
  return sent;
}

// What no compositor here shows: a clone that lacks the size (Wayfire's
// mirror, at 0,0 too), a head without a mode in force (COSMIC's mirror), a
// success whose read back is not the mode asked; and what niri and Hyprland
// need, which keep no unsent setting: every enabled head stated, each where
// neither rounding (niri, COSMIC) nor truncation (wlroots) of a scaled size
// overlaps it, and told where the compositor put it elsewhere.
TEST(PlanWlrChangeTest, EveryEnabledHeadStatedWhereNoRuleOverlapsClonesTogether) {
  const ModeEntry big{0, 1280, 720, 60, false, true}, small{1, 1024, 768, 60, false, false};
  std::vector<WlrHeadState> heads = {{"A", {big, small}, big, true, false, 0, 0, 0, 307},  // scale 1.2
                                     {"B", {big}, big, true, false, 0, 0, 0, 307},
                                     {"C", {big}, big, true, false, 1067},  // 1066.67 rounded
                                     {"D", {big}, big, true, /*takesAnySize=*/true, 1067, 720},
                                     {"E", {big}, big, false, false, 9000}};
  const auto plan = [&](const ModeEntry& mode) { return Sent([&] { return PlanWlrChange(heads, 0, mode, 60); }); };
  EXPECT_EQ(plan(small), "B, which shows the same picture as A, has no mode of 1024x768 at 60 Hz");
  heads[1].modes.push_back(small);
  // 1024 at 1.2 is 853 truncated, 854 rounded at 1.19921875 as sent; D's mode as a custom mode.
  EXPECT_EQ(plan(small), "1@0,0 1@0,0 0@854,0 1280@60@854,720 - ");
  std::vector<WlrHeadState> after = heads;
  after[2].x = 853, after[3].x = 854, after[4].x = 0;
  EXPECT_EQ(WlrMisplaced(after, PlanWlrChange(heads, 0, small, 60)),
            std::vector<std::string>{"the compositor put C at 853,0, not at 854,0 as asked"});
  // At 1.5: 1600 pixels are 1066.67 units, 1067 where niri and COSMIC round; one unit
  // apart (truncated by wlroots) reads as touching on the way back.
  const ModeEntry wide{{}, 1920, 1080, 60, false, false}, narrow{{}, 1600, 900, 60, false, false};
  heads = {{"A", {}, wide, true, true, 0, 0, 0, 384}, {"C", {big}, big, true, false, 1280}};
  EXPECT_EQ(plan(narrow), "1600@60@0,0 0@1067,0 ");
  heads[0].current = narrow, heads[1].x = 1066;
  EXPECT_EQ(plan(wide), "1920@60@0,0 0@1280,0 ");
  heads[0].current.reset();
  EXPECT_EQ(WlrDeviceOf(heads), 1u);
  EXPECT_EQ(plan(small).substr(0, 48), "A is enabled but reports no mode in force (as a ");
}

// KWin's rules, where they differ from wlroots': A (at 1.2) grows to 1280x1024,
// 1066.67 units that KWin rounds to 1067 (wlroots truncates); U, unified with A
// at one position, changes with it or refuses; B, centred beside A one unit off
// (a scale off KWin's steps), is put against it, centred; replicas of A (C at
// its position, D below it) keep their modes and places; a size beyond 32767
// is refused before anything is sent.
TEST(PlanKdeChangeTest, KWinRoundsUnifiedOutputsChangeTogetherReplicasStayAsTheyAre) {
  const auto output = [](const char* name, std::vector<ModeEntry> modes, int32_t x, int32_t y, double scale) {
    return KdeOutputState{name, name, "", modes, modes[0], x, y, 0, scale, /*enabled=*/true};
  };
  const ModeEntry small{0, 1024, 768, 60, false, false}, big{1, 1280, 1024, 60, false, false},
      huge{2, 40000, 768, 60, false, false};
  std::vector<KdeOutputState> outputs = {
      output("A", {small, big, huge}, 0, 0, 1.2), output("U", {small, huge, big}, 0, 0, 1.2),
      output("B", {small}, 854, 128, 2), output("C", {small, big}, 0, 0, 1), output("D", {small}, 0, 640, 1)};
  outputs[3].replicationSource = outputs[4].replicationSource = "A";
  const auto plan = [&](const ModeEntry& mode) { return Sent([&] { return PlanKdeChange(outputs, 0, mode, 60); }); };
  EXPECT_EQ(plan(big), "1 1 -@1067,234 - - ");
  EXPECT_EQ(plan(huge).substr(0, 23), "A cannot show 40000x768");
  outputs[1].modes.pop_back();
  EXPECT_EQ(plan(big), "U, which shows the same picture as A, has no mode of 1280x1024 at 60 Hz");
}

}  // namespace platform
