// Unit tests of the Linux layer's pure parts, for what no display service
// here can show: a compositor that shows a rate of its own, the decisions
// of GNOME's, KDE's and wlroots' services in states their test set-ups
// cannot reach, and the loader of the libraries taken at run time, on
// libraries that lack a call. The settings file's text and the layout rule
// are fuzzed (fuzz/); the rest is checked end to end.

#include <gtest/gtest.h>

#include "platform/linux/services/GnomeChange.h"
#include "platform/linux/services/KdeChange.h"
#include "platform/linux/services/Library.h"
#include "platform/linux/services/WlrChange.h"
#include "platform/linux/Modes.h"

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

// A size of the caller's own, whose timings the service computes, shown at another whole Hz.
TEST(ModesTest, ASizeOfOnesOwnAtAnotherWholeHzIsNotShown) {
  EXPECT_FALSE(Shows(ModeEntry{{}, 800, 600, 59.4, false, false}, ModeEntry{{}, 800, 600, 60, false, false}));
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
  loaded::kLoads[0]();
  EXPECT_TRUE(loaded::strlen("four") == 4 && !loaded::vistrel_absent);
  EXPECT_EQ(Thrown(loaded::kLoads[1]), "libc.so.6 lacks vistrel_absent");
  EXPECT_EQ(Thrown(loaded::kLoads[2]).substr(0, 29), "cannot load libvistrel.so.0: ");
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
  // At 1.5, 1600 pixels are 1066.67 units: a neighbour at 1066 (where wlroots truncates) reads as touching.
  const ModeEntry wide{{}, 1920, 1080, 60, false, false}, narrow{{}, 1600, 900, 60, false, false};
  heads = {{"A", {}, narrow, true, true, 0, 0, 0, 384}, {"C", {big}, big, true, false, 1066}};
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
