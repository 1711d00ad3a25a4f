// The serial link loop: every 2 ms it sends the queued host messages and the
// current auto message to the motion controller, reads what the controller
// sent and parses it into device messages, and keeps the port connected.
//
// linkPass() is one cycle without its pacing; runLinkLoop() paces the passes
// and is what startTarvex_Thread runs on the host's thread.
#pragma once

#include "device/device_link.h"

namespace tarvex {

// How a pass ended; it decides what the loop waits before the next one.
enum class LinkPassEnd {
  stopped,       // linkRunning was clear: the loop ends
  idle,          // paused or the network link is live: 100 ms
  disconnected,  // no device (a scan ran when autoconnect is set)
  readFailed,    // the port failed while reading: next pass at once
  cycled,        // sent, received, parsed: pace to 2 ms
};

// Loop start: flags, first lap, an empty fragment assembly.
void beginLinkLoop(DeviceLink& link);
LinkPassEnd linkPass(DeviceLink& link);
void paceLinkLoop(DeviceLink& link, LinkPassEnd end);
// Until linkRunning is cleared.
void runLinkLoop(DeviceLink& link);

// startTarvex_Thread: priorities, the "Kinetra_tx"/"Kinetra_rx" sections,
// the loop until stopped, then the port closed. 1 after the loop ended; 0
// at once when a loop already runs on this link.
int runLinkThread(DeviceLink& link);
// stopTarvex_Thread: clears the run flags and, when the loop runs, waits
// in 1 ms steps until it has ended.
void stopLinkThread(DeviceLink& link);

// pauseInterface / resumeInterface.
int pauseInterface(DeviceLink& link);
int resumeInterface(DeviceLink& link);

inline constexpr const wchar_t* kTxSectionName = L"Kinetra_tx";
inline constexpr const wchar_t* kRxSectionName = L"Kinetra_rx";
inline constexpr std::size_t kLinkSectionSize = 4096;

}  // namespace tarvex
