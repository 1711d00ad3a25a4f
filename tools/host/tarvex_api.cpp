#include "tarvex_api.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

#include <vector>

namespace {

std::string directoryOfProgram() {
#ifdef _WIN32
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::wstring wide(path.data(), n);
  const auto slash = wide.find_last_of(L"\\/");
  wide = slash == std::wstring::npos ? L"." : wide.substr(0, slash);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? bytes - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, out.data(), bytes, nullptr, nullptr);
  return out;
#else
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string s(path, static_cast<std::size_t>(n));
  const auto slash = s.find_last_of('/');
  return slash == std::string::npos ? "." : s.substr(0, slash);
#endif
}

}  // namespace

std::string defaultLibraryPath() {
#ifdef _WIN32
  return directoryOfProgram() + "\\" + TARVEX_LIBRARY_FILE;
#else
  return directoryOfProgram() + "/" + TARVEX_LIBRARY_FILE;
#endif
}

void* findExport(void* module, const char* name) {
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
  return dlsym(module, name);
#endif
}

void unloadTarvex(TarvexApi& api) {
  if (api.module == nullptr) return;
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(api.module));
#else
  dlclose(api.module);
#endif
  api = TarvexApi{};
}

bool loadTarvex(const std::string& file, TarvexApi& api, std::string& error) {
#ifdef _WIN32
  const int chars = MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, nullptr, 0);
  std::wstring wide(chars > 0 ? chars - 1 : 0, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, wide.data(), chars);
  HMODULE module = LoadLibraryW(wide.c_str());
  if (module == nullptr) {
    error = "cannot load " + file + " (Windows error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  api.module = module;
#else
  api.module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (api.module == nullptr) {
    const char* reason = dlerror();
    error = "cannot load " + file + ": " + (reason ? reason : "unknown reason");
    return false;
  }
#endif
#define TARVEX_API_RESOLVE(name)                                                 \
  api.name = reinterpret_cast<decltype(api.name)>(findExport(api.module, #name)); \
  if (api.name == nullptr) {                                                     \
    error = file + " has no export named " #name;                                \
    return false;                                                                \
  }
  TARVEX_EXPORTS(TARVEX_API_RESOLVE)
#undef TARVEX_API_RESOLVE
  return true;
}
