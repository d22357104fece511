// A small Windows program for the tests, built with the same toolchain as
// the program under test but written without its code, so that it can serve
// as the tests' independent view of what Windows reports.
//
//   mode_helper list FILE       writes every mode that EnumDisplaySettingsA
//                               reports, in the mode list's line format, to FILE
//   mode_helper current         prints the mode in force as WxHxBPP@Hz
//   mode_helper volatile KEY    creates KEY below HKEY_CURRENT_USER as a
//                               volatile key: no lasting key can be made below it
//
// Exit status 0 on success, 1 on failure (with a message on standard error).

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Line(const DEVMODEA& mode) {
  return std::to_string(mode.dmPelsWidth) + "x" + std::to_string(mode.dmPelsHeight) + "x" +
         std::to_string(static_cast<short>(mode.dmBitsPerPel)) + " Bits @ " +
         std::to_string(mode.dmDisplayFrequency) + " Hz\r\n";
}

int List(const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "mode_helper: cannot open %s\n", path);
    return 1;
  }
  for (DWORD index = 0;; ++index) {
    DEVMODEA mode;
    std::memset(&mode, 0, sizeof mode);
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsA(/*lpszDeviceName=*/nullptr, index, &mode)) break;
    const std::string line = Line(mode);
    std::fwrite(line.data(), 1, line.size(), file);
  }
  return std::fclose(file) == 0 ? 0 : 1;
}

int Current() {
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof mode;
  if (!EnumDisplaySettingsA(/*lpszDeviceName=*/nullptr, ENUM_CURRENT_SETTINGS, &mode)) {
    std::fprintf(stderr, "mode_helper: EnumDisplaySettingsA(ENUM_CURRENT_SETTINGS) failed\n");
    return 1;
  }
  std::printf("%lux%lux%lu@%lu\n", mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel, mode.dmDisplayFrequency);
  return 0;
}

int Volatile(const char* key) {
  HKEY handle = nullptr;
  const LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, key, /*Reserved=*/0, /*lpClass=*/nullptr,
                                         REG_OPTION_VOLATILE, KEY_ALL_ACCESS, /*lpSecurityAttributes=*/nullptr,
                                         &handle, /*lpdwDisposition=*/nullptr);
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "mode_helper: RegCreateKeyExA %s: error %ld\n", key, static_cast<long>(status));
    return 1;
  }
  RegCloseKey(handle);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "list" && argc == 3) return List(argv[2]);
  if (command == "current" && argc == 2) return Current();
  if (command == "volatile" && argc == 3) return Volatile(argv[2]);
  std::fprintf(stderr, "usage: mode_helper list FILE | current | volatile KEY\n");
  return 1;
}
