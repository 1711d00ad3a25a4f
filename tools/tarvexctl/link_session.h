// The device link as tarvexctl drives it: the link loop on a thread of its
// own, a connection on the standard port or by scanning, and a short text
// for the live line.
#pragma once

#include <string>
#include <thread>

#include "tarvex_api.h"

namespace tarvexctl {

class LinkSession {
 public:
  explicit LinkSession(const TarvexApi& tv) : tv_(tv) {}
  ~LinkSession() { stop(); }

  // Starts the loop; with a port ("COM9") connects there, else scans.
  // False when the standard-port connection failed (the loop keeps running).
  bool start(const std::string& port);
  // The network transport instead: the UDP listen thread and the multicast
  // sender (both end with stop()).
  void startNetwork();
  void stop();

  // "connected", "searching" or "paused", the link cycle and the messages
  // received from the controller so far.
  std::string describe();
  long long received() const { return received_; }

 private:
  const TarvexApi& tv_;
  std::thread loop_;
  bool network_ = false;
  long long received_ = 0;
};

// The last output frame's six degrees of freedom, belt and wind.
struct FrameView {
  float dof[6] = {};
  unsigned belt = 0, wind = 0;
};
FrameView lastOutputFrame(const TarvexApi& tv);

}  // namespace tarvexctl
