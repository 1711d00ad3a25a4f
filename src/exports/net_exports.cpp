// The network transport's exports and the wind fan's: each forwards to the
// part that owns it; no exception leaves this file.
#include "tarvex/tarvex.h"

#include "device/device_link.h"
#include "engine/engine.h"
#include "exports/guarded.h"
#include "net/network_threads.h"
#include "net/udp_settings.h"
#include "wind/wind_output.h"

namespace {

using tarvex::deviceLink;
using tarvex::exports::guarded;

}  // namespace

extern "C" {

void startUPDListenThread(void) {
  guarded([] { tarvex::startListenThread(deviceLink()); });
}

void startUPDMulticastSenderThread(void) {
  guarded([] { tarvex::startMulticastSenderThread(deviceLink()); });
}

void setUDPport(unsigned short port) { tarvex::setUdpListenPort(port); }

void setMulticastAddr(const char* address) { tarvex::setMulticastAddress(address); }

bool initWindSerial(const wchar_t* port, int baud, const wchar_t* mode, unsigned int intervalMs) {
  return guarded(false, [=] { return tarvex::initWindSerial(tarvex::engine().windSerial(), port, baud, mode, intervalMs); });
}

}  // extern "C"
