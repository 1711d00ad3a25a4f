// The serial port of the motion controller and the exception its calls raise.
//
// The library has one port object (in DeviceLink). Every operation takes
// the port's lock, so that a handle closed by one thread (pauseInterface,
// the link loop after an error) is never used by another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>

#include "common/clock.h"
#include "platform/serial.h"

namespace tarvex {

// A failed serial call, with the system's error code (a Windows error code
// on Windows, errno on Linux).
class CSerialException : public std::exception {
 public:
  explicit CSerialException(std::uint32_t error) noexcept : m_dwError(error) {}
  ~CSerialException() override = default;
  // The same text on every platform: the exception carries a code, no message.
  const char* what() const noexcept override { return "Unknown exception"; }
  // Copies the system's text for the code into `buffer` (truncated to
  // `capacity` characters with the terminator) and returns 1; an empty
  // buffer and 0 when the system has no text. *helpContext is set to 0.
  virtual int GetErrorMessage(wchar_t* buffer, unsigned capacity, unsigned* helpContext = nullptr) const;

  std::uint32_t m_dwError;
};

// Raises CSerialException with the calling thread's last system error.
[[noreturn]] void throwSerialError();

class CSerialPort2 {
 public:
  CSerialPort2() = default;
  CSerialPort2(const CSerialPort2&) = delete;
  CSerialPort2& operator=(const CSerialPort2&) = delete;
  virtual ~CSerialPort2();

  bool isOpen() const;

  // Each raises CSerialException on failure, or when the port is not open.
  void write(const std::uint8_t* data, std::size_t length);
  std::uint32_t bytesWaiting();
  std::uint32_t read(std::uint8_t* buffer, std::uint32_t length);
  void clearInput();

  // Opens COMn with the motion controller's line settings, time-outs and
  // queue sizes; 1 when open and configured, 0 otherwise (with the console
  // line "Serialexception when open port. , Error:%u"). After a 0 the port
  // may still be open; the caller closes it.
  int openPort(int port, Clock& clock);
  void close() noexcept;
  // Closes the port unless another thread is inside a port call (at process
  // exit that thread may be gone with the lock held).
  void closeAtExit() noexcept;

 protected:
  mutable std::mutex lock_;
  platform::SerialHandle handle_ = platform::kNoSerialPort;
};

class CSerialPort : public CSerialPort2 {};

inline constexpr std::uint32_t kSerialBaud = 250000;
inline constexpr std::uint32_t kSerialTimeoutMs = 10000;
inline constexpr std::uint32_t kSerialQueueBytes = 40960;

}  // namespace tarvex
