#include "platform/shared_memory.h"

#include <windows.h>

#include "common/text.h"

namespace tarvex::platform {

std::string sharedMemoryName(const wchar_t* name) { return wideToUtf8(name); }

SharedSection createSharedSection(const wchar_t* name, std::size_t size) {
  SharedSection section;
  section.systemName = sharedMemoryName(name);
  section.size = size;
  const auto high = static_cast<DWORD>(static_cast<std::uint64_t>(size) >> 32);
  const auto low = static_cast<DWORD>(size & 0xFFFFFFFFu);
  HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, high, low, name);
  if (h == nullptr) return section;
  section.created = GetLastError() != ERROR_ALREADY_EXISTS;
  section.handle = reinterpret_cast<std::intptr_t>(h);
  return section;
}

SharedSection openSharedSection(const wchar_t* name, std::size_t size) {
  SharedSection section;
  section.systemName = sharedMemoryName(name);
  section.size = size;
  HANDLE h = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (h != nullptr) section.handle = reinterpret_cast<std::intptr_t>(h);
  return section;
}

void* mapSharedSection(const SharedSection& section) {
  if (!section.valid()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return MapViewOfFile(reinterpret_cast<HANDLE>(section.handle), FILE_MAP_ALL_ACCESS, 0, 0, section.size);
}

void unmapSharedSection(void* view, std::size_t) noexcept {
  if (view != nullptr) UnmapViewOfFile(view);
}

void closeSharedSection(SharedSection& section) noexcept {
  if (!section.valid()) return;
  CloseHandle(reinterpret_cast<HANDLE>(section.handle));
  section.handle = -1;
  section.created = false;
}

}  // namespace tarvex::platform
