// Finding the motion controller: the system's COM ports, the USB ids of
// their adapters, and the identification handshake on a port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

class DeviceLink;

class CEnumerateSerial {
 public:
  // Fills `ports` with the numbers of the system's COMn devices, in the
  // order the system lists them; false when the list cannot be had (the
  // reason stays the thread's last system error).
  static bool UsingQueryDosDevice(std::vector<std::uint32_t>& ports);
};

// The COM numbers among DOS device names: "COM" (any case) followed by
// decimal digits only.
std::vector<std::uint32_t> comPortNumbers(const std::vector<std::string>& names);

// USB ids of the adapters the motion controller ships with.
inline constexpr const char* kKnownUsbIds[] = {
    "VID_1A86&PID_7523", "VID_0403&PID_6001", "VID_10C4&PID_EA60",
    "VID_03EB&PID_6124", "VID_0483&PID_5740",
};

// True when a present COM-port device whose friendly name contains
// `portName` (a plain substring test: COM1 also matches COM12) has one of
// the known USB ids in its hardware id.
bool checkUsbId(const std::string& portName);

// Identification on the standard port (the host's thread, resumeInterface):
// 1 when the device answered F9 F9 01 00 01 00 0A 0D.
int connectStandardPort(DeviceLink& link);

// One pass over every COM port (the link loop, while autoconnect is set);
// on success serialConnected is set.
void scanPorts(DeviceLink& link);

// "COM" and the number after it, as the host's text gives them: 1 and the
// number in `port`, or 0 when the text has no "COM".
int parseStandardPort(const char* text, int& port);

inline constexpr std::uint8_t kIdentificationRequest[8] = {0xF9, 0xF9, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x0D};
inline constexpr std::uint8_t kReply1[8] = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};
inline constexpr std::uint8_t kReply1Checked[8] = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x11};
inline constexpr std::uint8_t kReply2[8] = {0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00, 0x0A, 0x0D};
inline constexpr std::uint8_t kReply2Checked[8] = {0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00, 0x88, 0xE1};
inline constexpr std::uint8_t kAfterScan1[8] = {0xF9, 0xF9, 0x04, 0x00, 0x01, 0x00, 0x0A, 0x0D};
inline constexpr std::uint8_t kAfterScan2[8] = {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};

}  // namespace tarvex
