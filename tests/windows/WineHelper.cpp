// The Wine driver's view of Windows, written without the program's code:
//
//   wine_helper modes         prints every mode EnumDisplaySettingsA reports,
//                             one "WIDTH HEIGHT BPP HZ" line each, in order
//   wine_helper volatile KEY  makes KEY below HKEY_CURRENT_USER volatile:
//                             no lasting key can then be made below it
//
// Exit status 0 on success, 1 otherwise.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool PrintMode(DWORD index) {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  if (!EnumDisplaySettingsA(nullptr, index, &mode)) return false;
  std::printf("%lu %lu %lu %lu\n", mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel, mode.dmDisplayFrequency);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "modes") {
    for (DWORD index = 0; PrintMode(index);) ++index;
    return 0;
  }
  HKEY key = nullptr;
  if (command == "volatile" && argc == 3)
    return RegCreateKeyExA(HKEY_CURRENT_USER, argv[2], 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                           nullptr) == ERROR_SUCCESS ? 0 : 1;
  std::fprintf(stderr, "usage: wine_helper modes | volatile KEY\n");
  return 1;
}
