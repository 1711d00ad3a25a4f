#include "device/serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/system_error.h"

namespace tarvex {

int CSerialException::GetErrorMessage(wchar_t* buffer, unsigned capacity, unsigned* helpContext) const {
  if (helpContext != nullptr) *helpContext = 0;
  if (buffer == nullptr || capacity == 0) return 0;
  std::wstring text;
  if (!platform::systemErrorText(m_dwError, text) || text.empty()) {
    buffer[0] = L'\0';
    return 0;
  }
  const std::size_t n = std::min<std::size_t>(text.size(), capacity - 1);
  std::copy_n(text.begin(), n, buffer);
  buffer[n] = L'\0';
  return 1;
}

void throwSerialError() { throw CSerialException(platform::lastSystemError()); }

namespace {

[[noreturn]] void throwNotOpen() { throw CSerialException(platform::invalidHandleError()); }

}  // namespace

CSerialPort2::~CSerialPort2() { close(); }

bool CSerialPort2::isOpen() const {
  std::lock_guard<std::mutex> guard(lock_);
  return handle_ != platform::kNoSerialPort;
}

void CSerialPort2::close() noexcept {
  std::lock_guard<std::mutex> guard(lock_);
  if (handle_ == platform::kNoSerialPort) return;
  platform::closeSerialPort(handle_);
  handle_ = platform::kNoSerialPort;
}

void CSerialPort2::closeAtExit() noexcept {
  std::unique_lock<std::mutex> guard(lock_, std::try_to_lock);
  if (!guard.owns_lock() || handle_ == platform::kNoSerialPort) return;
  platform::closeSerialPort(handle_);
  handle_ = platform::kNoSerialPort;
}

void CSerialPort2::write(const std::uint8_t* data, std::size_t length) {
  std::lock_guard<std::mutex> guard(lock_);
  if (handle_ == platform::kNoSerialPort) throwNotOpen();
  if (!platform::writeSerial(handle_, data, length)) throwSerialError();
}

std::uint32_t CSerialPort2::bytesWaiting() {
  std::lock_guard<std::mutex> guard(lock_);
  if (handle_ == platform::kNoSerialPort) throwNotOpen();
  std::uint32_t count = 0;
  if (!platform::serialBytesWaiting(handle_, count)) throwSerialError();
  return count;
}

std::uint32_t CSerialPort2::read(std::uint8_t* buffer, std::uint32_t length) {
  std::lock_guard<std::mutex> guard(lock_);
  if (handle_ == platform::kNoSerialPort) throwNotOpen();
  std::uint32_t got = 0;
  if (!platform::readSerial(handle_, buffer, length, got)) throwSerialError();
  return got;
}

void CSerialPort2::clearInput() {
  std::lock_guard<std::mutex> guard(lock_);
  if (handle_ == platform::kNoSerialPort) throwNotOpen();
  if (!platform::purgeSerialInput(handle_)) throwSerialError();
}

int CSerialPort2::openPort(int port, Clock& clock) {
  try {
    if (!platform::serialPortExists(port)) throwSerialError();
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (handle_ != platform::kNoSerialPort) {
        platform::closeSerialPort(handle_);
        handle_ = platform::kNoSerialPort;
      }
      handle_ = platform::openSerialPort(port);
      if (handle_ == platform::kNoSerialPort) throwSerialError();
    }
    clock.sleepFor(std::chrono::milliseconds(5));
    std::lock_guard<std::mutex> guard(lock_);
    if (handle_ == platform::kNoSerialPort) throwNotOpen();  // closed meanwhile
    if (!platform::readModemStatus(handle_)) throwSerialError();
    if (!platform::clearSerialErrors(handle_)) throwSerialError();
    if (!platform::setSerialTimeouts(handle_, kSerialTimeoutMs, kSerialTimeoutMs)) throwSerialError();
    if (!platform::setSerialQueueSizes(handle_, kSerialQueueBytes, kSerialQueueBytes)) throwSerialError();
    return 1;
  } catch (const CSerialException& e) {
    platform::setLastSystemError(e.m_dwError);
    std::printf("Serialexception when open port. , Error:%u\n", e.m_dwError);
    std::fflush(stdout);
    return 0;
  }
}

}  // namespace tarvex
