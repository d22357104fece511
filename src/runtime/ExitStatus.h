#pragma once

/// The program's exit statuses.
enum ExitStatus : int {
  kExitDone = 0,        ///< the command did its work
  kExitError = 1,       ///< a runtime error was reported
  kExitUsage = 2,       ///< usage warning shown, or the first argument names no command
  kExitNotChanged = 3,  ///< the mode change was abandoned or refused, or there was no mode to list
};
