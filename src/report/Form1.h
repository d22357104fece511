#pragma once

// The mode list: every mode that the display reports, one line each, in
// "output.txt" in the folder that the platform names for it.

#include <cstdint>
#include <string>
#include <vector>

#include "display/DEVMODEA.h"

namespace Form1 {

/// Every record enumerated so far; grows by 8 zeroed records at a time, so
/// each enumeration call gets a fresh, all-zero record.
extern std::vector<DEVMODEA> ModeTable;

/// The index of the mode being asked for.
extern int32_t ModeIndex;

/// Returns the list file's line for `mode`, without its line end
/// ("1024x768x32 Bits @ 60 Hz").
std::string ModeLine(const DEVMODEA& mode);

/// Shows the window, which loads it: the load event writes the list and ends
/// the program, so Show never returns.
[[noreturn]] void Show();

/// The load event: rebuilds "output.txt" from the display's modes and ends
/// the program with 0, or 3 when the display reported no mode.
[[noreturn]] void Form_Load();

}  // namespace Form1
