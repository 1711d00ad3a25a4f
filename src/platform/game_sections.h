// Shared-memory sections that games publish their telemetry in, opened for
// reading only: the library never creates a game's section (a game or its
// plug-in may refuse to start when the name exists before it).
//
// Windows: OpenFileMappingW (read access) and MapViewOfFile of the whole
// section; the view's size is what VirtualQuery reports, so a section that a
// game made smaller than we would like is mapped as it is (a view larger
// than the section cannot be mapped at all).
//
// Linux: a Windows game under Proton is reached through the shared-memory
// bridges Linux sim racers use, which expose a section as a file in /dev/shm
// named like the section without its "Local\" prefix ("Local\acpmf_physics"
// -> /dev/shm/acpmf_physics, "$pcars2$" -> /dev/shm/$pcars2$). The file is
// opened read-only and mapped whole.
//
// The simulator publishes sections under the same names (publishGameSection),
// as the games do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvex::platform {

struct GameSection {
  std::intptr_t handle = -1;
  const std::uint8_t* view = nullptr;
  std::size_t size = 0;      // bytes of the view that may be read
  std::size_t mapped = 0;    // bytes mapped (to unmap them)
  bool valid() const noexcept { return view != nullptr; }
};

// The name under which the system knows a game's section (Linux: "/" and
// the name without "Local\").
std::string gameSectionName(const wchar_t* name);

// Opens and maps an existing section for reading, at most `maxBytes` of it.
// Invalid (nothing held) when there is no such section or it is empty.
GameSection openGameSection(const wchar_t* name, std::size_t maxBytes);
void closeGameSection(GameSection& section) noexcept;

// True when a section of that name exists now (opened and closed at once).
bool gameSectionExists(const wchar_t* name) noexcept;

// A named event a game signals (Windows: opened with synchronize access).
// Linux has no such events for a bridged game: there it is always "open".
std::intptr_t openGameEvent(const wchar_t* name) noexcept;
void closeGameEvent(std::intptr_t& event) noexcept;
inline constexpr std::intptr_t kNoGameEvent = -1;

// For the simulators: creates a game's section (or opens it when it exists),
// mapped for writing. The creator removes the Linux name when it closes it.
struct PublishedSection {
  std::intptr_t handle = -1;
  std::uint8_t* view = nullptr;
  std::size_t size = 0;
  bool created = false;
  std::string systemName;
  std::intptr_t event = -1;
};
PublishedSection publishGameSection(const wchar_t* name, std::size_t size);
// Creates the named event beside it (Windows; nothing on Linux).
void publishGameEvent(PublishedSection& section, const wchar_t* eventName);
void withdrawGameSection(PublishedSection& section) noexcept;

}  // namespace tarvex::platform
