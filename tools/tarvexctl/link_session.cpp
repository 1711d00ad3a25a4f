#include "link_session.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace tarvexctl {

bool LinkSession::start(const std::string& port) {
  loop_ = std::thread([this] { tv_.startTarvex_Thread(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (port.empty()) {
    tv_.enableAutoconnect();
    tv_.resumeInterface();
    return true;
  }
  tv_.disableAutoconnect();
  if (tv_.setStandartPort(port.c_str()) == 0) {
    std::fprintf(stderr, "tarvexctl: '%s' names no COM port\n", port.c_str());
    return false;
  }
  return tv_.resumeInterface() == 1;
}

void LinkSession::startNetwork() {
  network_ = true;
  tv_.startUPDListenThread();
  tv_.startUPDMulticastSenderThread();
}

void LinkSession::stop() {
  if (network_) tv_.stopTarvex_Thread();
  network_ = false;
  if (!loop_.joinable()) return;
  tv_.stopTarvex_Thread();
  loop_.join();
}

std::string LinkSession::describe() {
  unsigned char buffer[4096];
  while (tv_.newMessagemmf() == 1 && tv_.readMessagemmf(buffer) > 0) ++received_;
  const char* state = tv_.isInterfaceRunning() == 0 ? "paused" : tv_.isConnected() == 1 ? "connected" : "searching";
  char text[96];
  std::snprintf(text, sizeof text, "link %-9s %5.2f ms rx %lld", state, tv_.getOutputTimeFrame(), received_);
  return text;
}

FrameView lastOutputFrame(const TarvexApi& tv) {
  unsigned char f[36] = {};
  tv.getOutputData(f);
  FrameView view;
  for (int k = 0; k < 6; ++k) {
    unsigned bits = 0;
    for (int i = 3; i >= 0; --i) bits = bits << 8 | f[2 + 4 * k + i];
    std::memcpy(&view.dof[k], &bits, sizeof bits);
  }
  view.belt = static_cast<unsigned>(f[26]) << 24 | f[27] << 16 | f[28] << 8 | f[29];
  view.wind = static_cast<unsigned>(f[30]) << 24 | f[31] << 16 | f[32] << 8 | f[33];
  return view;
}

}  // namespace tarvexctl
