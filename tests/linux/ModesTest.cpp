// The rate of modes that the test display cannot have (its dummy driver
// rejects doublescan and interlaced modes); the rest of mode choice is
// checked end to end.

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
}

}  // namespace
}  // namespace platform
