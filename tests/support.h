// What every suite shares: a private log folder and temporary folders, child
// processes (the game simulator under a game's name, the controller
// emulator), waiting for a condition, loopback senders and servers, and a
// lock that keeps the tests that use the games' real ports and process
// names from running at the same time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"

namespace tarvex::testing {

// The running test program, and its folder (where tarvex-gamesim lies too).
std::filesystem::path programFile();
inline std::filesystem::path programFolder() { return programFile().parent_path(); }

// A fresh empty directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void setEnv(const char* name, const std::string& value);
void unsetEnv(const char* name);

// Points the diagnostic log of this test program at a private folder
// (Linux: XDG_STATE_HOME; Windows keeps %APPDATA% of the Wine prefix).
void useTestLogFolder();
// The diagnostic log's whole text.
std::string logText();

struct ChildOptions {
  std::vector<std::pair<std::string, std::string>> env;
  // Linux: what the child sees as its program name, when not empty (a
  // Windows path, as Wine shows a Windows program's).
  std::string argv0;
  // Linux: standard input and output are pipes, for send() and line().
  bool pipes = false;
};

// A child process, killed (if still running) and waited for on destruction.
class Child {
 public:
  using Options = ChildOptions;

  Child() = default;
  Child(const std::filesystem::path& program, const std::vector<std::string>& args,
        const Options& options = {});
  ~Child();
  Child(Child&& other) noexcept;
  Child& operator=(Child&&) = delete;
  bool started() const;
  // Waits for the exit; the exit code, or -1.
  int wait(std::chrono::milliseconds timeout);
  void kill();

  // With pipes: writes one line to the child's standard input.
  void send(const std::string& line);
  // With pipes: the next line of its output that starts with `prefix`
  // (earlier lines are dropped), or "" when none comes within `timeout`.
  std::string line(const std::string& prefix,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  std::intptr_t handle_ = -1;  // pid on Linux, process handle on Windows
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
};

// A program built with the tests, in the same folder.
std::filesystem::path siblingProgram(const std::string& name);

// tarvex-gamesim with these arguments.
Child startGamesim(const std::vector<std::string>& args);

// Polls `condition` until it holds or `timeout` has passed.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Holds a loopback TCP port as a lock between test processes; waits for it.
class GamePortsLock {
 public:
  GamePortsLock();
  ~GamePortsLock();

 private:
  platform::SocketHandle socket_ = platform::kInvalidSocket;
};

// Sends datagrams from its own thread to 127.0.0.1:port, every `interval`.
class UdpSender {
 public:
  UdpSender(std::uint16_t port, std::vector<std::uint8_t> datagram,
            std::chrono::milliseconds interval = std::chrono::milliseconds(2));
  ~UdpSender();

 private:
  std::atomic<bool> running_{true};
  std::thread thread_;
};

// Sends one datagram to 127.0.0.1:port.
bool sendDatagram(std::uint16_t port, const void* data, int size);

// A free UDP port on this machine at the moment of the call.
std::uint16_t freeUdpPort();

// A TCP server on 127.0.0.1 (a free port) that accepts connections on its
// own thread and hands each to `onConnection` (which may keep it open by
// not returning until the server stops).
class TcpServer {
 public:
  using Handler = std::function<void(platform::SocketHandle, const std::atomic<bool>& running)>;
  explicit TcpServer(Handler onConnection);
  ~TcpServer();
  std::uint16_t port() const { return port_; }
  int connections() const { return connections_; }

 private:
  platform::SocketHandle listener_ = platform::kInvalidSocket;
  std::uint16_t port_ = 0;
  std::atomic<bool> running_{true};
  std::atomic<int> connections_{0};
  Handler handler_;
  std::thread thread_;
};

}  // namespace tarvex::testing
