// Serial ports on Windows: "\\.\COMn" opened synchronously, DCB, COMMTIMEOUTS
// and driver queue sizes; QueryDosDeviceW and SetupAPI for the listing.
#include "platform/serial.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace tarvex::platform {

namespace {

// The COM-port device interface class, {86E0D1E0-8089-11D0-9CE4-08003E301F73}.
const GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

HANDLE handleOf(SerialHandle handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

bool serialPortExists(int port) {
  wchar_t name[32];
  std::swprintf(name, 32, L"COM%d", port);
  // The configuration record as the device control block's driver reports it.
  alignas(COMMCONFIG) unsigned char record[52] = {};
  auto* config = reinterpret_cast<COMMCONFIG*>(record);
  DWORD size = sizeof record;
  config->dwSize = sizeof record;
  return GetDefaultCommConfigW(name, config, &size) != FALSE;
}

SerialHandle openSerialPort(int port) {
  wchar_t name[32];
  std::swprintf(name, 32, L"\\\\.\\COM%d", port);
  HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoSerialPort;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) {
    const DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return kNoSerialPort;
  }
  dcb.BaudRate = 250000;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  if (!SetCommState(h, &dcb)) {
    const DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return kNoSerialPort;
  }
  return reinterpret_cast<SerialHandle>(h);
}

void closeSerialPort(SerialHandle handle) noexcept {
  if (handle != kNoSerialPort) CloseHandle(handleOf(handle));
}

bool readModemStatus(SerialHandle handle) {
  DWORD status = 0;
  return GetCommModemStatus(handleOf(handle), &status) != FALSE;
}

bool clearSerialErrors(SerialHandle handle) {
  static COMSTAT status;  // filled, not used
  DWORD errors = 0;
  return ClearCommError(handleOf(handle), &errors, nullptr) != FALSE &&
         ClearCommError(handleOf(handle), &errors, &status) != FALSE;
}

bool setSerialTimeouts(SerialHandle handle, std::uint32_t readTotalMs, std::uint32_t writeTotalMs) {
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(handleOf(handle), &timeouts)) return false;
  timeouts.ReadTotalTimeoutConstant = readTotalMs;
  timeouts.WriteTotalTimeoutConstant = writeTotalMs;
  return SetCommTimeouts(handleOf(handle), &timeouts) != FALSE;
}

bool setSerialQueueSizes(SerialHandle handle, std::uint32_t input, std::uint32_t output) {
  return SetupComm(handleOf(handle), input, output) != FALSE;
}

bool writeSerial(SerialHandle handle, const std::uint8_t* data, std::size_t length) {
  DWORD written = 0;
  if (!WriteFile(handleOf(handle), data, static_cast<DWORD>(length), &written, nullptr)) return false;
  if (written != length) {
    SetLastError(ERROR_WRITE_FAULT);  // the write time-out ran out
    return false;
  }
  return true;
}

bool serialBytesWaiting(SerialHandle handle, std::uint32_t& count) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handleOf(handle), &errors, &status)) return false;
  count = status.cbInQue;
  return true;
}

bool readSerial(SerialHandle handle, std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) {
  DWORD got = 0;
  const BOOL ok = ReadFile(handleOf(handle), buffer, length, &got, nullptr);
  read = got;
  return ok != FALSE;
}

bool purgeSerialInput(SerialHandle handle) { return PurgeComm(handleOf(handle), PURGE_RXCLEAR) != FALSE; }

bool listDosDeviceNames(std::vector<std::string>& names) {
  names.clear();
  std::vector<wchar_t> buffer(4096);
  for (;;) {
    const DWORD n = QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n != 0) break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.resize(buffer.size() * 2);
  }
  for (const wchar_t* p = buffer.data(); *p != L'\0'; p += std::wcslen(p) + 1) {
    std::string name;
    for (const wchar_t* c = p; *c != L'\0'; ++c) name.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    names.push_back(name);
  }
  return true;
}

bool listComPortDevices(std::vector<ComPortDevice>& devices) {
  devices.clear();
  HDEVINFO set = SetupDiGetClassDevsA(&kComPortInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  for (DWORD index = 0; index < 6000; ++index) {
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    if (!SetupDiEnumDeviceInfo(set, index, &info)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
      continue;
    }
    char buffer[1024];
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1, nullptr))
      continue;
    buffer[sizeof buffer - 1] = '\0';
    ComPortDevice device;
    device.friendlyName = buffer;
    // A hardware id is a list of strings; each is searched.
    char ids[1024] = {};
    if (SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                          sizeof ids - 2, nullptr)) {
      for (const char* p = ids; p < ids + sizeof ids && *p != '\0'; p += std::strlen(p) + 1) {
        device.hardwareId += p;
        device.hardwareId += ' ';
      }
    }
    devices.push_back(device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return true;
}

}  // namespace tarvex::platform

// --- ports opened by name ---------------------------------------------------------

namespace tarvex::platform {

bool dosDeviceExists(const std::string& name) {
  char target[256];
  return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

SerialHandle openSerialPortByName(const std::string& name) {
  const std::string path = "\\\\.\\" + name;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? kNoSerialPort : reinterpret_cast<SerialHandle>(h);
}

bool readLineSettings(SerialHandle handle, LineSettings& settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handleOf(handle), &dcb)) return false;
  settings.baud = dcb.BaudRate;
  settings.dataBits = dcb.ByteSize;
  settings.parity = dcb.Parity == EVENPARITY ? Parity::even : dcb.Parity == ODDPARITY ? Parity::odd : Parity::none;
  settings.stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
  return true;
}

bool writeLineSettings(SerialHandle handle, const LineSettings& settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handleOf(handle), &dcb)) return false;
  dcb.BaudRate = settings.baud;
  dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
  dcb.Parity = settings.parity == Parity::even ? EVENPARITY : settings.parity == Parity::odd ? ODDPARITY : NOPARITY;
  dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  return SetCommState(handleOf(handle), &dcb) != FALSE;
}

bool setSerialTimeouts(SerialHandle handle, const SerialTimeouts& t) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = t.readIntervalMs;
  timeouts.ReadTotalTimeoutMultiplier = t.readMultiplierMs;
  timeouts.ReadTotalTimeoutConstant = t.readConstantMs;
  timeouts.WriteTotalTimeoutMultiplier = t.writeMultiplierMs;
  timeouts.WriteTotalTimeoutConstant = t.writeConstantMs;
  return SetCommTimeouts(handleOf(handle), &timeouts) != FALSE;
}

}  // namespace tarvex::platform
