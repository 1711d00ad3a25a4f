// WindSerial: the wind fan's port, its byte buffer and its sending thread.
#include "tarvex/wind_serial.h"

#include <chrono>
#include <system_error>

#include "common/diagnostic_log.h"
#include "platform/clock.h"
#include "platform/process_exit.h"
#include "platform/serial.h"

namespace {

using tarvex::platform::kNoSerialPort;
using tarvex::platform::SerialHandle;

constexpr std::uint8_t kFanOff = 0x00;
constexpr unsigned kFailuresBeforeSilence = 3;

}  // namespace

WindSerial::WindSerial()
    : portHandle_(kNoSerialPort),
      running_(false),
      paused_(false),
      initialised_(false),
      loopLeft_(true),
      intervalMs_(15),
      baud_(0),
      failCount_(0) {}

WindSerial::~WindSerial() { stop(); }

bool WindSerial::init(const std::string& port, int baud, const std::string& mode, unsigned int intervalMs) {
  std::lock_guard<std::mutex> guard(controlLock_);
  intervalMs_ = intervalMs;
  if (!tarvex::platform::dosDeviceExists(port)) {
    initialised_ = false;
    return false;
  }
  portName_ = port;
  baud_ = baud;
  mode_ = mode;
  initialised_ = true;
  failCount_ = 0;
  return true;
}

void WindSerial::start() {
  std::lock_guard<std::mutex> guard(controlLock_);
  if (!initialised_.load() || running_.load() || failCount_ >= kFailuresBeforeSilence) return;
  const auto fail = [this] {
    if (portHandle_ != kNoSerialPort) tarvex::platform::closeSerialPort(portHandle_);
    portHandle_ = kNoSerialPort;
    running_ = false;
    ++failCount_;
  };
  portHandle_ = tarvex::platform::openSerialPortByName(portName_);
  if (portHandle_ == kNoSerialPort) {
    fail();
    return;
  }
  if (!configurePort(baud_, mode_) || !tarvex::platform::writeSerial(portHandle_, &kFanOff, 1)) {
    fail();
    return;
  }
  paused_ = false;
  running_ = true;
  loopLeft_ = false;
  try {
    sendingThread_ = std::thread([this] { sendingThreadFunc(); });
  } catch (const std::system_error&) {
    fail();
    throw;
  }
}

void WindSerial::pause() {
  std::lock_guard<std::mutex> guard(controlLock_);
  if (portHandle_ != kNoSerialPort) tarvex::platform::writeSerial(portHandle_, &kFanOff, 1);
  paused_ = true;
}

void WindSerial::unpause() { paused_ = false; }

void WindSerial::stop() {
  std::lock_guard<std::mutex> guard(controlLock_);
  if (portHandle_ != kNoSerialPort) tarvex::platform::writeSerial(portHandle_, &kFanOff, 1);
  running_ = false;
  failCount_ = 0;
  // From the sending thread itself this raises the deadlock error. Under the
  // loader lock (Windows, unloading the DLL) the thread is let go once it has
  // left its loop.
  tarvex::platform::endThread(sendingThread_, loopLeft_, std::chrono::milliseconds(500 + intervalMs_.load()));
  if (portHandle_ != kNoSerialPort) tarvex::platform::closeSerialPort(portHandle_);
  portHandle_ = kNoSerialPort;
}

bool WindSerial::isRunning() const { return running_.load(); }

bool WindSerial::isInit() const { return initialised_.load(); }

void WindSerial::updateBuffer(const std::vector<unsigned char>& bytes) {
  std::lock_guard<std::mutex> guard(bufferLock_);
  if (&bytes == &buffer_) return;
  buffer_.assign(bytes.begin(), bytes.end());  // keeps the capacity it has
}

bool WindSerial::configurePort(int baud, const std::string& mode) {
  using tarvex::platform::Parity;
  tarvex::platform::LineSettings line;
  if (!tarvex::platform::readLineSettings(portHandle_, line)) return false;
  line.baud = static_cast<std::uint32_t>(baud);
  line.dataBits = 8;
  line.parity = Parity::none;
  line.stopBits = 1;
  if (mode.size() != 3) return false;
  line.dataBits = mode[0] - '0';
  switch (mode[1]) {
    case 'E': case 'e': line.parity = Parity::even; break;
    case 'N': case 'n': line.parity = Parity::none; break;
    case 'O': case 'o': line.parity = Parity::odd; break;
    default: return false;
  }
  switch (mode[2]) {
    case '1': line.stopBits = 1; break;
    case '2': line.stopBits = 2; break;
    default: return false;
  }
  if (!tarvex::platform::writeLineSettings(portHandle_, line)) return false;
  tarvex::platform::SerialTimeouts timeouts;
  timeouts.readIntervalMs = 50;
  timeouts.readMultiplierMs = 10;
  timeouts.readConstantMs = 50;
  timeouts.writeMultiplierMs = 10;
  timeouts.writeConstantMs = 50;
  tarvex::platform::setSerialTimeouts(portHandle_, timeouts);
  return true;
}

void WindSerial::sendingThreadFunc() {
  try {
    while (running_.load()) {
      bool have = false;
      unsigned char byte = 0;
      {
        std::lock_guard<std::mutex> guard(bufferLock_);
        if (!buffer_.empty()) {
          byte = buffer_.front();
          buffer_.erase(buffer_.begin());
          have = true;
        }
      }
      if (have && !paused_.load()) tarvex::platform::writeSerial(portHandle_, &byte, 1);
      const unsigned interval = intervalMs_.load();
      if (interval != 0) tarvex::platform::sleepFor(std::chrono::milliseconds(interval));
    }
  } catch (...) {
    // A lock the system refused: the fan gets no more bytes until the next
    // start, and the host process lives on.
    tarvex::DiagnosticLog log;
    log.error("Wind fan: the sending thread ended by an unexpected error.");
  }
  loopLeft_ = true;
  tarvex::platform::leaveThreadAtUnload();
}
