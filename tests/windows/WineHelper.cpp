// The Wine driver's view of Windows, written without the program's code:
//
//   wine_helper modes         prints every mode EnumDisplaySettingsA reports,
//                             one "WIDTH HEIGHT BPP HZ" line each, in order
//   wine_helper current       prints the mode in force the same way
//   wine_helper volatile KEY  makes KEY below HKEY_CURRENT_USER volatile:
//                             no lasting key can then be made below it
//   wine_helper box SECONDS   waits for the program's message box, prints its
//                             title and text on two lines and answers it
//
// Exit status 0 on success, 1 otherwise.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool PrintMode(DWORD index) {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  if (!EnumDisplaySettingsA(/*lpszDeviceName=*/nullptr, index, &mode)) return false;
  std::printf("%lu %lu %lu %lu\n", mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel, mode.dmDisplayFrequency);
  return true;
}

int Box(int seconds) {
  for (int tenth = 0; tenth < seconds * 10; ++tenth, Sleep(100)) {
    for (const char* title : {"ERROR: Vistrel ", "Vistrel"}) {
      HWND box = FindWindowA(/*lpClassName=*/nullptr, title);
      if (box == nullptr) continue;
      char text[4096] = {};
      // The box may exist before its text is set.
      for (int i = 0; i < 50 && !GetDlgItemTextA(box, /*nIDDlgItem=*/0xFFFF, text, sizeof text); ++i) Sleep(100);
      std::printf("%s\n%s", title, text);
      PostMessageA(box, WM_COMMAND, IDOK, /*lParam=*/0);
      return 0;
    }
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  _setmode(_fileno(stdout), _O_BINARY);  // the box's CR LF as they are
  if (command == "modes") {
    for (DWORD index = 0; PrintMode(index); ++index) {
    }
    return 0;
  }
  if (command == "current") return PrintMode(ENUM_CURRENT_SETTINGS) ? 0 : 1;
  if (command == "box" && argc == 3) return Box(std::atoi(argv[2]));
  HKEY key = nullptr;
  if (command == "volatile" && argc == 3)
    return RegCreateKeyExA(HKEY_CURRENT_USER, argv[2], /*Reserved=*/0, /*lpClass=*/nullptr, REG_OPTION_VOLATILE,
                           KEY_ALL_ACCESS, /*lpSecurityAttributes=*/nullptr, &key,
                           /*lpdwDisposition=*/nullptr) == ERROR_SUCCESS ? 0 : 1;
  std::fprintf(stderr, "usage: wine_helper modes | current | volatile KEY | box SECONDS\n");
  return 1;
}
