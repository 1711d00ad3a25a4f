#include "support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "common/diagnostic_log.h"
#include "platform/clock.h"

namespace tarvex::testing {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

#ifdef _WIN32
fs::path programFile() {
  std::vector<wchar_t> path(32768);
  return fs::path(std::wstring(path.data(), GetModuleFileNameW(nullptr, path.data(), 32768)));
}
void setEnv(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
void unsetEnv(const char* name) { _putenv_s(name, ""); }
fs::path siblingProgram(const std::string& name) { return programFolder() / (name + ".exe"); }
#else
fs::path programFile() { return fs::read_symlink("/proc/self/exe"); }
void setEnv(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
void unsetEnv(const char* name) { unsetenv(name); }
fs::path siblingProgram(const std::string& name) { return programFolder() / name; }
#endif

TempDir::TempDir() {
  std::random_device random;
  for (int i = 0; i < 100 && path_.empty(); ++i) {
    const fs::path candidate = fs::temp_directory_path() / ("tarvex-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) path_ = candidate;
  }
  if (path_.empty()) throw std::runtime_error("no temporary directory");
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
}

void useTestLogFolder() {
#ifndef _WIN32
  static TempDir folder;  // one per test program run, removed at its end
  setEnv("XDG_STATE_HOME", folder.path().string());
#endif
}

std::string logText() {
  std::ifstream in(DiagnosticLog::filePath(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#ifdef _WIN32
Child::Child(const fs::path& program, const std::vector<std::string>& args, const Options& options) {
  const auto quoted = [](const std::wstring& arg) {
    std::wstring out = L"\"";
    for (wchar_t c : arg) out += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    return out + L"\"";
  };
  std::wstring command = quoted(program.wstring());
  for (const std::string& a : args) command += L" " + quoted(fs::u8path(a).wstring());
  for (const auto& [k, v] : options.env) setEnv(k.c_str(), v);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    handle_ = reinterpret_cast<std::intptr_t>(process.hProcess);
  }
  for (const auto& [k, v] : options.env) unsetEnv(k.c_str());
}

int Child::wait(milliseconds timeout) {
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  DWORD code = 0;
  if (handle_ == -1 || WaitForSingleObject(h, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return -1;
  GetExitCodeProcess(h, &code);
  CloseHandle(h);
  handle_ = -1;
  return static_cast<int>(code);
}

void Child::kill() {
  if (handle_ != -1) TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1);
  wait(std::chrono::seconds(10));
}
#else
Child::Child(const fs::path& program, const std::vector<std::string>& args, const Options& options) {
  std::vector<std::string> argStrings{options.argv0.empty() ? program.string() : options.argv0}, envStrings;
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  for (const auto& [k, v] : options.env) envStrings.push_back(k + "=" + v);
  const auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
  };
  std::vector<char*> argv = pointers(argStrings), envp = pointers(envStrings);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (options.pipes && pipe(in) == 0 && pipe(out) == 0) {
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) handle_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  if (in[0] != -1) {
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    fcntl(output_, F_SETFL, O_NONBLOCK);
  }
}

void Child::send(const std::string& line) {
  const std::string text = line + "\n";
  if (input_ != -1) (void)!write(input_, text.data(), text.size());
}

std::string Child::line(const std::string& prefix, milliseconds timeout) {
  std::string found;
  const auto nextLine = [&] {
    char chunk[4096];
    const ssize_t n = output_ != -1 ? read(output_, chunk, sizeof chunk) : 0;
    if (n > 0) pending_.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t nl; found.empty() && (nl = pending_.find('\n')) != std::string::npos;) {
      if (pending_.rfind(prefix, 0) == 0) found = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
    }
    return !found.empty();
  };
  waitUntil(nextLine, timeout);
  return found;
}

int Child::wait(milliseconds timeout) {
  pid_t reaped = 0;
  int status = 0;
  const auto reap = [&] { return (reaped = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG)) != 0; };
  if (handle_ == -1 || !waitUntil(reap, timeout) || reaped != handle_) return -1;
  handle_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Child::kill() {
  if (handle_ == -1) return;
  ::kill(static_cast<pid_t>(handle_), SIGTERM);  // first: the simulator removes its renamed copy on the way out
  if (wait(std::chrono::seconds(5)) == -1 && handle_ != -1) {
    ::kill(static_cast<pid_t>(handle_), SIGKILL);
    wait(std::chrono::seconds(5));
  }
  handle_ = -1;
}
#endif

Child::~Child() {
  kill();
#ifndef _WIN32
  if (input_ != -1) close(input_);
  if (output_ != -1) close(output_);
#endif
}

Child::Child(Child&& other) noexcept
    : handle_(other.handle_), input_(other.input_), output_(other.output_), pending_(std::move(other.pending_)) {
  other.handle_ = other.input_ = other.output_ = -1;
}

bool Child::started() const { return handle_ != -1; }

Child startGamesim(const std::vector<std::string>& args) { return Child(siblingProgram("tarvex-gamesim"), args); }

bool waitUntil(const std::function<bool()>& condition, milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (; !condition(); platform::sleepFor(milliseconds(2))) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

namespace {
// Test programs hold one start-up for their whole life, as a host would.
struct SocketsForTests {
  SocketsForTests() { platform::startSockets(); }
  ~SocketsForTests() { platform::stopSockets(); }
};
void needSockets() { static SocketsForTests sockets; }
}  // namespace

GamePortsLock::GamePortsLock() {
  needSockets();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  for (; std::chrono::steady_clock::now() < deadline; platform::sleepFor(milliseconds(50))) {
    if ((socket_ = platform::openTcpSocket()) == platform::kInvalidSocket) continue;
    if (platform::bindLoopback(socket_, 47391) && platform::listenOn(socket_)) return;
    platform::closeSocket(socket_);
    socket_ = platform::kInvalidSocket;
  }
}

GamePortsLock::~GamePortsLock() {
  if (socket_ != platform::kInvalidSocket) platform::closeSocket(socket_);
}

bool sendDatagram(std::uint16_t port, const void* data, int size) {
  needSockets();
  const platform::SocketHandle s = platform::openUdpSocket();
  const int n = s == platform::kInvalidSocket ? -1 : platform::sendTo(s, data, size, platform::kLoopbackAddress, port);
  if (s != platform::kInvalidSocket) platform::closeSocket(s);
  return n == size;
}

UdpSender::UdpSender(std::uint16_t port, std::vector<std::uint8_t> datagram, milliseconds interval) {
  needSockets();
  thread_ = std::thread([this, port, datagram = std::move(datagram), interval] {
    const platform::SocketHandle s = platform::openUdpSocket();
    for (; running_; platform::sleepFor(interval)) {
      platform::sendTo(s, datagram.data(), static_cast<int>(datagram.size()), platform::kLoopbackAddress, port);
    }
    platform::closeSocket(s);
  });
}

UdpSender::~UdpSender() {
  running_ = false;
  thread_.join();
}

std::uint16_t freeUdpPort() {
  needSockets();
  const platform::SocketHandle s = platform::openUdpSocket();
  platform::bindLoopback(s, 0);
  const std::uint16_t port = platform::localPort(s);
  platform::closeSocket(s);
  return port;
}

TcpServer::TcpServer(Handler onConnection) : handler_(std::move(onConnection)) {
  needSockets();
  listener_ = platform::openTcpSocket();
  platform::setReuseAddress(listener_);
  platform::bindLoopback(listener_, 0);
  platform::listenOn(listener_);
  port_ = platform::localPort(listener_);
  thread_ = std::thread([this] {
    while (running_) {
      if (platform::waitReadable(listener_, milliseconds(10)) != platform::WaitResult::ready) continue;
      const platform::SocketHandle connection = platform::acceptConnection(listener_);
      if (connection == platform::kInvalidSocket) continue;
      ++connections_;
      handler_(connection, running_);
      platform::closeSocket(connection);
    }
  });
}

TcpServer::~TcpServer() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  platform::closeSocket(listener_);
}

}  // namespace tarvex::testing
