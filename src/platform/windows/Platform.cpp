// The platform layer on Windows: user32's display settings, the registry as
// the settings store, message boxes and the process's own services.

// Platform.h comes first: its constants carry names that <windows.h> defines
// as macros, and they must be declared before those macros exist.
#include "platform/Platform.h"

// <windows.h> declares a record of its own named DEVMODEA, in the same global
// scope as the program's 124-byte one; under this name the two can meet.
// Windows' record is WindowsDEVMODEA in this file.
#define DEVMODEA WindowsDEVMODEA
#include <windows.h>
#undef DEVMODEA

#include <share.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/SavedMode.h"
#include "runtime/RuntimeError.h"

namespace platform {
namespace {

// user32 writes a full record of its own whatever dmSize says, and after it the
// driver's private data, as long as dmDriverExtra announces (16 bits).
constexpr size_t kDriverExtraMax = 0xFFFF;
constexpr size_t kDevModeBufferSize = sizeof(::WindowsDEVMODEA) + kDriverExtraMax;

static_assert(sizeof(::WindowsDEVMODEA) >= sizeof(DEVMODEA), "the platform's record holds the program's 124 bytes");

/// A zeroed buffer that holds `record`'s image at its start and has room for
/// everything the platform may write. Exists so that no display-settings call
/// is handed memory of the caller's that is smaller than what it writes.
class DevModeBuffer {
 public:
  explicit DevModeBuffer(const DEVMODEA& record) : bytes_(kDevModeBufferSize, 0) {
    const DevModeImage image = ToImage(record);
    std::memcpy(bytes_.data(), image.data(), image.size());
  }

  ::WindowsDEVMODEA* get() { return reinterpret_cast<::WindowsDEVMODEA*>(bytes_.data()); }

  /// Takes the first 124 bytes back into `record` (bytes 106-107 dropped).
  void CopyTo(DEVMODEA& record) const { FromImage(bytes_.data(), record); }

 private:
  std::vector<unsigned char> bytes_;  // operator new's alignment suits ::WindowsDEVMODEA
};

/// An open registry key, closed when it goes out of scope.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  ::HKEY get() const { return key_; }
  ::HKEY* receive() { return &key_; }

 private:
  ::HKEY key_ = nullptr;
};

/// Windows' own text for the error `code`, without the line end it carries.
std::string ErrorText(::DWORD code) {
  char text[512] = {};
  const ::DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          /*lpSource=*/nullptr, code, /*dwLanguageId=*/0, text, sizeof text,
                                          /*Arguments=*/nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
    message.pop_back();
  if (message.empty()) message = "error " + std::to_string(code);
  return message;
}

/// The store's key for an application and a section, below HKEY_CURRENT_USER.
std::string SubKey(const std::string& appName, const std::string& section) {
  return "Software\\" + appName + "\\" + section;
}

/// Makes runs at the same time take turns with the store under `subKey`: the
/// run's first use of it (or its first read of the mode in force) waits for a mutex of that name and owns it to the end
/// of the process, from the read of the saved mode to its put-back. Windows
/// releases it when the process ends, killed or not; without the mutex the run
/// goes on alone, since a read of the store never fails.
void TakeTurn(const std::string& subKey) {
  static bool taken = false;
  if (taken) return;
  taken = true;
  std::string name = "Local\\Vistrel " + subKey;
  std::replace(name.begin() + 6, name.end(), '\\', '/');  // no backslash but the namespace's
  // The handle stays open on purpose: closing it would give up the turn.
  const ::HANDLE mutex = ::CreateMutexA(/*lpMutexAttributes=*/nullptr, /*bInitialOwner=*/FALSE, name.c_str());
  if (mutex) ::WaitForSingleObject(mutex, INFINITE);  // WAIT_ABANDONED too: its owner ended, the turn is ours
}

/// The error for a registry call `call` that failed with `code` on `key`
/// (below HKEY_CURRENT_USER) and its value `name`.
RuntimeError RegistryError(const char* call, const std::string& key, const std::string& name, ::LSTATUS code) {
  return RuntimeError(ErrorKind::PlatformCallFailed,
                      std::string(call) + " \"HKEY_CURRENT_USER\\" + key + "\" value \"" + name + "\": " +
                          ErrorText(static_cast<::DWORD>(code)));
}

}  // namespace

int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum, DEVMODEA* record) {
  // Reading the mode in force begins a change: runs at the same time take
  // turns from before that read, so that each saves the mode it replaces.
  if (static_cast<::DWORD>(modeNum) == ENUM_CURRENT_SETTINGS) TakeTurn(SubKey(SavedMode::kAppName, SavedMode::kSection));
  DevModeBuffer buffer(*record);
  const ::BOOL found = ::EnumDisplaySettingsA(deviceName, static_cast<::DWORD>(modeNum), buffer.get());
  if (found) buffer.CopyTo(*record);
  return found;
}

int32_t ChangeDisplaySettingsA(DEVMODEA* record, uint32_t flags) {
  DevModeBuffer buffer(*record);
  const ::LONG result = ::ChangeDisplaySettingsA(buffer.get(), flags);
  buffer.CopyTo(*record);
  return result;
}

std::optional<std::string> QuerySetting(const std::string& appName, const std::string& section,
                                        const std::string& key) {
  const std::string subKey = SubKey(appName, section);
  TakeTurn(subKey);
  // The value may change between the two calls; ask again while it grows.
  for (;;) {
    ::DWORD size = 0;
    ::LSTATUS status = ::RegGetValueA(HKEY_CURRENT_USER, subKey.c_str(), key.c_str(), RRF_RT_REG_SZ,
                                      /*pdwType=*/nullptr, /*pvData=*/nullptr, &size);
    // An absent key or value, or one that holds no text, is no saved text:
    // the program treats all of them alike.
    if (status != ERROR_SUCCESS) return std::nullopt;
    std::vector<char> data(size + 1, '\0');
    status = ::RegGetValueA(HKEY_CURRENT_USER, subKey.c_str(), key.c_str(), RRF_RT_REG_SZ,
                            /*pdwType=*/nullptr, data.data(), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return std::nullopt;
    return std::string(data.data());  // RegGetValueA ends REG_SZ data with a null
  }
}

void SaveSettings(const std::string& appName, const std::string& section, const std::vector<SettingEntry>& entries) {
  const std::string subKey = SubKey(appName, section);
  TakeTurn(subKey);
  ScopedKey handle;
  ::LSTATUS status = ::RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), /*Reserved=*/0, /*lpClass=*/nullptr,
                                       REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, /*lpSecurityAttributes=*/nullptr,
                                       handle.receive(), /*lpdwDisposition=*/nullptr);
  if (status != ERROR_SUCCESS) throw RegistryError("RegCreateKeyExA", subKey, entries.front().key, status);
  for (const SettingEntry& entry : entries) {
    if (!entry.value) {
      status = ::RegDeleteValueA(handle.get(), entry.key.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        throw RegistryError("RegDeleteValueA", subKey, entry.key, status);
      continue;
    }
    status = ::RegSetValueExA(handle.get(), entry.key.c_str(), /*Reserved=*/0, REG_SZ,
                              reinterpret_cast<const ::BYTE*>(entry.value->c_str()),
                              static_cast<::DWORD>(entry.value->size() + 1));  // with its terminating null
    if (status != ERROR_SUCCESS) throw RegistryError("RegSetValueExA", subKey, entry.key, status);
  }
}

void ShowMessageBox(const std::string& text, const std::string& title, uint32_t style) {
  ::MessageBoxA(/*hWnd=*/nullptr, text.c_str(), title.c_str(), style);
}

void ReportError(const std::string& message) {
  ::MessageBoxA(/*hWnd=*/nullptr, message.c_str(), "Vistrel", MB_OK | MB_ICONERROR);
}

std::string CommandText() {
  // The program's name ends as Windows' own start-up code reads it: a quoted
  // name at its closing quotation mark, any other at the first blank or tab.
  const char* text = ::GetCommandLineA();
  if (*text == '"') {
    ++text;
    while (*text != '\0' && *text != '"') ++text;
    if (*text == '"') ++text;
  } else {
    while (*text != '\0' && *text != ' ' && *text != '\t') ++text;
  }
  while (*text == ' ' || *text == '\t') ++text;
  return text;
}

// The list goes beside the program, wherever it runs from.
std::string ListDirectory() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const ::DWORD length = ::GetModuleFileNameA(/*hModule=*/nullptr, path.data(), static_cast<::DWORD>(path.size()));
    if (length == 0)
      throw RuntimeError(ErrorKind::PlatformCallFailed, "GetModuleFileNameA: " + ErrorText(::GetLastError()));
    if (length < path.size()) {
      const std::string file(path.data(), length);
      const size_t separator = file.find_last_of("\\/");
      return separator == std::string::npos ? "" : file.substr(0, separator);
    }
    path.resize(path.size() * 2);  // the path was cut short
  }
}

char PathSeparator() { return '\\'; }

std::FILE* OpenForAppending(const std::string& path) {
  // Binary: the mode list writes its CR LF itself.
  return ::_fsopen(path.c_str(), "ab", _SH_DENYNO);
}

void EndProgram(int exitStatus) {
  std::fflush(nullptr);
  std::exit(exitStatus);
}

}  // namespace platform
