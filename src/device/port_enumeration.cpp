#include "device/port_enumeration.h"

#include <cctype>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/device_link.h"
#include "platform/serial.h"
#include "platform/system_error.h"

namespace tarvex {

namespace {

using std::chrono::milliseconds;

void say(const char* line) {
  std::fputs(line, stdout);
  std::fflush(stdout);
}

void sayError(const char* format, std::uint32_t code) {
  std::printf(format, code);
  std::fflush(stdout);
}

bool sameBytes(const std::uint8_t* a, const std::uint8_t* b) { return std::memcmp(a, b, 8) == 0; }

}  // namespace

std::vector<std::uint32_t> comPortNumbers(const std::vector<std::string>& names) {
  std::vector<std::uint32_t> ports;
  for (const std::string& name : names) {
    if (name.size() <= 3) continue;
    bool com = true;
    for (int i = 0; i < 3; ++i)
      com = com && std::toupper(static_cast<unsigned char>(name[i])) == "COM"[i];
    bool digits = true;
    for (std::size_t i = 3; i < name.size(); ++i)
      digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
    if (com && digits) ports.push_back(static_cast<std::uint32_t>(std::strtoul(name.c_str() + 3, nullptr, 10)));
  }
  return ports;
}

bool CEnumerateSerial::UsingQueryDosDevice(std::vector<std::uint32_t>& ports) {
  ports.clear();
  std::vector<std::string> names;
  if (!platform::listDosDeviceNames(names)) return false;
  ports = comPortNumbers(names);
  return true;
}

bool checkUsbId(const std::string& portName) {
  std::vector<platform::ComPortDevice> devices;
  if (!platform::listComPortDevices(devices)) return false;
  for (const platform::ComPortDevice& device : devices) {
    if (device.friendlyName.find(portName) == std::string::npos) continue;
    for (const char* id : kKnownUsbIds) {
      if (device.hardwareId.find(id) != std::string::npos) return true;
    }
    say("vid wrong \n\r");
  }
  return false;
}

int connectStandardPort(DeviceLink& link) {
  if (link.flags.serialConnected.load() != 0) return 0;
  link.clock.sleepFor(milliseconds(5));
  const int port = link.flags.standardPort.load();
  if (!checkUsbId("COM" + std::to_string(port))) {
    say("fail vid..");
    return 0;
  }
  bool failed = link.port.openPort(port, link.clock) == 0;
  if (!failed) {
    try {
      say("opened..");
      link.clock.sleepFor(milliseconds(15));
      link.port.clearInput();
      link.port.write(kIdentificationRequest, sizeof kIdentificationRequest);
      link.port.write(kIdentificationRequest, sizeof kIdentificationRequest);
      std::uint8_t answer[8] = {};
      if (link.port.read(answer, 8) != 8) {
        failed = true;
      } else if (!sameBytes(answer, kReply1)) {
        say(".. wrong id");
        link.closePort();
        return 0;
      } else {
        say("..id correct. \n");
        link.flags.serialConnected = 1;
        return 1;
      }
    } catch (const CSerialException& e) {
      platform::setLastSystemError(e.m_dwError);
      say("Error port open..");
      failed = true;
    }
  }
  const std::uint32_t error = platform::lastSystemError();
  link.closePort();
  sayError("Serialexception when open port. , Error:%u\n", error);
  link.clock.sleepFor(milliseconds(15));
  return 0;
}

void scanPorts(DeviceLink& link) {
  link.clock.sleepFor(milliseconds(50));
  std::vector<std::uint32_t> ports;
  if (!CEnumerateSerial::UsingQueryDosDevice(ports)) {
    sayError("CEnumerateSerial::UsingQueryDosDevice failed, Error:%u\n", platform::lastSystemError());
    return;
  }
  link.clock.sleepFor(milliseconds(50));
  for (std::uint32_t port : ports) sayError("COM%u ", port);
  std::fflush(stdout);

  for (std::uint32_t port : ports) {
    link.clock.sleepFor(milliseconds(200));
    const LinkFlags& f = link.flags;
    if (f.linkRunning.load() == 0 || f.interfaceRunning.load() == 0 || f.autoconnect.load() == 0) return;
    if (!checkUsbId("COM" + std::to_string(port))) continue;
    if (link.port.openPort(static_cast<int>(port), link.clock) == 0) {
      const std::uint32_t error = platform::lastSystemError();
      link.closePort();
      sayError("Serialexception , Error:%u\n", error);
      continue;
    }
    try {
      link.port.clearInput();
      link.port.write(kIdentificationRequest, sizeof kIdentificationRequest);
      link.port.write(kIdentificationRequest, sizeof kIdentificationRequest);
      link.clock.sleepFor(milliseconds(10));
      const std::uint32_t waiting = link.port.bytesWaiting();
      if (waiting >= 8) {
        std::uint8_t discard[256];
        for (std::uint32_t left = waiting - 8; left > 0;) {
          const std::uint32_t chunk = left < sizeof discard ? left : sizeof discard;
          const std::uint32_t got = link.port.read(discard, chunk);
          if (got == 0) break;
          left -= got;
        }
        std::uint8_t answer[8] = {};
        if (link.port.read(answer, 8) != 8) {
          link.closePort();
          return;
        }
        if (sameBytes(answer, kReply1) || sameBytes(answer, kReply1Checked) || sameBytes(answer, kReply2) ||
            sameBytes(answer, kReply2Checked)) {
          link.flags.serialConnected = 1;
          link.sendMessage(kAfterScan1, sizeof kAfterScan1);
          link.sendMessage(kAfterScan2, sizeof kAfterScan2);
          return;
        }
      }
    } catch (const CSerialException& e) {
      platform::setLastSystemError(e.m_dwError);
      sayError("Serialexception , Error:%u\n", e.m_dwError);
    }
    const std::uint32_t error = platform::lastSystemError();
    link.closePort();
    sayError("Serialexception , Error:%u\n", error);
  }
}

int parseStandardPort(const char* text, int& port) {
  if (text == nullptr) return 0;
  const char* com = std::strstr(text, "COM");
  if (com == nullptr) return 0;
  // atoi's rules, without its undefined overflow: out-of-range text saturates.
  const long value = std::strtol(com + 3, nullptr, 10);
  port = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
  return 1;
}

}  // namespace tarvex
