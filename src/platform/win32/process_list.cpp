#include "platform/process_list.h"

#include <windows.h>
#include <tlhelp32.h>

#include <string>

namespace tarvex::platform {

namespace {

std::wstring toWide(std::string_view text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  }
  return wide;
}

}  // namespace

bool processRunning(std::string_view name) noexcept {
  try {
    const std::wstring wanted = toWide(name);
    if (wanted.empty()) return false;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
      found = wanted == entry.szExeFile;
    }
    CloseHandle(snapshot);
    return found;
  } catch (...) {
    return false;
  }
}

}  // namespace tarvex::platform
