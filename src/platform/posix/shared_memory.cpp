#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/text.h"

namespace tarvex::platform {

std::string sharedMemoryName(const wchar_t* name) {
  std::string out = "/tarvex.";
  for (char c : wideToUtf8(name)) out.push_back(c == '\\' || c == '/' ? '.' : c);
  return out;
}

namespace {

SharedSection openWith(const wchar_t* name, std::size_t size, int flags) {
  SharedSection section;
  section.systemName = sharedMemoryName(name);
  section.size = size;
  int fd = -1;
  if ((flags & O_CREAT) != 0) {
    fd = shm_open(section.systemName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    section.created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = shm_open(section.systemName.c_str(), O_RDWR | O_CLOEXEC, 0600);
  } else {
    fd = shm_open(section.systemName.c_str(), O_RDWR | O_CLOEXEC, 0600);
  }
  if (fd < 0) return section;
  struct stat st {};
  if (fstat(fd, &st) != 0 ||
      (static_cast<std::size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    const int error = errno;
    close(fd);
    if (section.created) shm_unlink(section.systemName.c_str());
    section.created = false;
    errno = error;
    return section;
  }
  section.handle = fd;
  return section;
}

}  // namespace

SharedSection createSharedSection(const wchar_t* name, std::size_t size) {
  return openWith(name, size, O_CREAT);
}

SharedSection openSharedSection(const wchar_t* name, std::size_t size) {
  return openWith(name, size, 0);
}

void* mapSharedSection(const SharedSection& section) {
  if (!section.valid()) {
    errno = EBADF;
    return nullptr;
  }
  void* view = mmap(nullptr, section.size, PROT_READ | PROT_WRITE, MAP_SHARED,
                    static_cast<int>(section.handle), 0);
  return view == MAP_FAILED ? nullptr : view;
}

void unmapSharedSection(void* view, std::size_t size) noexcept {
  if (view != nullptr) munmap(view, size);
}

void closeSharedSection(SharedSection& section) noexcept {
  if (!section.valid()) return;
  close(static_cast<int>(section.handle));
  if (section.created) shm_unlink(section.systemName.c_str());
  section.handle = -1;
  section.created = false;
}

}  // namespace tarvex::platform
