// What the diagnostic log needs from the system besides its folder: a text
// file opened for appending that other writers (other instances, other
// processes) may hold open at the same time, and the local time.
//
// Windows opens in text mode, so every "\n" written reaches the file as
// CR LF; Linux writes "\n" as it is. Each fflush of one whole line is one
// append (O_APPEND on Linux), so lines of different writers interleave whole.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace tarvex::platform {

// Null when the file cannot be opened; close it with std::fclose.
std::FILE* openSharedAppend(const std::filesystem::path& file) noexcept;

// The calendar time `t` as local time; false when the system cannot say.
bool localTime(std::time_t t, std::tm& out) noexcept;

}  // namespace tarvex::platform
