#include "platform/game_sections.h"

#include <windows.h>

#include <algorithm>

#include "common/text.h"

namespace tarvex::platform {

std::string gameSectionName(const wchar_t* name) { return wideToUtf8(name); }

GameSection openGameSection(const wchar_t* name, std::size_t maxBytes) {
  GameSection section;
  HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
  if (h == nullptr) return section;
  // The whole section: asking for more than it holds would fail.
  void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0);
  MEMORY_BASIC_INFORMATION info{};
  if (view == nullptr || VirtualQuery(view, &info, sizeof info) == 0 || info.RegionSize == 0 || maxBytes == 0) {
    const DWORD error = GetLastError();
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(h);
    SetLastError(error);
    return section;
  }
  section.handle = reinterpret_cast<std::intptr_t>(h);
  section.view = static_cast<const std::uint8_t*>(view);
  section.mapped = info.RegionSize;
  section.size = std::min<std::size_t>(info.RegionSize, maxBytes);
  return section;
}

void closeGameSection(GameSection& section) noexcept {
  if (section.view != nullptr) UnmapViewOfFile(section.view);
  if (section.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(section.handle));
  section = GameSection{};
}

bool gameSectionExists(const wchar_t* name) noexcept {
  HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
  if (h == nullptr) return false;
  CloseHandle(h);
  return true;
}

std::intptr_t openGameEvent(const wchar_t* name) noexcept {
  HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, name);
  return h == nullptr ? kNoGameEvent : reinterpret_cast<std::intptr_t>(h);
}

void closeGameEvent(std::intptr_t& event) noexcept {
  if (event != kNoGameEvent && event != 0) CloseHandle(reinterpret_cast<HANDLE>(event));
  event = kNoGameEvent;
}

PublishedSection publishGameSection(const wchar_t* name, std::size_t size) {
  PublishedSection section;
  section.systemName = gameSectionName(name);
  const auto high = static_cast<DWORD>(static_cast<std::uint64_t>(size) >> 32);
  const auto low = static_cast<DWORD>(size & 0xFFFFFFFFu);
  HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, high, low, name);
  if (h == nullptr) return section;
  section.created = GetLastError() != ERROR_ALREADY_EXISTS;
  void* view = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    CloseHandle(h);
    section.created = false;
    return section;
  }
  section.handle = reinterpret_cast<std::intptr_t>(h);
  section.view = static_cast<std::uint8_t*>(view);
  section.size = size;
  return section;
}

void publishGameEvent(PublishedSection& section, const wchar_t* eventName) {
  HANDLE h = CreateEventW(nullptr, FALSE, FALSE, eventName);
  if (h != nullptr) section.event = reinterpret_cast<std::intptr_t>(h);
}

void withdrawGameSection(PublishedSection& section) noexcept {
  if (section.view != nullptr) UnmapViewOfFile(section.view);
  if (section.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(section.handle));
  if (section.event != -1) CloseHandle(reinterpret_cast<HANDLE>(section.event));
  section.view = nullptr;
  section.handle = -1;
  section.event = -1;
  section.created = false;
}

}  // namespace tarvex::platform
