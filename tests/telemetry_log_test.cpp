// DiagnosticLog: the line format byte for byte, appending from several
// instances and processes, and the three ways an instance stays closed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/diagnostic_log.h"
#include "support.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kCr = "\r";  // the system's line end, less the \n
#else
constexpr const char* kCr = "";
#endif

class TelemetryLog : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    testing::setEnv("XDG_STATE_HOME", dir_.path().string());
#endif
  }
  testing::TempDir dir_;
};

// The message goes in as it is: no format directives, newlines kept.
TEST(TelemetryLogFormat, LineIsPrefixTimestampAndMessage) {
  std::tm t{};
  t.tm_year = 2024 - 1900, t.tm_mon = 2, t.tm_mday = 9, t.tm_hour = 14, t.tm_min = 5, t.tm_sec = 31;
  EXPECT_EQ(formatLogLine("[INFO] [", t, "Port 4321 %s\nopened"), "[INFO] [2024-03-09 14:05:31] Port 4321 %s\nopened");
}

// Run by InstancesThreadsAndProcessesAppendWholeLines in a child process.
TEST(TelemetryLogChild, WriteLines) {
  const char* marker = std::getenv("TARVEX_LOG_CHILD");
  if (marker == nullptr) GTEST_SKIP() << "runs only as the child of another test";
  DiagnosticLog log;
  for (int i = 0; i < 20; ++i) log.info(std::string(marker) + " child " + std::to_string(i));
}

// Two instances, four threads of one and another process append to one file at
// once: every line whole, with its prefix, time stamp and line end, none lost.
TEST_F(TelemetryLog, InstancesThreadsAndProcessesAppendWholeLines) {
  // A marker no earlier run left in the log (under Wine the log outlives runs).
  const std::string marker = "append-" + std::to_string(std::random_device()()) + "-" +
                             std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
  DiagnosticLog log;
  DiagnosticLog other;
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

  std::ifstream in(DiagnosticLog::filePath(), std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.find(marker) != std::string::npos) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 224u);
  const std::string stamp = R"( \[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )";
  const std::regex info(R"(\[INFO\])" + stamp + "(wide " + marker + "|" + marker +
                        R"( (first|last|child \d+|thread \d line \d+)))" + kCr);
  const std::regex error(R"(\[ERROR\])" + stamp + marker + " error" + kCr);
  for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, error) || std::regex_match(line, info)) << line;
}

#ifndef _WIN32
// kinetra/errorlog.txt under the XDG state folder (created), or under HOME when
// the variable is not absolute; one line on the error stream when it cannot open.
TEST_F(TelemetryLog, WhereTheFileLiesAndWhyItMayNotOpen) {
  const fs::path home = dir_.path() / "home", state = dir_.path() / "deeper" / "state";
  // xdg: "state" the fresh folder above; "" unsets it and HOME.
  struct Case { const char* what; const char* xdg; bool blocked; fs::path file; const char* says; };
  const Case cases[] = {
      {"a missing state folder is created", "state", false, state / "kinetra" / "errorlog.txt", ""},
      {"a relative variable falls back to HOME", "relative/state", false,
       home / ".local" / "state" / "kinetra" / "errorlog.txt", ""},
      {"no folder at all", "", false, {}, "Failed to get APPDATA path\n"},
      {"a file where the folder belongs", "state", true, {}, "Failed to create log directory\n"},
  };
  const char* savedHome = std::getenv("HOME");
  const std::string saved = savedHome != nullptr ? savedHome : "";
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    fs::remove_all(dir_.path() / "deeper");
    const std::string xdg = k.xdg;
    testing::setEnv("HOME", home.string());
    testing::setEnv("XDG_STATE_HOME", xdg == "state" ? state.string() : xdg);
    if (xdg.empty()) testing::unsetEnv("XDG_STATE_HOME"), testing::unsetEnv("HOME");
    if (k.blocked) fs::create_directories(state), std::ofstream(state / "kinetra") << "not a folder";
    ::testing::internal::CaptureStderr();
    {
      DiagnosticLog log;
      EXPECT_EQ(log.isOpen(), !k.file.empty());
      log.info("a line");
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
