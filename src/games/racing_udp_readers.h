// The racing games that send binary UDP telemetry: DiRT Rally 2.0 (20778),
// F1 23 / F1 24 (20777), EA SPORTS WRC (20788), BeamNG.drive (4444) and
// Live for Speed (4123).
//
// Each reader owns its UdpReceiver. read() hands the receiver's datagrams
// to readFrom(), which tests and the fuzzer call with datagrams of their
// own. Every field is checked against the datagram's length before it is
// read; nothing throws, allocates or logs. F1, BeamNG and LFS drain the
// socket on each call (at most kMaxDatagramsPerCall, so that a flood cannot
// hold the 2 ms cycle), so the record holds the newest datagram; DiRT Rally
// 2.0 and WRC take one datagram per call.
//
// Every reader ends a frame with splitGravityIntoLoads: the games send
// accelerations without gravity, the loads are gravity plus them.
#pragma once

#include <cstdint>

#include "common/clock.h"
#include "games/detection.h"
#include "games/game_sources.h"
#include "games/gravity_split.h"
#include "games/udp_receiver.h"

namespace tarvex {

// The datagrams of one read call, as the socket hands them out.
class DatagramFeed {
 public:
  // The next datagram: its byte count, with *data pointing at it; 0 or less
  // when none is waiting.
  virtual int next(const std::uint8_t** data) noexcept = 0;

 protected:
  ~DatagramFeed() = default;
};

// A feed of exactly one datagram (tests, the fuzzer).
class OneDatagram final : public DatagramFeed {
 public:
  OneDatagram(const std::uint8_t* data, int size) noexcept : data_(data), size_(size) {}
  int next(const std::uint8_t** data) noexcept override {
    const int n = size_;
    size_ = 0;
    *data = data_;
    return data_ != nullptr ? n : 0;
  }

 private:
  const std::uint8_t* data_;
  int size_;
};

class UdpRacingReader : public GameReader {
 public:
  static constexpr int kMaxDatagramsPerCall = 256;

  explicit UdpRacingReader(std::uint16_t port, Clock& clock = systemClock()) noexcept
      : GameReader(clock), port(port) {}

  bool detect() override { return receiver.probe(port) == 1; }
  bool open() override;
  int read(GameDataRecord& record) override;
  void close() override { receiver.close(); }

  // One read call on the datagrams `feed` hands out: 1 for a new frame.
  virtual int readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept = 0;
  // One read call with just this datagram.
  int consume(const std::uint8_t* data, int size, GameDataRecord& record) noexcept {
    OneDatagram one(data, size);
    return readFrom(one, record);
  }

  UdpReceiver receiver;
  std::uint16_t port;

 protected:
  // Hands each waiting datagram (at most kMaxDatagramsPerCall) to
  // decode(data, size); a call that received any ends a frame.
  template <class Decode>
  int drainFrame(DatagramFeed& feed, GameDataRecord& record, Decode&& decode) noexcept {
    bool received = false;
    for (int i = 0; i < kMaxDatagramsPerCall; ++i) {
      const std::uint8_t* data = nullptr;
      const int size = feed.next(&data);
      if (size < 2 || data == nullptr) break;
      received = true;
      decode(data, size);
    }
    if (!received) return 0;
    lapFrame(record);
    splitGravityIntoLoads(record);
    return 1;
  }
  // A fresh source: whatever a reader keeps from frame to frame starts over.
  virtual void restart() noexcept {}
};

// DiRT Rally 2.0: the game's own 264-byte packet (extradata=3) and the
// 96-byte custom packet. A datagram of any other length (2 bytes or more)
// counts as a frame but writes nothing into the channels.
class DirtRally2Reader final : public UdpRacingReader {
 public:
  static constexpr std::uint16_t kPort = 20778;
  explicit DirtRally2Reader(std::uint16_t port = kPort) noexcept : UdpRacingReader(port) {}
  int readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept override;
};

// F1 23 and F1 24 (packet formats 2023 and 2024): the motion packet (the
// player's car) and the extended motion packet. Everything else, F1 22 and
// F1 25 included, is skipped.
class F1Reader final : public UdpRacingReader {
 public:
  static constexpr std::uint16_t kPort = 20777;
  static constexpr const char* kProcesses[] = {"F1_23.exe", "F1_23_64.exe", "F1_24.exe", "F1_24_64.exe"};

  explicit F1Reader(ProcessList& processes = systemProcessList(), std::uint16_t port = kPort) noexcept
      : UdpRacingReader(port), processes_(&processes) {}

  // One of the game's programs runs (looked for in that order) and sends.
  bool detect() override;
  int readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept override;

 private:
  // The datagram's motion data into the record: true when it was an F1 23
  // or F1 24 motion or extended motion packet with a car record.
  bool decode(const std::uint8_t* data, int size, GameDataRecord& record) noexcept;

  ProcessList* processes_;
};

// EA SPORTS WRC with our packet structure (share/wrc/tarvex.json): body
// speeds and accelerations from the world vectors and the car's axes,
// angles from its forward and up axes, rates and angular accelerations by
// difference with the previous frame.
class WrcReader final : public UdpRacingReader {
 public:
  static constexpr std::uint16_t kPort = 20788;
  explicit WrcReader(std::uint16_t port = kPort, Clock& clock = systemClock()) noexcept
      : UdpRacingReader(port, clock) {}
  int readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept override;

 protected:
  void restart() noexcept override { havePrevious_ = false; }

 private:
  bool havePrevious_ = false;
  double previous_[6] = {};  // yaw, roll, pitch and their rates
};

// BeamNG.drive's motion-simulator packet ("BNG1"). A foreign datagram stops
// the decoding for the rest of the call (the call still counts as a frame).
class BeamNgReader final : public UdpRacingReader {
 public:
  static constexpr std::uint16_t kPort = 4444;
  explicit BeamNgReader(std::uint16_t port = kPort) noexcept : UdpRacingReader(port) {}
  int readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept override;
};

// Live for Speed's OutSim packet of 272 bytes (OutSim Opts ff) or 280 bytes
// (1ff), starting with "LFST". Other datagrams are not decoded, but a call
// that received any counts as a frame.
class LfsReader final : public UdpRacingReader {
 public:
  static constexpr std::uint16_t kPort = 4123;
  static constexpr const char* kProcess = "LFS.exe";
  static constexpr const char* kProcess64 = "LFS64.exe";

  explicit LfsReader(ProcessList& processes = systemProcessList(), std::uint16_t port = kPort) noexcept
      : UdpRacingReader(port), processes_(&processes) {}

  // As DCS: LFS.exe with data; LFS.exe without data fails the step even
  // when LFS64.exe runs too; else LFS64.exe with data.
  bool detect() override;
  int readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept override;

  // The last packet decoded (its first 280 bytes).
  std::uint8_t lastPacket[280] = {};

 private:
  ProcessList* processes_;
};

}  // namespace tarvex
