// A real COM port with a controller behind it, when the machine has one:
// TARVEX_TEST_COM_PORT names its number (under Wine, a dosdevices/comN link
// to a pty of tarvex-controller). Skipped otherwise.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/device_link.h"
#include "device/port_enumeration.h"
#include "platform/serial.h"
#include "platform/system_error.h"

namespace tarvex {
namespace {

int testPort() {
  const char* text = std::getenv("TARVEX_TEST_COM_PORT");
  return text != nullptr ? std::atoi(text) : 0;
}

TEST(ComPort, OpensAndIdentifiesTheController) {
  const int port = testPort();
  if (port <= 0) GTEST_SKIP() << "TARVEX_TEST_COM_PORT is not set";
  std::vector<std::uint32_t> ports;
  const bool listed = CEnumerateSerial::UsingQueryDosDevice(ports);
  std::printf("port list (%s):", listed ? "ok" : "failed");
  for (auto p : ports) std::printf(" COM%u", p);
  std::printf("\nUSB id of COM%d known: %s\n", port, checkUsbId("COM" + std::to_string(port)) ? "yes" : "no");

  // Each step of opening on its own, to see what the system supports.
  const bool exists = platform::serialPortExists(port);
  std::printf("default configuration of COM%d: %s (error %u)\n", port, exists ? "yes" : "no",
              exists ? 0u : platform::lastSystemError());
  const platform::SerialHandle h = platform::openSerialPort(port);
  std::printf("open with line settings: %s (error %u)\n", h != platform::kNoSerialPort ? "yes" : "no",
              h != platform::kNoSerialPort ? 0u : platform::lastSystemError());
  ASSERT_NE(h, platform::kNoSerialPort);
  auto step = [](const char* what, bool ok) {
    std::printf("%s: %s (error %u)\n", what, ok ? "yes" : "no", ok ? 0u : platform::lastSystemError());
    return ok;
  };
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
  EXPECT_EQ(got, 8u);
  if (!modem) GTEST_SKIP() << "the port has no modem status (a pty under Wine): openPort refuses it";

  DeviceLink link;
  ASSERT_EQ(link.port.openPort(port, link.clock), 1);
  link.port.clearInput();
  link.port.write(request, 8);
  std::uint8_t answer[8] = {};
  ASSERT_EQ(link.port.read(answer, 8), 8u);
  EXPECT_EQ(std::memcmp(answer, kReply1, 8), 0);
  waiting = 0;
  EXPECT_NO_THROW(waiting = link.port.bytesWaiting());
  std::printf("bytes waiting after the reply: %u\n", waiting);
  link.closePort();
}

}  // namespace
}  // namespace tarvex
