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

std::string Text(const ModeEntry& mode) {
  char rate[16];
  std::snprintf(rate, sizeof rate, "@%g", mode.refresh);
  return SizeText(mode.width, mode.height) + rate;
}

// Holds V-1 at 1024x768@60, records what it is sent, and reads back as `peer` says.
class ScriptedService : public DisplayService {
 public:
  ScriptedService(Peer peer, bool takesAnySize) : peer_(peer) {
    const auto mode = [](unsigned long id, int32_t w, int32_t h, double hz) { return ModeEntry{id, w, h, hz, 0, 0}; };
    device.name = "V-1";
    device.modes = {mode(0, 1024, 768, 60),    mode(1, 1024, 768, 75), mode(2, 800, 600, 60.317),
                    mode(3, 800, 600, 56.25),  mode(4, 640, 480, 59.94), mode(5, 640, 480, 60)};
    device.modes[5].preferred = true;
    device.current = device.modes[0], device.hasCurrent = true, device.bitsPerPel = 32;
    device.takesAnySize = takesAnySize;
  }
  std::string Apply(const ModeEntry& mode, int32_t) override {
    sent = Text(mode), asked_ = mode;
    if (peer_ == Peer::kRefuses) throw ServiceError("the service refused it");
    return "the service answered";
  }
  std::vector<Shown> ReadBack() override {
    ModeEntry now = peer_ == Peer::kLies ? device.current : asked_;
    now.refresh += peer_ == Peer::kRateOff ? 0.01 : 0;
    if (peer_ == Peer::kVanishes) throw ServiceError("the service went away");
    if (peer_ == Peer::kMirrorLags) return {{"V-1", asked_, now}, {"V-2", asked_, std::nullopt}};
    if (peer_ == Peer::kForgets) return {};
    if (peer_ == Peer::kMoves) notices = {"V-2 put elsewhere"};
    return {{"V-1", asked_, now}};
  }
  std::string sent;

 private:
  Peer peer_;
  ModeEntry asked_{};
};

struct Row {
  const char* name;
  int32_t width, height, bits, hz;
  bool takesAnySize;
  Peer peer;
  int32_t result;
  const char* sent;  // "": nothing
  const char* line;  // what the user is told; "": nothing
};

const Row kRows[] = {
    {"a listed mode, shown", 800, 600, 32, 60, false, Peer::kShows, 0, "800x600@60.317", ""},
    {"the mode in force: nothing sent", 1024, 768, 32, 60, false, Peer::kShows, 0, "", ""},
    {"a size it lacks", 1280, 1024, 32, 60, false, Peer::kShows, DISP_CHANGE_BADMODE, "", ""},
    {"a rate the size lacks", 800, 600, 32, 85, false, Peer::kShows, DISP_CHANGE_BADMODE, "", ""},
    {"another depth", 800, 600, 16, 60, false, Peer::kShows, DISP_CHANGE_BADMODE, "", ""},
    {"a rate as it rounds: 56 is 56.25", 800, 600, 32, 56, false, Peer::kShows, 0, "800x600@56.25", ""},
    {"the nearest of two that round alike", 640, 480, 32, 60, false, Peer::kShows, 0, "640x480@60", ""},
    {"rate 0: the size's preferred, listed second", 640, 480, 32, 0, false, Peer::kShows, 0, "640x480@60", ""},
    {"refused: the service's line", 800, 600, 32, 60, false, Peer::kRefuses, DISP_CHANGE_FAILED, "800x600@60.317",
     "vistrel: the service refused it\n"},
    {"success, but another mode shown", 800, 600, 32, 60, false, Peer::kLies, DISP_CHANGE_FAILED, "800x600@60.317",
     "vistrel: the service answered, but V-1 shows 1024x768 at 60.000 Hz, not 800x600 at 60.317 Hz\n"},
    {"gone before the read back", 800, 600, 32, 60, false, Peer::kVanishes, DISP_CHANGE_FAILED, "800x600@60.317",
     "vistrel: the service went away\n"},
    {"a mirror left without the mode", 800, 600, 32, 60, false, Peer::kMirrorLags, DISP_CHANGE_FAILED,
     "800x600@60.317", "vistrel: the service answered, but V-2 shows no mode, not 800x600 at 60.317 Hz\n"},
    {"a neighbour put elsewhere: told, the change stands", 800, 600, 32, 60, false, Peer::kMoves, 0, "800x600@60.317",
     "vistrel: V-2 put elsewhere\n"},
    {"a read back without the device", 800, 600, 32, 60, false, Peer::kForgets, DISP_CHANGE_FAILED, "800x600@60.317",
     "vistrel: the service answered, but V-1 could not be read back\n"},
    {"a listed mode shown 10 mHz off", 800, 600, 32, 60, false, Peer::kRateOff, DISP_CHANGE_FAILED, "800x600@60.317",
     "vistrel: the service answered, but V-1 shows 800x600 at 60.327 Hz, not 800x600 at 60.317 Hz\n"},
    {"any size: one of its own, rate 0 asks none", 1280, 1024, 32, 0, true, Peer::kShows, 0, "1280x1024@0", ""},
    {"any size: the size in force at no rate is asked anew", 1024, 768, 32, 1, true, Peer::kShows, 0, "1024x768@0",
     ""},
    {"any size: its own rate shown to the whole Hz", 1280, 1024, 32, 60, true, Peer::kRateOff, 0, "1280x1024@60", ""},
    {"any size: none below 1 pixel", -5, 600, 32, 60, true, Peer::kShows, DISP_CHANGE_BADMODE, "", ""},
    {"any size: no rate beyond int32 mHz", 800, 600, 32, 2200000, true, Peer::kShows, DISP_CHANGE_BADMODE, "", ""},
};

TEST(DisplaySettingsTest, ChoosesTheModeSendsItAndBelievesItOnlyWhereTheServiceShowsIt) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    auto owned = std::make_unique<ScriptedService>(row.peer, row.takesAnySize);
    ScriptedService& service = *owned;
    UseDisplayService(std::move(owned));
    DEVMODEA record{};
    record.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
    record.dmBitsPerPel = static_cast<int16_t>(row.bits);
    record.dmPelsWidth = row.width, record.dmPelsHeight = row.height, record.dmDisplayFrequency = row.hz;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ChangeDisplaySettingsA(&record, CDS_UPDATEREGISTRY), row.result);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.line);
    EXPECT_EQ(service.sent, row.sent);
    // The mode in force follows a change that is shown, and only such a one.
    EXPECT_EQ(Text(service.device.current), row.result == 0 && *row.sent ? row.sent : "1024x768@60");
  }
}

}  // namespace
}  // namespace platform
