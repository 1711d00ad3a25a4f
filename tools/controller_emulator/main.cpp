// tarvex-controller: a motion controller on a pseudo terminal (or a given
// serial device) for tests and demos.
//
// It answers the identification request, reports a firmware version, checks
// the CRC-16 of every frame it receives, and keeps count: output frames
// (FC FC, 36 bytes) per second, the last six degrees of freedom, belt and
// wind, bad frames. Commands on standard input make it send messages:
//   f8                 one F8 frame (38 bytes)
//   fb                 one FB frame (78 bytes)
//   fe HEX...          one FE frame with the given payload bytes
//   fa N [reverse]     a message of N data bytes as FA fragments
//   stats              print the counters now
//   hangup MS          close the pty (the device goes away), come back after MS
//   quit
// Output lines (one fact each, for people and for tests):
//   pty PATH | ident | version N | stats ... | sent ... | hangup | bye
//
// With --udp it is a networked controller instead: it joins the multicast
// group 232.11.12.14, port 51324 (on the adapter with address --interface,
// else where the system chooses), checks and counts every datagram's frames
// the same way, except that host messages may end in 0A 0D instead of their
// checksum (the network path sends them as the host gave them), and answers
// by unicast to the sender's address on the library's listen port
// (--reply-port, 53241). It reports its version on the first frame and
// again every second, so that the library's network link stays live.
//   udp GROUP:PORT on ADDR
//
// With --fan-link PATH it also plays a wind fan on a second pty, linked at
// PATH: the stats line shows the last level it received (fan=) and how many
// bytes came (fanbytes=).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"

namespace {

using Clock = std::chrono::steady_clock;

// Written independently of the library's table: bit by bit.
std::uint16_t crc16Arc(const std::uint8_t* data, std::size_t length) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

void appendCrc(std::vector<std::uint8_t>& frame) {
  const std::uint16_t crc = crc16Arc(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool crcAtEnd(const std::uint8_t* frame, std::size_t length) {
  const std::uint16_t crc = crc16Arc(frame, length - 2);
  return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

bool terminatorAtEnd(const std::uint8_t* frame, std::size_t length) {
  return frame[length - 2] == 0x0A && frame[length - 1] == 0x0D;
}

struct Options {
  std::string device;      // a serial device instead of a pty
  std::string link;        // a symlink kept pointing at the pty
  std::string record;      // a file: one hex line per frame received
  std::string reply = "plain";
  int version = 328;
  double seconds = 0;      // 0: until quit or end of input
  int statsMs = 1000;      // 0: only on request
  bool udp = false;
  std::string interface;   // --udp: the adapter's address that joins the group
  int replyPort = 53241;
  std::string fanLink;     // a second pty for the wind fan, linked here
};

struct Counters {
  unsigned long long frames = 0, bad = 0, other = 0, garbage = 0, idents = 0;
  unsigned long long framesAtLastStats = 0;
  float dof[6] = {};
  std::uint32_t belt = 0, wind = 0;
  unsigned long long fanBytes = 0;
  int fan = -1;
  Clock::time_point lastStats = Clock::now();
};

class Emulator {
 public:
  explicit Emulator(const Options& options) : options_(options) {}

  bool open() {
    if (!options_.fanLink.empty() && fanFd_ < 0 && !openPty(fanFd_, options_.fanLink, "fan")) return false;
    if (options_.udp) return openUdp();
    if (!options_.device.empty()) {
      fd_ = ::open(options_.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      if (fd_ < 0) {
        std::fprintf(stderr, "tarvex-controller: cannot open %s: %s\n", options_.device.c_str(), std::strerror(errno));
        return false;
      }
      makeRaw(fd_);
      say("device %s", options_.device.c_str());
      return true;
    }
    if (!openPty(fd_, options_.link, "pty")) return false;
    versionSent_ = false;
    return true;
  }

  // A new pty, raw, its path said as "WHAT PATH" and linked at `link`.
  bool openPty(int& fd, const std::string& link, const char* what) {
    fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
      std::fprintf(stderr, "tarvex-controller: no pseudo terminal: %s\n", std::strerror(errno));
      return false;
    }
    const char* name = ptsname(fd);
    const std::string slave = name != nullptr ? name : "";
    // The slave's line discipline must pass every byte unchanged.
    const int s = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (s >= 0) {
      makeRaw(s);
      ::close(s);
    }
    if (!link.empty()) {
      const std::string tmp = link + ".new";
      ::unlink(tmp.c_str());
      if (symlink(slave.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0)
        std::fprintf(stderr, "tarvex-controller: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
    }
    say("%s %s", what, slave.c_str());
    return true;
  }

  bool openUdp() {
    constexpr const char* kGroup = "232.11.12.14";
    constexpr int kPort = 51324;
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    ip_mreq join{};
    inet_pton(AF_INET, kGroup, &join.imr_multiaddr);
    join.imr_interface.s_addr = htonl(INADDR_ANY);
    if (!options_.interface.empty() && inet_pton(AF_INET, options_.interface.c_str(), &join.imr_interface) != 1) {
      std::fprintf(stderr, "tarvex-controller: --interface wants an IPv4 address, not '%s'\n", options_.interface.c_str());
      return false;
    }
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
      std::fprintf(stderr, "tarvex-controller: cannot join %s:%d: %s\n", kGroup, kPort, std::strerror(errno));
      return false;
    }
    say("udp %s:%d on %s", kGroup, kPort, options_.interface.empty() ? "any" : options_.interface.c_str());
    return true;
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Reads what arrived and answers it; waits at most `ms` for input.
  void step(int ms) {
    pollfd pfd[2] = {{fd_, POLLIN, 0}, {fanFd_, POLLIN, 0}};
    const int ready = poll(pfd, fanFd_ >= 0 ? 2 : 1, ms);
    if (ready > 0 && fanFd_ >= 0 && (pfd[1].revents & POLLIN) != 0) readFan();
    if (ready > 0 && options_.udp && (pfd[0].revents & POLLIN) != 0) {
      receiveDatagrams();
    } else if (ready > 0 && (pfd[0].revents & POLLIN) != 0) {
      std::uint8_t chunk[4096];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n > 0) {
        buffer_.insert(buffer_.end(), chunk, chunk + n);
        parse();
      }
    } else if (ready > 0 && (pfd[0].revents & (POLLHUP | POLLERR)) != 0) {
      // No one holds the other side (the host closed the port): wait.
      std::this_thread::sleep_for(std::chrono::milliseconds(ms > 5 ? 5 : ms));
    }
  }

  void command(const std::string& line) {
    std::vector<std::string> words;
    std::size_t pos = 0;
    while (pos < line.size()) {
      const std::size_t start = line.find_first_not_of(" \t\r", pos);
      if (start == std::string::npos) break;
      const std::size_t end = line.find_first_of(" \t\r", start);
      words.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
      pos = end == std::string::npos ? line.size() : end;
    }
    if (words.empty()) return;
    const std::string& w = words[0];
    if (w == "f8" || w == "fb") {
      const std::size_t length = w == "f8" ? 38 : 78;
      std::vector<std::uint8_t> frame(length - 2);
      frame[0] = frame[1] = w == "f8" ? 0xF8 : 0xFB;
      for (std::size_t i = 2; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i);
      appendCrc(frame);
      send(frame);
      say("sent %s %zu bytes", w.c_str(), frame.size());
    } else if (w == "fe") {
      std::vector<std::uint8_t> frame = {0xFE, 0xFE, 0, 0};
      for (std::size_t i = 1; i < words.size(); ++i)
        frame.push_back(static_cast<std::uint8_t>(std::strtoul(words[i].c_str(), nullptr, 16)));
      const std::size_t payload = frame.size() - 4;
      frame[2] = static_cast<std::uint8_t>(payload);
      frame[3] = static_cast<std::uint8_t>(payload >> 8);
      appendCrc(frame);
      send(frame);
      say("sent fe %zu bytes", frame.size());
    } else if (w == "fa" && words.size() >= 2) {
      sendFragmented(std::strtoul(words[1].c_str(), nullptr, 10), words.size() >= 3 && words[2] == "reverse");
    } else if (w == "stats") {
      printStats();
    } else if (w == "hangup") {
      const int ms = words.size() >= 2 ? std::atoi(words[1].c_str()) : 500;
      close();
      say("hangup");
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      buffer_.clear();
      if (!open()) quit_ = true;
    } else if (w == "quit") {
      quit_ = true;
    } else {
      say("unknown command %s", w.c_str());
    }
  }

  void maybePrintStats() {
    if (options_.statsMs <= 0) return;
    if (Clock::now() - counters_.lastStats >= std::chrono::milliseconds(options_.statsMs)) printStats();
  }

  bool quit() const { return quit_; }

  // Over UDP the version report doubles as a sign of life, every second.
  void heartbeat() {
    if (!options_.udp || !versionSent_ || Clock::now() - lastReport_ < std::chrono::seconds(1)) return;
    versionSent_ = false;
    reportVersion();
  }

  void printStats() {
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - counters_.lastStats).count();
    const double fps = seconds > 0 ? (counters_.frames - counters_.framesAtLastStats) / seconds : 0.0;
    counters_.lastStats = now;
    counters_.framesAtLastStats = counters_.frames;
    say("stats frames=%llu fps=%.0f bad=%llu other=%llu garbage=%llu idents=%llu "
        "dof=%.3f,%.3f,%.3f,%.3f,%.3f,%.3f belt=%u wind=%u fan=%d fanbytes=%llu",
        counters_.frames, fps, counters_.bad, counters_.other, counters_.garbage, counters_.idents,
        counters_.dof[0], counters_.dof[1], counters_.dof[2], counters_.dof[3], counters_.dof[4],
        counters_.dof[5], counters_.belt, counters_.wind, counters_.fan, counters_.fanBytes);
  }

 private:
  static void makeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }

  void say(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
  }

  void send(const std::vector<std::uint8_t>& bytes) {
    if (options_.udp) {
      if (peer_.sin_family != AF_INET) return;  // no one has spoken to us yet
      sockaddr_in to = peer_;
      to.sin_port = htons(static_cast<std::uint16_t>(options_.replyPort));
      sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      return;
    }
    std::size_t done = 0;
    const auto until = Clock::now() + std::chrono::seconds(1);
    while (done < bytes.size() && Clock::now() < until) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }

  void sendFragmented(std::size_t size, bool reverse) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const std::size_t count = (size + 499) / 500;
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t length = std::min<std::size_t>(500, size - i * 500);
      std::vector<std::uint8_t> f = {0xFA, 0xFA, static_cast<std::uint8_t>(length + 8),
                                     static_cast<std::uint8_t>((length + 8) >> 8), 0x00, 0xF1,
                                     static_cast<std::uint8_t>(nextId_), static_cast<std::uint8_t>(nextId_ >> 8),
                                     static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                     static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8)};
      f.insert(f.end(), data.begin() + static_cast<std::ptrdiff_t>(i * 500),
               data.begin() + static_cast<std::ptrdiff_t>(i * 500 + length));
      appendCrc(f);
      frames.push_back(f);
    }
    ++nextId_;
    if (reverse) std::reverse(frames.begin(), frames.end());
    for (const auto& f : frames) send(f);
    say("sent fa %zu bytes in %zu fragments", size, count);
  }

  void answerIdentification() {
    ++counters_.idents;
    std::vector<std::uint8_t> reply = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00};
    const std::string& kind = options_.reply;
    if (kind == "none") return;
    if (kind == "two" || kind == "two-checked") reply[4] = 0x02;
    if (kind == "wrong") reply[4] = 0x07;
    if (kind == "checked" || kind == "two-checked") {
      appendCrc(reply);
    } else {
      reply.push_back(0x0A);
      reply.push_back(0x0D);
    }
    send(reply);
    say("ident");
  }

  // Each datagram on its own: a frame cut at its end is not completed by the
  // next one.
  void receiveDatagrams() {
    std::uint8_t datagram[65536];
    for (;;) {
      socklen_t length = sizeof peer_;
      const ssize_t n = recvfrom(fd_, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&peer_), &length);
      if (n <= 0) return;
      buffer_.assign(datagram, datagram + n);
      parse();
      counters_.garbage += buffer_.size();
      buffer_.clear();
    }
  }

  void readFan() {
    std::uint8_t chunk[256];
    const ssize_t n = ::read(fanFd_, chunk, sizeof chunk);
    if (n <= 0) return;
    counters_.fanBytes += static_cast<unsigned long long>(n);
    counters_.fan = chunk[n - 1];
  }

  void reportVersion() {
    if (versionSent_) return;
    versionSent_ = true;
    lastReport_ = Clock::now();
    std::vector<std::uint8_t> frame = {0xF9, 0xF9, 0x02, 0x00,
                                       static_cast<std::uint8_t>(static_cast<std::int8_t>(options_.version % 100)),
                                       static_cast<std::uint8_t>(static_cast<std::int8_t>(options_.version / 100))};
    appendCrc(frame);
    send(frame);
    say("version %d", options_.version);
  }

  void record(const std::uint8_t* frame, std::size_t length) {
    if (options_.record.empty()) return;
    if (recordFile_ == nullptr) recordFile_ = std::fopen(options_.record.c_str(), "a");
    if (recordFile_ == nullptr) return;
    for (std::size_t i = 0; i < length; ++i) std::fprintf(recordFile_, "%02X", frame[i]);
    std::fputc('\n', recordFile_);
    std::fflush(recordFile_);
  }

  void outputFrame(const std::uint8_t* f) {
    ++counters_.frames;
    for (int k = 0; k < 6; ++k) {
      std::uint32_t bits = 0;
      for (int i = 3; i >= 0; --i) bits = bits << 8 | f[2 + 4 * k + i];
      std::memcpy(&counters_.dof[k], &bits, sizeof bits);
    }
    counters_.belt = static_cast<std::uint32_t>(f[26]) << 24 | f[27] << 16 | f[28] << 8 | f[29];
    counters_.wind = static_cast<std::uint32_t>(f[30]) << 24 | f[31] << 16 | f[32] << 8 | f[33];
    reportVersion();
  }

  // Frames the host sends: FC output frames, F9 identification and control
  // messages, and the device kinds a host may pass on.
  void parse() {
    std::size_t at = 0;
    while (buffer_.size() - at >= 8) {
      const std::uint8_t* f = buffer_.data() + at;
      const std::size_t have = buffer_.size() - at;
      std::size_t length = 0;
      if (f[0] == f[1]) {
        switch (f[0]) {
          case 0xFC: length = 36; break;
          case 0xF9: length = 8; break;
          case 0xF8: length = 38; break;
          case 0xFB: length = 78; break;
          case 0xFE:
          case 0xFA: length = (f[2] | f[3] << 8) + 6u; break;
          default: break;
        }
      }
      if (length == 0) {
        ++counters_.garbage;
        ++at;
        continue;
      }
      if (have < length) break;
      const bool identification = f[0] == 0xF9 && f[2] == 0x01 && f[4] == 0x00 && terminatorAtEnd(f, 8);
      if (identification) {
        answerIdentification();
      } else if (!crcAtEnd(f, length) && !(options_.udp && terminatorAtEnd(f, length))) {
        ++counters_.bad;
        ++at;
        continue;
      } else if (f[0] == 0xFC) {
        outputFrame(f);
      } else {
        ++counters_.other;
        if (f[0] == 0xF9 && f[2] == 0x02) reportVersion();
      }
      record(f, length);
      at += length;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at));
  }

  Options options_;
  int fd_ = -1;
  int fanFd_ = -1;
  sockaddr_in peer_{};  // --udp: the library's address
  Clock::time_point lastReport_;
  std::vector<std::uint8_t> buffer_;
  Counters counters_;
  std::FILE* recordFile_ = nullptr;
  std::uint16_t nextId_ = 1;
  bool versionSent_ = false;
  bool quit_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{"Emulates the motion controller on a new pseudo terminal (its path is the first line printed), "
               "on --device, or on the network (--udp). --fan-link plays a wind fan on a second pty. "
               "Commands on standard input: f8, fb, fe HEX..., fa N [reverse], stats, hangup MS, quit.",
               "tarvex-controller"};
  app.add_option("--device", options.device, "a serial device instead of a new pty")->type_name("PATH");
  app.add_option("--link", options.link, "keep a symbolic link to the current pty here")->type_name("PATH");
  app.add_option("--record", options.record, "write every frame received as a hex line")->type_name("FILE");
  app.add_option("--reply", options.reply, "the answer to the identification request (default plain)")
      ->check(CLI::IsMember({"plain", "checked", "two", "two-checked", "wrong", "none"}));
  // The version goes out as two signed bytes: version % 100 and version / 100.
  app.add_option("--version", options.version, "the firmware version reported (default 328)")
      ->type_name("N")->check(tools::wholeInRange(0, 12799));
  app.add_option("--seconds", options.seconds, "end after N seconds (default 0: at quit or end of input)")
      ->type_name("N")->check(tools::inRange(0, 31536000));
  app.add_option("--stats-ms", options.statsMs, "print the counters every MS milliseconds (0: on request)")
      ->type_name("MS")->check(tools::wholeInRange(0, 3600000));
  CLI::Option* udp = app.add_flag("--udp", options.udp, "a networked controller: multicast in, unicast answers");
  app.add_option("--interface", options.interface, "--udp: the adapter's IPv4 address that joins the group")
      ->type_name("ADDR")->check(tools::ipv4Address())->needs(udp);
  app.add_option("--reply-port", options.replyPort, "--udp: the library's listen port (default 53241)")
      ->type_name("N")->check(tools::wholeInRange(1, 65535))->needs(udp);
  app.add_option("--fan-link", options.fanLink, "also play a wind fan on a second pty, linked here")->type_name("PATH");
  const int parsed = tools::parseCommandLine(app, argc, argv);
  if (parsed >= 0) return parsed;

  Emulator emulator(options);
  if (!emulator.open()) return 1;
  fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
  std::string pending;
  bool inputOpen = true;
  const auto end = Clock::now() + std::chrono::duration<double>(options.seconds);
  while (!emulator.quit()) {
    if (options.seconds > 0 && Clock::now() >= end) break;
    emulator.step(1);
    if (inputOpen) {
      char chunk[512];
      const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
      if (n > 0) {
        pending.append(chunk, static_cast<std::size_t>(n));
      } else if (n == 0) {
        inputOpen = false;
        // Without --seconds and without input the emulator runs until killed.
      }
      for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        emulator.command(pending.substr(0, nl));
        pending.erase(0, nl + 1);
      }
    }
    emulator.heartbeat();
    emulator.maybePrintStats();
  }
  emulator.printStats();
  emulator.close();
  std::printf("bye\n");
  return 0;
}
