#include "platform/log_file.h"

#include <share.h>
#include <windows.h>

namespace tarvex::platform {

std::FILE* openSharedAppend(const std::filesystem::path& file) noexcept {
  // Text mode ("t") writes each "\n" as CR LF; _SH_DENYNO lets other
  // instances and processes open the file for reading and writing too.
  return _wfsopen(file.c_str(), L"at", _SH_DENYNO);
}

bool localTime(std::time_t t, std::tm& out) noexcept { return localtime_s(&out, &t) == 0; }

}  // namespace tarvex::platform
