#include "platform/local_pipe.h"

#include <windows.h>

#include <string>

namespace tarvex::platform {

namespace {

HANDLE handle(PipeHandle pipe) noexcept { return reinterpret_cast<HANDLE>(pipe); }

std::wstring toWide(std::string_view text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace

PipeHandle openPipe(std::string_view name, std::chrono::milliseconds busyWait) noexcept {
  try {
    const std::wstring wide = toWide(name);
    if (wide.empty()) return kInvalidPipe;
    for (int attempt = 0; attempt < 2; ++attempt) {
      HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        // A message-mode pipe read in byte mode: a packet may come in pieces.
        DWORD mode = PIPE_READMODE_BYTE;
        SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
        return reinterpret_cast<PipeHandle>(h);
      }
      // No such pipe fails at once; only busy instances are worth a wait.
      if (GetLastError() != ERROR_PIPE_BUSY || attempt == 1) return kInvalidPipe;
      if (!WaitNamedPipeW(wide.c_str(), static_cast<DWORD>(busyWait.count()))) return kInvalidPipe;
    }
  } catch (...) {
  }
  return kInvalidPipe;
}

bool writePipe(PipeHandle pipe, const void* data, int size) noexcept {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(handle(pipe), p, static_cast<DWORD>(size), &written, nullptr) || written == 0) return false;
    p += written;
    size -= static_cast<int>(written);
  }
  return true;
}

int readPipe(PipeHandle pipe, void* buffer, int size, std::chrono::milliseconds wait) noexcept {
  // Polled: a synchronous ReadFile would block past the wait.
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait.count() > 0 ? wait.count() : 0);
  DWORD available = 0;
  for (;;) {
    if (!PeekNamedPipe(handle(pipe), nullptr, 0, nullptr, &available, nullptr)) return -1;
    if (available > 0) break;
    if (GetTickCount64() >= deadline) return 0;
    Sleep(1);
  }
  // No more than is there, so that the read cannot block.
  const DWORD wanted = available < static_cast<DWORD>(size) ? available : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(handle(pipe), buffer, wanted, &got, nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    return -1;
  }
  return static_cast<int>(got);
}

void closePipe(PipeHandle pipe) noexcept {
  if (pipe != kInvalidPipe) CloseHandle(handle(pipe));
}

}  // namespace tarvex::platform
