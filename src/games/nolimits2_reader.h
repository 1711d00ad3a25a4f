// NoLimits 2: the reader asks the simulator's telemetry server for every
// frame (TCP, 127.0.0.1:15151) and derives the motion itself: angles from
// the orientation quaternion, angular rates from its change between frames,
// accelerations from the load factors less gravity, speeds by integrating
// the filtered accelerations with a leak and a stillness reset.
//
// read() sends one telemetry request, takes what has arrived without
// waiting, cuts whole messages out of the stream (nolimits2_protocol.h) and
// decodes the newest telemetry reply among them. consume() is the decoding
// of one reply, for the tests.
#pragma once

#include <cstdint>

#include "games/detection.h"
#include "games/game_sources.h"
#include "games/nolimits2_protocol.h"
#include "platform/sockets.h"

namespace tarvex {

struct Quaternion {
  double w = 1, x = 0, y = 0, z = 0;
};

class NoLimits2Reader final : public GameReader {
 public:
  // At most this many receives per read: enough to drain what a few
  // cycles brought, never a loop a flooding server keeps going.
  static constexpr int kReceivesPerRead = 8;

  explicit NoLimits2Reader(std::uint16_t port = kNoLimits2Port) noexcept : port_(port) {}
  ~NoLimits2Reader() override { close(); }

  // The probe: the server answers the idle request. Sets `connected`.
  bool detect() override;
  // Connects to the server (non-blocking). Failures print "Error
  // initializing Winsock" or "Error creating socket" to the error stream.
  bool open() override;
  int read(GameDataRecord& record) override;
  void close() override;

  // Decodes one telemetry reply whose frame interval is already in the
  // record: 1 for a new frame, 0 when the server is not in play, the
  // frame number repeats, or a value is not a finite number.
  int consume(const NoLimits2Telemetry& t, GameDataRecord& record) noexcept;

  int connected = 0;
  // What read() last decoded, and the last frame number taken.
  NoLimits2Telemetry telemetry;
  std::int32_t lastFrame = 0;
  // Kept across frames, and across a close and reopen.
  Quaternion previous{0, 0, 0, 1};
  double filteredAccel[3] = {};   // lateral, longitudinal, vertical
  double integrator[3] = {};
  int stillness[3] = {};
  double filteredRate[3] = {};    // x, y, z
  GameDataRecord previousFrame;

 private:
  std::uint16_t port_;
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  bool socketsStarted_ = false;
  bool sendErrorShown_ = false;
  NoLimits2Framer framer_;
};

}  // namespace tarvex
