// The display settings calls on Linux, served from a scripted display
// service: which mode a request chooses, what is sent, and that a change is
// believed only where the service, read again, shows it. What no compositor
// here does (refuse, answer success while showing another mode, go away
// before the read back) must still fail here when its handling breaks.

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/Platform.h"
#include "platform/linux/DisplayService.h"

namespace platform {
namespace {

enum class Peer { kShows, kRefuses, kLies, kVanishes, kMirrorLags, kRateOff, kForgets, kMoves };
using enum Peer;

std::string Text(const ModeEntry& mode) {
  char rate[16];
  std::snprintf(rate, sizeof rate, "@%g", mode.refresh);
  return SizeText(mode.width, mode.height) + rate;
}

// Holds V-1 at 1024x768@60, records what it is sent, and reads back as `peer` says.
struct ScriptedService : DisplayService {
  ScriptedService(Peer peer, bool takesAnySize) : peer(peer) {
    const auto mode = [](unsigned long id, int32_t w, int32_t h, double hz) { return ModeEntry{id, w, h, hz, 0, 0}; };
    device = {"V-1", {mode(0, 1024, 768, 60), mode(1, 1024, 768, 75), mode(2, 800, 600, 60.317),
                      mode(3, 800, 600, 56.25), mode(4, 640, 480, 59.94), mode(5, 640, 480, 60)}};
    device.modes[5].preferred = true;
    device.current = device.modes[0], device.hasCurrent = true, device.bitsPerPel = 32;
    device.takesAnySize = takesAnySize;
  }
  std::string Apply(const ModeEntry& mode, int32_t) override {
    sent = Text(mode), asked = mode;
    if (peer == kRefuses) throw ServiceError("refused");
    return "done";
  }
  std::vector<Shown> ReadBack() override {
    ModeEntry now = peer == kLies ? device.current : asked;
    now.refresh = now.refresh ? now.refresh + (peer == kRateOff) * 0.01 : 60;  // none asked: its own
    if (peer == kVanishes) throw ServiceError("gone");
    if (peer == kMirrorLags) return {{"V-1", asked, now}, {"V-2", asked, std::nullopt}};
    if (peer == kForgets) return {};
    if (peer == kMoves) notices = {"V-2 put elsewhere"};
    return {{"V-1", asked, now}};
  }
  Peer peer;
  ModeEntry asked{};
  std::string sent;
};

struct Row {
  const char* name;
  int32_t width, height, hz;
  Peer peer;
  int32_t result;
  const char* sent;  // "": nothing
  const char* line;  // what the user is told after "vistrel: "; "": nothing
  bool takesAnySize = false;
  int16_t bits = 32;
};

constexpr int32_t kBad = DISP_CHANGE_BADMODE, kFailed = DISP_CHANGE_FAILED;
const Row kRows[] = {
    {"the mode in force: nothing sent", 1024, 768, 60, kShows, 0, "", ""},
    {"a rate the size lacks", 800, 600, 85, kShows, kBad, "", ""},
    {"another depth", 800, 600, 60, kShows, kBad, "", "", false, 16},
    {"a rate as it rounds: 56 is 56.25", 800, 600, 56, kShows, 0, "800x600@56.25", ""},
    {"the nearest of two that round alike", 640, 480, 60, kShows, 0, "640x480@60", ""},
    {"rate 0: the size's preferred, listed second", 640, 480, 0, kShows, 0, "640x480@60", ""},
    {"refused: the service's line", 800, 600, 60, kRefuses, kFailed, "800x600@60.317", "refused"},
    {"success, but another mode shown", 800, 600, 60, kLies, kFailed, "800x600@60.317",
     "done, but V-1 shows 1024x768 at 60.000 Hz, not 800x600 at 60.317 Hz"},
    {"gone before the read back", 800, 600, 60, kVanishes, kFailed, "800x600@60.317", "gone"},
    {"a mirror left without the mode", 800, 600, 60, kMirrorLags, kFailed, "800x600@60.317",
     "done, but V-2 shows no mode, not 800x600 at 60.317 Hz"},
    {"a neighbour put elsewhere: told, the change stands", 800, 600, 60, kMoves, 0, "800x600@60.317",
     "V-2 put elsewhere"},
    {"a read back without the device", 800, 600, 60, kForgets, kFailed, "800x600@60.317",
     "done, but V-1 could not be read back"},
    {"a listed mode shown 10 mHz off", 800, 600, 60, kRateOff, kFailed, "800x600@60.317",
     "done, but V-1 shows 800x600 at 60.327 Hz, not 800x600 at 60.317 Hz"},
    {"any size: one of its own, rate 0 asks none", 1280, 1024, 0, kShows, 0, "1280x1024@0", "", true},
    {"any size: the size in force at no rate is asked anew", 1024, 768, 1, kShows, 0, "1024x768@0", "", true},
    {"any size: its own rate shown to the whole Hz", 1280, 1024, 60, kRateOff, 0, "1280x1024@60", "", true},
    {"any size: none below 1 pixel", -5, 600, 60, kShows, kBad, "", "", true},
    {"any size: no rate beyond int32 mHz", 800, 600, 2200000, kShows, kBad, "", "", true},
};

TEST(DisplaySettingsTest, ChoosesTheModeSendsItAndBelievesItOnlyWhereTheServiceShowsIt) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    auto owned = std::make_unique<ScriptedService>(row.peer, row.takesAnySize);
    ScriptedService& service = *owned;
    UseDisplayService(std::move(owned));
    DEVMODEA record{};
    record.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
    record.dmBitsPerPel = row.bits;
    record.dmPelsWidth = row.width, record.dmPelsHeight = row.height, record.dmDisplayFrequency = row.hz;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ChangeDisplaySettingsA(&record, CDS_UPDATEREGISTRY), row.result);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), *row.line ? "vistrel: " + std::string(row.line) + "\n" : "");
    EXPECT_EQ(service.sent, row.sent);
    // The mode in force follows a change that is shown, and only such a one.
    EXPECT_EQ(Text(service.device.current), row.result == 0 && *row.sent ? row.sent : "1024x768@60");
  }
}

}  // namespace
}  // namespace platform
