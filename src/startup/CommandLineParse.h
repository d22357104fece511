#pragma once

// The program's start: splitting the command text into dash-arguments and
// choosing the one command to run.

#include <string>
#include <vector>

namespace CommandLineParse {

/// The dash-arguments of the command line without their dash, from element
/// 1 on; element 0 is always empty text. Rebuilt by every ParseCommandLine.
extern std::vector<std::string> CommandArgs;

/// The mode that the numeric or the restore command asks for.
struct ModeRequest {
  float Height;       // pixels
  float Width;        // pixels
  float Depth;        // bits per pixel
  float RefreshRate;  // Hz
};
extern ModeRequest RequestedMode;

/// Splits `text` at blanks and tabs into CommandArgs, keeping each word that
/// starts with "-" without that dash. Returns true when at least one word was
/// kept and no lone "-" was met (reading stops at a lone "-").
bool ParseCommandLine(const std::string& text);

/// Runs the command that the command text names; returns the exit status.
/// The output command does not return: it ends the program itself.
int Main();

/// The program's start-up routine: runs Main and reports a runtime error that
/// reaches it. Returns the exit status.
int Start();

}  // namespace CommandLineParse
