#include "platform/game_sections.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "common/text.h"

namespace tarvex::platform {

std::string gameSectionName(const wchar_t* name) {
  std::string text = wideToUtf8(name);
  constexpr std::string_view kLocal = "Local\\";
  if (text.compare(0, kLocal.size(), kLocal) == 0) text.erase(0, kLocal.size());
  // A name is one file in /dev/shm; a separator would leave it.
  std::replace(text.begin(), text.end(), '/', '_');
  std::replace(text.begin(), text.end(), '\\', '_');
  return "/" + text;
}

GameSection openGameSection(const wchar_t* name, std::size_t maxBytes) {
  GameSection section;
  int fd = -1;
  try {
    fd = shm_open(gameSectionName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
  } catch (...) {
    return section;
  }
  if (fd < 0) return section;
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size <= 0 || maxBytes == 0) {
    close(fd);
    return section;
  }
  const std::size_t size = std::min(static_cast<std::size_t>(st.st_size), maxBytes);
  void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    const int error = errno;
    close(fd);
    errno = error;
    return section;
  }
  section.handle = fd;
  section.view = static_cast<const std::uint8_t*>(view);
  section.size = size;
  section.mapped = size;
  return section;
}

void closeGameSection(GameSection& section) noexcept {
  if (section.view != nullptr) munmap(const_cast<std::uint8_t*>(section.view), section.mapped);
  if (section.handle >= 0) close(static_cast<int>(section.handle));
  section = GameSection{};
}

bool gameSectionExists(const wchar_t* name) noexcept {
  try {
    const int fd = shm_open(gameSectionName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
  } catch (...) {
    return false;
  }
}

std::intptr_t openGameEvent(const wchar_t*) noexcept { return 0; }
void closeGameEvent(std::intptr_t& event) noexcept { event = kNoGameEvent; }

PublishedSection publishGameSection(const wchar_t* name, std::size_t size) {
  PublishedSection section;
  section.systemName = gameSectionName(name);
  int fd = shm_open(section.systemName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0644);
  section.created = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = shm_open(section.systemName.c_str(), O_RDWR | O_CLOEXEC, 0644);
  if (fd < 0) return section;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    if (section.created) shm_unlink(section.systemName.c_str());
    section.created = false;
    return section;
  }
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    close(fd);
    if (section.created) shm_unlink(section.systemName.c_str());
    section.created = false;
    return section;
  }
  section.handle = fd;
  section.view = static_cast<std::uint8_t*>(view);
  section.size = size;
  return section;
}

void publishGameEvent(PublishedSection&, const wchar_t*) {}

void withdrawGameSection(PublishedSection& section) noexcept {
  if (section.view != nullptr) munmap(section.view, section.size);
  if (section.handle >= 0) close(static_cast<int>(section.handle));
  if (section.created) shm_unlink(section.systemName.c_str());
  section.view = nullptr;
  section.handle = -1;
  section.created = false;
}

}  // namespace tarvex::platform
