// Starting the two network threads (startUPDListenThread and
// startUPDMulticastSenderThread). Each runs detached with a log writer of
// its own until stopTarvex_Thread clears networkRunning.
//
// A start while an older thread of the same kind still runs ends that one
// first (it is told by its generation number and waited for up to half a
// second), so that two listeners never fight for the port and two senders
// never send every message twice.
#pragma once

#include <atomic>

#include "device/device_link.h"

namespace tarvex {

extern std::atomic<unsigned> listenGeneration;
extern std::atomic<unsigned> senderGeneration;

// The listen port is read now. False when the system refused the thread.
bool startListenThread(DeviceLink& link);
bool startMulticastSenderThread(DeviceLink& link);

}  // namespace tarvex
