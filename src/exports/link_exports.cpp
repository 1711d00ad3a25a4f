// The device messaging exports: the serial link loop, the message queues
// and the controller's connection state. Each forwards to the library's
// DeviceLink; no exception leaves this file.
#include "tarvex/tarvex.h"

#include "device/device_link.h"
#include "device/link_loop.h"
#include "device/port_enumeration.h"
#include "exports/guarded.h"

namespace {

using tarvex::deviceLink;
using tarvex::exports::guarded;

}  // namespace

extern "C" {

int startTarvex_Thread(void) {
  return guarded(0, [] { return tarvex::runLinkThread(deviceLink()); });
}

void stopTarvex_Thread(void) {
  guarded(0, [] {
    tarvex::stopLinkThread(deviceLink());
    return 0;
  });
}

int sendMessagemmf(const unsigned char* message, int length) {
  return guarded(-1, [=] { return deviceLink().sendMessage(message, length); });
}

unsigned int readMessagemmf(unsigned char* buffer) {
  return guarded(0u, [=] { return deviceLink().readMessage(buffer); });
}

int newMessagemmf(void) {
  return guarded(0, [] { return deviceLink().newMessage(); });
}

int autoMessagemmf(const unsigned char* message) {
  return guarded(0, [=] { return deviceLink().autoMessage(message); });
}

int isConnected(void) { return deviceLink().isConnected(); }

int isInterfaceRunning(void) { return deviceLink().flags.interfaceRunning.load(); }

int pauseInterface(void) {
  return guarded(1, [] { return tarvex::pauseInterface(deviceLink()); });
}

int resumeInterface(void) {
  return guarded(0, [] { return tarvex::resumeInterface(deviceLink()); });
}

int enableAutoconnect(void) {
  deviceLink().flags.autoconnect = 1;
  return 1;
}

int disableAutoconnect(void) {
  deviceLink().flags.autoconnect = 0;
  return 1;
}

int setStandartPort(const char* port) {
  int number = 0;
  if (tarvex::parseStandardPort(port, number) == 0) return 0;
  deviceLink().flags.standardPort = number;
  return 1;
}

double getOutputTimeFrame(void) { return deviceLink().linkStopwatch.lastLapMs(); }

}  // extern "C"
