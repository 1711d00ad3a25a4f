#include "games/simconnect/simconnect_config.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>

#include "platform/program_folder.h"

namespace tarvex::simconnect {

namespace {

constexpr const char* kFileName = "SimConnect.cfg";
constexpr const char* kFileVariable = "TARVEX_SIMCONNECT_CFG";

std::string_view trim(std::string_view s) noexcept {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool sameText(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The configuration index a section header serves, or -1 for other sections.
long long sectionIndex(std::string_view name) noexcept {
  if (sameText(name, "SimConnect")) return 0;
  constexpr std::string_view prefix = "SimConnect.";
  if (name.size() <= prefix.size() || !sameText(name.substr(0, prefix.size()), prefix)) return -1;
  const std::string_view digits = name.substr(prefix.size());
  std::uint32_t index = 0;
  const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return -1;
  return index;
}

template <class Number>
bool parseNumber(std::string_view text, Number& value) noexcept {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

void applyEntry(ClientConfig& config, std::string_view key, std::string_view value, int line,
                std::vector<std::string>& problems) {
  const std::string where = "SimConnect.cfg line " + std::to_string(line) + ": ";
  if (value.empty()) return;  // the default stays
  if (sameText(key, "Protocol")) {
    if (sameText(value, "Auto")) {
      config.protocol = Protocol::automatic;
    } else if (sameText(value, "IPv4")) {
      config.protocol = Protocol::ipv4;
    } else if (sameText(value, "IPv6")) {
      config.protocol = Protocol::ipv6;
    } else if (sameText(value, "Pipe")) {
      config.protocol = Protocol::pipe;
    } else {
      problems.push_back(where + "unknown Protocol '" + std::string(value) + "', using the default");
    }
  } else if (sameText(key, "Address")) {
    config.address = std::string(value);
  } else if (sameText(key, "Port")) {
    config.port = std::string(value);
  } else if (sameText(key, "MaxReceiveSize")) {
    std::uint32_t size = 0;
    if (parseNumber(value, size) && size >= kSmallestMaxReceive && size <= kLargestMaxReceive) {
      config.maxReceiveSize = size;
    } else {
      problems.push_back(where + "MaxReceiveSize '" + std::string(value) + "' is not a number from " +
                         std::to_string(kSmallestMaxReceive) + " to " + std::to_string(kLargestMaxReceive) +
                         ", using " + std::to_string(config.maxReceiveSize));
    }
  } else if (sameText(key, "DisableNagle")) {
    int on = 0;
    if (parseNumber(value, on) && (on == 0 || on == 1)) {
      config.disableNagle = on == 1;
    } else {
      problems.push_back(where + "DisableNagle '" + std::string(value) + "' is neither 0 nor 1, using the default");
    }
  } else {
    problems.push_back(where + "unknown key '" + std::string(key) + "' ignored");
  }
}

}  // namespace

ClientConfig defaultConfig() {
  ClientConfig config;
#ifdef _WIN32
  config.protocol = Protocol::pipe;
#else
  config.protocol = Protocol::ipv4;
#endif
  return config;
}

ClientConfig parseConfig(std::string_view text, std::uint32_t index, std::vector<std::string>& problems) {
  ClientConfig config = defaultConfig();
  ClientConfig found = config;
  bool inSection = false;  // the first section for the index
  bool seen = false;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    const std::size_t comment = line.find(';');
    if (comment != std::string_view::npos) line = line.substr(0, comment);
    line = trim(line);
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const long long section =
          close == std::string_view::npos ? -1 : sectionIndex(trim(line.substr(1, close - 1)));
      inSection = !seen && section == static_cast<long long>(index);
      seen = seen || inSection;
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      problems.push_back("SimConnect.cfg line " + std::to_string(lineNumber) + ": '" + std::string(line) +
                         "' is no key=value entry, ignored");
      continue;
    }
    applyEntry(found, trim(line.substr(0, equals)), trim(line.substr(equals + 1)), lineNumber, problems);
  }
  if (!seen) {
    problems.push_back("SimConnect.cfg has no section " +
                       std::string(index == 0 ? "[SimConnect]" : "[SimConnect." + std::to_string(index) + "]") +
                       ", using the defaults");
    return config;
  }
  if (found.protocol == Protocol::ipv4 || found.protocol == Protocol::ipv6) {
    std::uint16_t port = 0;
    if (!found.port.empty() && (!parseNumber(std::string_view(found.port), port) || port == 0)) {
      problems.push_back("SimConnect.cfg: Port '" + found.port + "' is no TCP port, using " +
                         std::to_string(kDefaultPort));
      found.port.clear();
    }
  }
  return found;
}

std::uint16_t tcpPort(const ClientConfig& config) noexcept {
  std::uint16_t port = 0;
  return parseNumber(std::string_view(config.port), port) && port != 0 ? port : kDefaultPort;
}

std::filesystem::path findConfigFile() {
  std::error_code error;
  if (const char* named = std::getenv(kFileVariable); named != nullptr && *named != '\0') {
    const std::filesystem::path file = std::filesystem::u8path(named);
    return std::filesystem::is_regular_file(file, error) ? file : std::filesystem::path();
  }
  const std::filesystem::path candidates[] = {
      std::filesystem::current_path(error) / kFileName,
      platform::programFolder() / kFileName,
  };
  for (const auto& file : candidates) {
    if (file.has_parent_path() && std::filesystem::is_regular_file(file, error)) return file;
  }
  return {};
}

ClientConfig loadConfig(std::uint32_t index, std::vector<std::string>& problems) {
  if (index == kConfigIndexLocal) return defaultConfig();
  const std::filesystem::path file = findConfigFile();
  if (file.empty()) return defaultConfig();
  // Detection opens connections several times a second: the file is read,
  // and its problems reported, only when it is new or changed. (Never
  // destroyed: a cycle thread may still open a connection at process exit.)
  struct Cache {
    std::mutex mutex;
    std::filesystem::path file;
    std::filesystem::file_time_type time;
    std::string text;
  };
  static Cache& cache = *new Cache;
  std::error_code error;
  const auto time = std::filesystem::last_write_time(file, error);
  std::lock_guard<std::mutex> guard(cache.mutex);
  std::vector<std::string> ignored;
  const bool fresh = cache.file != file || cache.time != time;
  if (fresh) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    cache.text = text.str();
    cache.file = file;
    cache.time = time;
  }
  return parseConfig(cache.text, index, fresh ? problems : ignored);
}

std::string pipePath(const ClientConfig& config) {
  std::string name = config.port.empty() ? std::string(kDefaultPipeName) : config.port;
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return "\\\\" + (config.address.empty() ? std::string(".") : config.address) + "\\pipe\\" + name;
}

}  // namespace tarvex::simconnect
