// tarvex-comprobe: tries a real COM port step by step and says what the
// system allows, then asks the controller behind it to identify itself.
// For a machine with a controller attached, or Wine with a dosdevices/comN
// link to a pty of tarvex-controller.
//
//   tarvex-comprobe N      (the port number, COMN)
// Exit code 0 when the controller answered the identification request.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/port_enumeration.h"
#include "platform/serial.h"
#include "platform/system_error.h"

using namespace tarvex;

namespace {

bool step(const char* what, bool ok) {
  std::printf("%s: %s (error %u)\n", what, ok ? "yes" : "no", ok ? 0u : platform::lastSystemError());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int port = argc == 2 ? std::atoi(argv[1]) : 0;
  if (port <= 0) {
    std::fprintf(stderr, "usage: tarvex-comprobe N   (the number of COMN)\n");
    return 2;
  }
  std::vector<std::uint32_t> ports;
  const bool listed = CEnumerateSerial::UsingQueryDosDevice(ports);
  std::printf("port list (%s):", listed ? "ok" : "failed");
  for (auto p : ports) std::printf(" COM%u", p);
  std::printf("\nUSB id of COM%d known: %s\n", port, checkUsbId("COM" + std::to_string(port)) ? "yes" : "no");

  // Each step of opening on its own, to see what the system supports.
  step("default configuration", platform::serialPortExists(port));
  const platform::SerialHandle h = platform::openSerialPort(port);
  if (!step("open with line settings", h != platform::kNoSerialPort)) return 1;
  const bool modem = step("modem status", platform::readModemStatus(h));
  step("clear errors", platform::clearSerialErrors(h));
  step("time-outs", platform::setSerialTimeouts(h, 2000, 2000));
  step("queue sizes", platform::setSerialQueueSizes(h, 40960, 40960));
  step("purge input", platform::purgeSerialInput(h));
  const std::uint8_t request[8] = {0xF9, 0xF9, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x0D};
  step("write", platform::writeSerial(h, request, 8));
  std::uint8_t reply[8] = {};
  std::uint32_t got = 0;
  step("read", platform::readSerial(h, reply, 8, got));
  std::printf("reply: %u bytes, %s\n", got, std::memcmp(reply, kReply1, 8) == 0 ? "identification" : "other");
  std::uint32_t waiting = 0;
  step("bytes waiting", platform::serialBytesWaiting(h, waiting));
  platform::closeSerialPort(h);
  if (!modem) {
    std::printf("the port has no modem status (a pty under Wine): the link refuses it\n");
    return got == 8 ? 0 : 1;
  }

  // The link's own port class, as the link loop opens it.
  DeviceLink link;
  if (link.port.openPort(port, link.clock) != 1) {
    std::printf("the link's open failed\n");
    return 1;
  }
  std::uint8_t answer[8] = {};
  try {
    link.port.clearInput();
    link.port.write(request, 8);
    got = link.port.read(answer, 8);
  } catch (const CSerialException& e) {
    std::printf("serial error %u\n", e.m_dwError);
  }
  link.closePort();
  const bool identified = got == 8 && std::memcmp(answer, kReply1, 8) == 0;
  std::printf("identification through the link's port: %s\n", identified ? "yes" : "no");
  return identified ? 0 : 1;
}
