// Serial ports on Linux: termios2 for the 250000 baud line, poll() for the
// time-outs, sysfs for USB ids, and the COM-number map of platform/serial.h.
#include "platform/serial.h"

#include <asm/termbits.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

namespace tarvex::platform {

namespace {

struct Port {
  int fd = -1;
  std::uint32_t readTotalMs = 0;  // 0: as the driver has it (no wait)
  std::uint32_t writeTotalMs = 0;
};

Port* portOf(SerialHandle handle) noexcept { return reinterpret_cast<Port*>(handle); }

// --- the COM-number map ------------------------------------------------------

struct MapEntry {
  int number = 0;
  std::string node;
  std::string vendor, product;  // four hex digits each, or empty
};

std::vector<MapEntry> mappedPorts() {
  std::vector<MapEntry> entries;
  const char* text = std::getenv("TARVEX_COM_MAP");
  if (text == nullptr) return entries;
  std::string all = text;
  std::size_t pos = 0;
  while (pos <= all.size()) {
    std::size_t end = all.find(';', pos);
    if (end == std::string::npos) end = all.size();
    const std::string item = all.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t eq = item.find('=');
    if (item.size() < 5 || item.compare(0, 3, "COM") != 0 || eq == std::string::npos) continue;
    MapEntry entry;
    entry.number = std::atoi(item.substr(3, eq - 3).c_str());
    std::string node = item.substr(eq + 1);
    const std::size_t comma = node.find(',');
    if (comma != std::string::npos) {
      const std::string id = node.substr(comma + 1);
      node.resize(comma);
      const std::size_t colon = id.find(':');
      if (colon == 4 && id.size() == 9) {
        entry.vendor = id.substr(0, 4);
        entry.product = id.substr(5, 4);
        for (auto* s : {&entry.vendor, &entry.product})
          for (char& c : *s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
    }
    entry.node = node;
    if (entry.number > 0 && !entry.node.empty()) entries.push_back(entry);
  }
  return entries;
}

struct NodeFamily {
  const char* prefix;
  int firstPort;
};
constexpr NodeFamily kFamilies[] = {{"ttyS", 1}, {"ttyUSB", 33}, {"ttyACM", 65}};
constexpr int kPortsPerFamily = 32;

std::string nodeOfPort(int number) {
  for (const MapEntry& e : mappedPorts())
    if (e.number == number) return e.node;
  for (const NodeFamily& f : kFamilies) {
    if (number >= f.firstPort && number < f.firstPort + kPortsPerFamily)
      return "/dev/" + std::string(f.prefix) + std::to_string(number - f.firstPort);
  }
  return {};
}

// COM number of a tty name such as "ttyUSB2", 0 for none.
int portOfTtyName(const std::string& name) {
  for (const NodeFamily& f : kFamilies) {
    const std::size_t n = std::strlen(f.prefix);
    if (name.size() <= n || name.compare(0, n, f.prefix) != 0) continue;
    const std::string digits = name.substr(n);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    if (digits.size() > 2) return 0;
    const int k = std::atoi(digits.c_str());
    return k < kPortsPerFamily ? f.firstPort + k : 0;
  }
  return 0;
}

std::string sysfsRoot() {
  const char* root = std::getenv("TARVEX_SYSFS_ROOT");
  return root != nullptr && *root != '\0' ? root : "/sys";
}

std::string readLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// USB vendor and product of a tty: the first directory above its device
// that has idVendor and idProduct.
bool usbIdOfTty(const std::string& tty, std::string& vendor, std::string& product,
                std::string& productName) {
  const std::string root = sysfsRoot();
  char resolved[PATH_MAX];
  if (realpath((root + "/class/tty/" + tty + "/device").c_str(), resolved) == nullptr) return false;
  char rootResolved[PATH_MAX];
  if (realpath(root.c_str(), rootResolved) == nullptr) return false;
  std::string dir = resolved;
  const std::string top = rootResolved;
  while (dir.size() > top.size() && dir.compare(0, top.size(), top) == 0) {
    vendor = readLine(dir + "/idVendor");
    product = readLine(dir + "/idProduct");
    if (vendor.size() == 4 && product.size() == 4) {
      productName = readLine(dir + "/product");
      for (auto* s : {&vendor, &product})
        for (char& c : *s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return true;
    }
    dir.resize(dir.find_last_of('/'));
  }
  return false;
}

std::vector<std::string> listedTtys() {
  std::vector<std::string> names;
  DIR* dir = opendir((sysfsRoot() + "/class/tty").c_str());
  if (dir == nullptr) return names;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.compare(0, 6, "ttyUSB") == 0 || name.compare(0, 6, "ttyACM") == 0) {
      if (portOfTtyName(name) != 0) names.push_back(name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return portOfTtyName(a) < portOfTtyName(b);
  });
  return names;
}

// --- line settings -------------------------------------------------------------

bool applyLineSettings(int fd) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = 250000;
  tio.c_ospeed = 250000;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), INT_MAX)) : 0;
}

}  // namespace

bool serialPortExists(int port) {
  const std::string node = nodeOfPort(port);
  struct stat st {};
  if (node.empty()) {
    errno = ENOENT;
    return false;
  }
  return stat(node.c_str(), &st) == 0;
}

SerialHandle openSerialPort(int port) {
  const std::string node = nodeOfPort(port);
  if (node.empty()) {
    errno = ENOENT;
    return kNoSerialPort;
  }
  const int fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kNoSerialPort;
  // Not shared: one holder at a time, like a Windows COM port.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || !applyLineSettings(fd)) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    close(fd);
    errno = error;
    return kNoSerialPort;
  }
  auto* p = new (std::nothrow) Port;
  if (p == nullptr) {
    close(fd);
    errno = ENOMEM;
    return kNoSerialPort;
  }
  p->fd = fd;
  return reinterpret_cast<SerialHandle>(p);
}

void closeSerialPort(SerialHandle handle) noexcept {
  Port* p = portOf(handle);
  if (p == nullptr || handle == kNoSerialPort) return;
  close(p->fd);
  delete p;
}

bool readModemStatus(SerialHandle handle) {
  int status = 0;
  if (ioctl(portOf(handle)->fd, TIOCMGET, &status) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;  // a pty has no modem lines
}

bool clearSerialErrors(SerialHandle handle) {
  termios2 tio{};
  return ioctl(portOf(handle)->fd, TCGETS2, &tio) == 0;
}

bool setSerialTimeouts(SerialHandle handle, std::uint32_t readTotalMs, std::uint32_t writeTotalMs) {
  Port* p = portOf(handle);
  termios2 tio{};
  if (ioctl(p->fd, TCGETS2, &tio) != 0) return false;
  p->readTotalMs = readTotalMs;
  p->writeTotalMs = writeTotalMs;
  return true;
}

// Linux sizes the tty buffers itself.
bool setSerialQueueSizes(SerialHandle handle, std::uint32_t, std::uint32_t) {
  termios2 tio{};
  return ioctl(portOf(handle)->fd, TCGETS2, &tio) == 0;
}

bool writeSerial(SerialHandle handle, const std::uint8_t* data, std::size_t length) {
  Port* p = portOf(handle);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(p->writeTotalMs);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = write(p->fd, data + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    pollfd pfd{p->fd, POLLOUT, 0};
    const int ms = remainingMs(deadline);
    const int ready = ms > 0 ? poll(&pfd, 1, ms) : 0;
    if (ready == 0) {
      errno = ETIMEDOUT;
      return false;
    }
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      errno = EIO;
      return false;
    }
  }
  return true;
}

bool serialBytesWaiting(SerialHandle handle, std::uint32_t& count) {
  Port* p = portOf(handle);
  // A device that went away (USB unplugged, pty master closed) hangs up;
  // FIONREAD alone would report an empty queue forever.
  pollfd pfd{p->fd, POLLIN, 0};
  if (poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
    errno = EIO;
    return false;
  }
  int waiting = 0;
  if (ioctl(p->fd, FIONREAD, &waiting) != 0) return false;
  count = waiting > 0 ? static_cast<std::uint32_t>(waiting) : 0;
  return true;
}

bool readSerial(SerialHandle handle, std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) {
  Port* p = portOf(handle);
  read = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(p->readTotalMs);
  while (read < length) {
    const ssize_t n = ::read(p->fd, buffer + read, length - read);
    if (n > 0) {
      read += static_cast<std::uint32_t>(n);
      continue;
    }
    // A raw tty without VMIN/VTIME reads 0 bytes when nothing is there.
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    const int ms = remainingMs(deadline);
    if (ms == 0) return true;  // time-out: what arrived so far
    pollfd pfd{p->fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, ms);
    if (ready < 0 && errno != EINTR) return false;
    int waiting = 0;
    if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
        !(ioctl(p->fd, FIONREAD, &waiting) == 0 && waiting > 0)) {
      errno = EIO;  // the device went away
      return false;
    }
  }
  return true;
}

bool purgeSerialInput(SerialHandle handle) {
  return ioctl(portOf(handle)->fd, TCFLSH, TCIFLUSH) == 0;
}

bool listDosDeviceNames(std::vector<std::string>& names) {
  names.clear();
  for (const MapEntry& e : mappedPorts()) names.push_back("COM" + std::to_string(e.number));
  for (const std::string& tty : listedTtys()) {
    const std::string name = "COM" + std::to_string(portOfTtyName(tty));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return true;
}

bool listComPortDevices(std::vector<ComPortDevice>& devices) {
  devices.clear();
  std::vector<int> seen;
  for (const MapEntry& e : mappedPorts()) {
    ComPortDevice d;
    d.friendlyName = "Mapped serial port (COM" + std::to_string(e.number) + ")";
    std::string vendor = e.vendor, product = e.product, productName;
    const std::size_t slash = e.node.find_last_of('/');
    if (vendor.empty()) usbIdOfTty(e.node.substr(slash + 1), vendor, product, productName);
    if (!vendor.empty()) d.hardwareId = "USB\\VID_" + vendor + "&PID_" + product;
    devices.push_back(d);
    seen.push_back(e.number);
  }
  for (const std::string& tty : listedTtys()) {
    const int number = portOfTtyName(tty);
    if (std::find(seen.begin(), seen.end(), number) != seen.end()) continue;
    std::string vendor, product, productName;
    ComPortDevice d;
    const bool usb = usbIdOfTty(tty, vendor, product, productName);
    d.friendlyName = (productName.empty() ? std::string("USB serial device") : productName) +
                     " (COM" + std::to_string(number) + ")";
    if (usb) d.hardwareId = "USB\\VID_" + vendor + "&PID_" + product;
    devices.push_back(d);
  }
  return true;
}

}  // namespace tarvex::platform

// --- ports opened by name ---------------------------------------------------------

namespace tarvex::platform {

namespace {

// The number of a "COMn" name (any case), 0 for other names.
int comNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  int number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

constexpr tcflag_t kSizeFlags[] = {CS5, CS6, CS7, CS8};

}  // namespace

bool dosDeviceExists(const std::string& name) {
  const int number = comNumber(name);
  return number > 0 && serialPortExists(number);
}

SerialHandle openSerialPortByName(const std::string& name) {
  const int number = comNumber(name);
  const std::string node = number > 0 ? nodeOfPort(number) : std::string();
  if (node.empty()) {
    errno = ENOENT;
    return kNoSerialPort;
  }
  const int fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kNoSerialPort;
  termios2 tio{};
  bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0 && ioctl(fd, TCGETS2, &tio) == 0;
  if (ok) {
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                          IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ok = ioctl(fd, TCSETS2, &tio) == 0;
  }
  auto* p = ok ? new (std::nothrow) Port : nullptr;
  if (p == nullptr) {
    const int error = !ok ? (errno == EWOULDBLOCK ? EBUSY : errno) : ENOMEM;
    close(fd);
    errno = error;
    return kNoSerialPort;
  }
  p->fd = fd;
  return reinterpret_cast<SerialHandle>(p);
}

bool readLineSettings(SerialHandle handle, LineSettings& settings) {
  termios2 tio{};
  if (ioctl(portOf(handle)->fd, TCGETS2, &tio) != 0) return false;
  settings.baud = tio.c_ospeed;
  settings.dataBits = 8;
  for (int bits = 5; bits <= 8; ++bits)
    if ((tio.c_cflag & CSIZE) == kSizeFlags[bits - 5]) settings.dataBits = bits;
  settings.parity = (tio.c_cflag & PARENB) == 0 ? Parity::none : (tio.c_cflag & PARODD) != 0 ? Parity::odd : Parity::even;
  settings.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
  return true;
}

bool writeLineSettings(SerialHandle handle, const LineSettings& settings) {
  const int fd = portOf(handle)->fd;
  if (settings.dataBits < 5 || settings.dataBits > 8 || (settings.stopBits != 1 && settings.stopBits != 2)) {
    errno = EINVAL;
    return false;
  }
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= kSizeFlags[settings.dataBits - 5] | BOTHER | (BOTHER << IBSHIFT);
  if (settings.parity != Parity::none) tio.c_cflag |= PARENB;
  if (settings.parity == Parity::odd) tio.c_cflag |= PARODD;
  if (settings.stopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_ispeed = settings.baud;
  tio.c_ospeed = settings.baud;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

bool setSerialTimeouts(SerialHandle handle, const SerialTimeouts& t) {
  Port* p = portOf(handle);
  termios2 tio{};
  if (ioctl(p->fd, TCGETS2, &tio) != 0) return false;
  p->readTotalMs = t.readConstantMs + t.readMultiplierMs;
  p->writeTotalMs = t.writeConstantMs + t.writeMultiplierMs;
  return true;
}

}  // namespace tarvex::platform
