#include "platform/log_file.h"

#include <time.h>

namespace tarvex::platform {

std::FILE* openSharedAppend(const std::filesystem::path& file) noexcept {
  // "a" opens with O_APPEND: every write lands at the end of the file as it
  // is then, whoever else appends.
  return std::fopen(file.c_str(), "ae");
}

bool localTime(std::time_t t, std::tm& out) noexcept { return localtime_r(&t, &out) != nullptr; }

}  // namespace tarvex::platform
