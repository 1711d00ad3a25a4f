// Named shared memory: sections other processes can open by name.
//
// Windows: CreateFileMappingW on the paging file, OpenFileMappingW,
// MapViewOfFile (all access), UnmapViewOfFile, CloseHandle. A section lives
// while any process holds it.
//
// Linux: POSIX shared memory (shm_open, ftruncate, mmap). Names map to
// "/tarvex." followed by the name with '\' and '/' replaced by '.':
//   "Local\motionRigPose" -> "/tarvex.Local.motionRigPose"
//   "Kinetra_tx"          -> "/tarvex.Kinetra_tx"
// (visible as /dev/shm/tarvex.*). POSIX names outlive their users, so the
// process that created a section removes the name when it closes it;
// processes that still have it mapped keep their view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvex::platform {

struct SharedSection {
  std::intptr_t handle = -1;
  std::size_t size = 0;
  bool created = false;  // this process made it (Linux removes the name at close)
  std::string systemName;
  bool valid() const noexcept { return handle != -1; }
};

// The system's name of a section (Linux: the mapping above; Windows: the name).
std::string sharedMemoryName(const wchar_t* name);

// Creates the section of `size` bytes, or opens it when it exists already.
// Invalid on failure, with the reason in lastSystemError().
SharedSection createSharedSection(const wchar_t* name, std::size_t size);
// Opens an existing section for reading and writing.
SharedSection openSharedSection(const wchar_t* name, std::size_t size);
// Maps the whole section for reading and writing; null on failure.
void* mapSharedSection(const SharedSection& section);
void unmapSharedSection(void* view, std::size_t size) noexcept;
void closeSharedSection(SharedSection& section) noexcept;

}  // namespace tarvex::platform
