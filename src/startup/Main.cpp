#include <string>

#include "display/ApplyDisplayMode.h"
#include "display/SavedMode.h"
#include "platform/Platform.h"
#include "report/Form1.h"
#include "runtime/ExitStatus.h"
#include "runtime/Numbers.h"
#include "runtime/RuntimeError.h"
#include "runtime/Settings.h"
#include "startup/CommandLineParse.h"

namespace CommandLineParse {

ModeRequest RequestedMode{};

namespace {

constexpr uint32_t kWarningStyle = 48;  // exclamation icon, one OK button
constexpr const char* kUsageTitle = "ERROR: Vistrel ";
constexpr const char* kUsageText =
    "Invalid commandline Usage.\r\n"
    "\r\n"
    "USAGE  : -height -width -depth -refreshrate -monitor \r\n"
    "\r\n"
    "-height : Set Height of Resolution\r\n"
    "-width : Set Width of Resolution\r\n"
    "-depth : Set Depth of Resolution\r\n"
    "-refreshrate : Set Refresh Rate of Resolution\r\n"
    "-monitor : '1' = Primary Monitor  and '2' = Secondary Monitor\r\n"
    "-restore : Restore Previous Resolution\r\n"
    "-output : Make a list of All Available Resolution";

/// Height, width, depth, refresh rate and monitor, in command-line order.
constexpr int kNumericValues = 5;

/// The number at the start of the argument `text`, which gives `what`.
float LeadingSingle(const std::string& text, const char* what) {
  try {
    return runtime::DoubleToSingle(runtime::LeadingNumber(text));
  } catch (const RuntimeError& error) {
    throw RuntimeError(error.kind, std::string("the ") + what + " -" + text + ": " + error.what());
  }
}

int ApplyRequestedMode() {
  const bool changed = ApplyDisplayMode(RequestedMode.Width, RequestedMode.Height, RequestedMode.Depth,
                                        RequestedMode.RefreshRate);
  return changed ? kExitDone : kExitNotChanged;
}

/// -height -width -depth -refreshrate -monitor: the monitor must be there but
/// is not used.
int NumericCommand() {
  const int given = static_cast<int>(CommandArgs.size()) - 1;
  if (given < kNumericValues)
    throw RuntimeError(ErrorKind::IndexOutOfRange,
                       "the numeric command needs " + std::to_string(kNumericValues) +
                           " values (-height -width -depth -refreshrate -monitor), got " + std::to_string(given));
  RequestedMode.Height = LeadingSingle(CommandArgs[1], "height");
  RequestedMode.Width = LeadingSingle(CommandArgs[2], "width");
  RequestedMode.Depth = LeadingSingle(CommandArgs[3], "depth");
  RequestedMode.RefreshRate = LeadingSingle(CommandArgs[4], "refresh rate");
  LeadingSingle(CommandArgs[5], "monitor");  // read like the others, then unused
  return ApplyRequestedMode();
}

float SavedValue(const char* key) {
  const std::string text = runtime::GetSetting(SavedMode::kAppName, SavedMode::kSection, key);
  if (text.empty())
    throw RuntimeError(ErrorKind::ConversionFailed,
                       std::string("there is no saved display mode to restore yet (") + key + " is empty)");
  try {
    return runtime::TextToSingle(text);
  } catch (const RuntimeError& error) {
    throw RuntimeError(error.kind, std::string("the saved ") + key + " cannot be restored: " + error.what());
  }
}

int RestoreCommand() {
  RequestedMode.Width = SavedValue(SavedMode::kOldWidth);
  RequestedMode.Height = SavedValue(SavedMode::kOldHeight);
  RequestedMode.Depth = SavedValue(SavedMode::kOldBPP);
  RequestedMode.RefreshRate = SavedValue(SavedMode::kOldRefresh);
  return ApplyRequestedMode();
}

}  // namespace

int Main() {
  if (!ParseCommandLine(platform::CommandText())) {
    platform::ShowMessageBox(kUsageText, kUsageTitle, kWarningStyle);
    return kExitUsage;
  }
  const std::string& command = CommandArgs[1];
  if (runtime::IsNumeric(command)) return NumericCommand();
  const std::string lowered = runtime::LowerCase(command);
  if (lowered == "restore") return RestoreCommand();
  if (lowered == "output") Form1::Show();
  return kExitUsage;  // names no command: nothing to say, nothing touched
}

int Start() {
  try {
    return Main();
  } catch (const RuntimeError& error) {
    platform::ReportError(error.what());
    return kExitError;
  }
}

}  // namespace CommandLineParse
