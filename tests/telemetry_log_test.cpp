// DiagnosticLog: the line format byte for byte, appending from several
// instances and processes, and the three ways an instance stays closed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/diagnostic_log.h"
#include "support.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

std::string readBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lines of the log that contain `marker`, each with its line end.
std::vector<std::string> linesWith(const std::string& log, const std::string& marker) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    end = end == std::string::npos ? log.size() : end + 1;
    const std::string line = log.substr(start, end - start);
    if (line.find(marker) != std::string::npos) lines.push_back(line);
    start = end;
  }
  return lines;
}

// A marker no earlier run left in the log (the Windows log lives on in the
// Wine prefix between runs).
std::string uniqueMarker(const char* what) {
  std::random_device random;
  return std::string(what) + "-" + std::to_string(random()) + "-" +
         std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
}

class TelemetryLog : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    testing::setEnv("XDG_STATE_HOME", dir_.path().string());
#endif
  }
  TempDir dir_;
};

TEST(TelemetryLogFormat, LineIsPrefixTimestampAndMessage) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 9;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 31;
  EXPECT_EQ(formatLogLine("[INFO] [", t, "Port 4321 opened successfully."),
            "[INFO] [2024-03-09 14:05:31] Port 4321 opened successfully.");
  EXPECT_EQ(formatLogLine("[ERROR] [", t, "Binding socket failed with error: 10048"),
            "[ERROR] [2024-03-09 14:05:31] Binding socket failed with error: 10048");
  // The message is written as it is, newlines and all.
  EXPECT_EQ(formatLogLine("[INFO] [", t, "a\nb%s"), "[INFO] [2024-03-09 14:05:31] a\nb%s");
}

// Run by InstancesThreadsAndProcessesAppendWholeLines in a child process.
TEST(TelemetryLogChild, WriteLines) {
  const char* marker = std::getenv("TARVEX_LOG_CHILD");
  if (marker == nullptr) GTEST_SKIP() << "runs only as the child of another test";
  DiagnosticLog log;
  for (int i = 0; i < 20; ++i) log.info(std::string(marker) + " child " + std::to_string(i));
}

// Two instances, four threads of one of them and another process append to
// one file at once: every line whole, with its prefix, time stamp and the
// system's line end, none lost.
TEST_F(TelemetryLog, InstancesThreadsAndProcessesAppendWholeLines) {
  const std::string marker = uniqueMarker("append");
  DiagnosticLog log;
  DiagnosticLog other;
  ASSERT_TRUE(log.isOpen());
  log.info(marker + " first");
  testing::ChildOptions options;
  options.env = {{"TARVEX_LOG_CHILD", marker}};
#ifndef _WIN32
  options.env.emplace_back("XDG_STATE_HOME", dir_.path().string());
#endif
  testing::Child child(testing::programFile(), {"--gtest_filter=TelemetryLogChild.WriteLines"}, options);
  ASSERT_TRUE(child.started());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) log.info(marker + " thread " + std::to_string(t) + " line " + std::to_string(i));
    });
  }
  for (auto& t : threads) t.join();
  other.error(marker + " error");
  log.info(std::wstring(L"wide ") + std::wstring(marker.begin(), marker.end()));
  ASSERT_EQ(child.wait(std::chrono::seconds(60)), 0);
  log.info(marker + " last");

  const std::string bytes = readBytes(DiagnosticLog::filePath());
  const auto lines = linesWith(bytes, marker);
  ASSERT_EQ(lines.size(), 224u);
  const std::string stamp = R"( \[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )";
  const std::regex info(R"(\[INFO\])" + stamp + "(wide " + marker + "|" + marker +
                        R"( (first|last|child \d+|thread \d line \d+)))" + kLineEnd);
  const std::regex error(R"(\[ERROR\])" + stamp + marker + " error" + kLineEnd);
  int errors = 0, wide = 0, children = 0;
  for (const auto& line : lines) {
    const bool isError = std::regex_match(line, error);
    EXPECT_TRUE(isError || std::regex_match(line, info)) << line;
    errors += isError ? 1 : 0;
    wide += line.find("] wide ") != std::string::npos ? 1 : 0;
    children += line.find(" child ") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(wide, 1);
  EXPECT_EQ(children, 20);
  EXPECT_NE(lines.front().find(" first"), std::string::npos);
  EXPECT_NE(lines.back().find(" last"), std::string::npos);
#ifndef _WIN32
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
#endif
}

#ifndef _WIN32
// Where the file lies: kinetra/errorlog.txt under the XDG state folder,
// created when missing, or under HOME when the variable is not absolute;
// and the one line on the error stream when it cannot be opened (the
// instance then takes lines and writes them nowhere).
TEST_F(TelemetryLog, WhereTheFileLiesAndWhyItMayNotOpen) {
  const fs::path home = dir_.path() / "home";
  const fs::path state = dir_.path() / "deeper" / "state";
  struct Case {
    const char* what;
    const char* xdg;  // "" unset; "state" the fresh folder above
    bool withHome;
    void (*prepare)(const fs::path& state);
    fs::path file;
    const char* says;
  };
  const Case cases[] = {
      {"a missing state folder is created", "state", true, nullptr, state / "kinetra" / "errorlog.txt", ""},
      {"a relative variable falls back to HOME", "relative/state", true, nullptr,
       home / ".local" / "state" / "kinetra" / "errorlog.txt", ""},
      {"no folder at all", "", false, nullptr, {}, "Failed to get APPDATA path\n"},
      {"a file where the folder belongs", "state", true,
       [](const fs::path& s) { fs::create_directories(s), std::ofstream(s / "kinetra") << "not a folder"; }, {},
       "Failed to create log directory\n"},
      {"a folder where the file belongs", "state", true,
       [](const fs::path& s) { fs::create_directories(s / "kinetra" / "errorlog.txt"); }, {},
       "Failed to open log file\n"},
  };
  const char* savedHome = std::getenv("HOME");
  const std::string saved = savedHome != nullptr ? savedHome : "";
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    fs::remove_all(dir_.path() / "deeper");
    const std::string xdg = k.xdg;
    if (xdg.empty()) testing::unsetEnv("XDG_STATE_HOME");
    else testing::setEnv("XDG_STATE_HOME", xdg == "state" ? state.string() : xdg);
    if (k.withHome) testing::setEnv("HOME", home.string());
    else testing::unsetEnv("HOME");
    if (k.prepare != nullptr) k.prepare(state);
    ::testing::internal::CaptureStderr();
    {
      DiagnosticLog log;
      EXPECT_EQ(log.isOpen(), !k.file.empty());
      log.info("a line");
      log.error("a line");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), k.says);
    if (!k.file.empty()) {
      EXPECT_EQ(DiagnosticLog::filePath(), k.file);
      EXPECT_TRUE(fs::is_regular_file(k.file));
    }
  }
  testing::setEnv("HOME", saved);
}
#endif

}  // namespace
}  // namespace tarvex
