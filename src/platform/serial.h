// Serial port service: one motion-controller port opened by COM number,
// synchronous byte I/O, and the listing of the system's COM ports with their
// USB ids.
//
// Every call that fails returns false (or kNoSerialPort) and leaves the
// reason in lastSystemError() (platform/system_error.h).
//
// Windows: "\\.\COMn" through CreateFileW, DCB, COMMTIMEOUTS, SetupComm,
// PurgeComm, ClearCommError; QueryDosDeviceW and SetupDi* on the COM-port
// interface class for the listing.
//
// Linux: COM numbers map to device nodes the way Wine maps them, so a port
// has the same number for a Windows host under Wine and a native one:
//   COM1..COM32   /dev/ttyS0..31
//   COM33..COM64  /dev/ttyUSB0..31
//   COM65..COM96  /dev/ttyACM0..31
// The environment variable TARVEX_COM_MAP adds or replaces entries:
//   TARVEX_COM_MAP="COM9=/path/to/node,1A86:7523;COM10=/dev/ttyUSB3"
// each an optional USB vendor:product id (hex) after the node; a mapped node
// is listed, and reports that id, whatever sysfs says (tests and the demo
// put a pty there). USB ids of the other nodes come from sysfs (idVendor and
// idProduct of the USB device above /sys/class/tty/NAME/device);
// TARVEX_SYSFS_ROOT replaces "/sys" for tests. Only nodes that can carry a
// USB id (ttyUSB, ttyACM, mapped ones) are listed: ttyS ports open by
// number but no USB motion controller can sit there.
// The line runs at 250000 baud through the arbitrary-rate interface
// (termios2, BOTHER), raw 8N1 without flow control; the port is taken
// exclusively (TIOCEXCL and an advisory lock). Modem status and error
// clearing have no Linux counterpart for ptys and succeed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::platform {

using SerialHandle = std::intptr_t;
inline constexpr SerialHandle kNoSerialPort = -1;

// The system knows a serial device named COMn (Windows asks for its default
// configuration).
bool serialPortExists(int port);

// Opens COMn exclusively for reading and writing and applies 250000 baud,
// 8 data bits, no parity, one stop bit, no flow control. On failure the port
// is closed again and the error code kept.
SerialHandle openSerialPort(int port);

void closeSerialPort(SerialHandle handle) noexcept;

bool readModemStatus(SerialHandle handle);
// Clears the port's error state (twice: without and with a status record).
bool clearSerialErrors(SerialHandle handle);
// Total read and write time-outs in milliseconds; the other fields as the
// driver has them.
bool setSerialTimeouts(SerialHandle handle, std::uint32_t readTotalMs, std::uint32_t writeTotalMs);
bool setSerialQueueSizes(SerialHandle handle, std::uint32_t input, std::uint32_t output);

// One synchronous write of the whole range (bounded by the write time-out).
bool writeSerial(SerialHandle handle, const std::uint8_t* data, std::size_t length);
// Bytes waiting in the input queue. Fails when the device is gone.
bool serialBytesWaiting(SerialHandle handle, std::uint32_t& count);
// Reads up to `length` bytes, waiting at most the read time-out for all of them.
bool readSerial(SerialHandle handle, std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read);
bool purgeSerialInput(SerialHandle handle);

// The DOS device names of the system ("COM3", "LPT1", ...), in its order.
bool listDosDeviceNames(std::vector<std::string>& names);

struct ComPortDevice {
  std::string friendlyName;  // e.g. "USB-SERIAL CH340 (COM7)"
  std::string hardwareId;    // e.g. "USB\VID_1A86&PID_7523&REV_0254"
};
// The present devices of the COM-port interface class, in the system's
// order; false when the set cannot be had.
bool listComPortDevices(std::vector<ComPortDevice>& devices);

// --- ports opened by name (the wind fan) --------------------------------------

// The system has a device of this DOS name ("COM3"). Windows asks
// QueryDosDeviceA; Linux maps COMn (any case) as above and looks for the node.
bool dosDeviceExists(const std::string& name);

// Opens the named port ("\\.\NAME" on Windows) for reading and writing,
// not shared, keeping its line settings. Linux puts the line in raw mode, as
// a Windows port is: every byte passes unchanged.
SerialHandle openSerialPortByName(const std::string& name);

enum class Parity { none, odd, even };

struct LineSettings {
  std::uint32_t baud = 0;
  int dataBits = 8;
  Parity parity = Parity::none;
  int stopBits = 1;  // 1 or 2
};

bool readLineSettings(SerialHandle handle, LineSettings& settings);
// Applies the four settings and keeps every other one the port has. Fails
// for settings the driver refuses (Linux: data bits outside 5..8).
bool writeLineSettings(SerialHandle handle, const LineSettings& settings);

struct SerialTimeouts {
  std::uint32_t readIntervalMs = 0;
  std::uint32_t readMultiplierMs = 0;
  std::uint32_t readConstantMs = 0;
  std::uint32_t writeMultiplierMs = 0;
  std::uint32_t writeConstantMs = 0;
};
// Windows: COMMTIMEOUTS as given. Linux: the totals for a one-byte transfer.
bool setSerialTimeouts(SerialHandle handle, const SerialTimeouts& timeouts);

}  // namespace tarvex::platform
