// The flight simulators that send UDP telemetry: X-Plane (binary data
// records on port 4321), DCS (one text line of 25 numbers from its export
// script on port 4124) and Condor 2 (key=value text on port 55278).
//
// Each reader owns its UdpReceiver. read() takes one waiting datagram and
// hands it to consume(), which the tests and the fuzzer call directly with
// datagrams of their own. consume() reads nothing outside the datagram,
// throws nothing, and returns 1 only for a frame it put into the record.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "games/detection.h"
#include "games/game_sources.h"
#include "games/udp_receiver.h"

namespace tarvex {

class UdpFlightReader : public GameReader {
 public:
  explicit UdpFlightReader(std::uint16_t port) noexcept : port(port) {}

  bool open() override { return receiver.open(port) == 1; }
  int read(GameDataRecord& record) override {
    return consume(receiver.data(), receiver.receive(), record);
  }
  void close() override { receiver.close(); }

  // Decodes one datagram of `size` bytes (0 or less: none came).
  virtual int consume(const std::uint8_t* data, int size, GameDataRecord& record) noexcept = 0;

  UdpReceiver receiver;
  std::uint16_t port;
};

// X-Plane's "data output" datagrams: a 5-byte header, then records of a
// 4-byte group index and eight little-endian floats.
class XPlaneReader final : public UdpFlightReader {
 public:
  static constexpr std::uint16_t kPort = 4321;
  static constexpr const char* kProcess = "X-Plane.exe";
  static constexpr int kHeaderBytes = 5;
  static constexpr int kRecordBytes = 36;
  // The header and one whole record. (A datagram of one record is 41 bytes
  // long; X-Plane sends that when a single data group is selected.)
  static constexpr int kMinimumBytes = kHeaderBytes + kRecordBytes;

  explicit XPlaneReader(ProcessList& processes = systemProcessList(), std::uint16_t port = kPort) noexcept
      : UdpFlightReader(port), processes_(&processes) {}

  // X-Plane sends to the port, then X-Plane.exe must run.
  bool detect() override;
  int consume(const std::uint8_t* data, int size, GameDataRecord& record) noexcept override;

 private:
  ProcessList* processes_;
};

// DCS: "f1 f2 ... f25" with the loads, speeds, rates, angles, two
// suspension values and the model time.
//
// A field is the text up to the next space; the last one is the run of
// characters ' ' to ';' that something else (the newline) ends. The export
// script writes every number with six or more characters: a shorter field,
// or a last field that nothing ends, reads 0 and the text stays where it is,
// so every later field reads 0 too. A field of six or more characters reads
// as its leading decimal number ("12.5abc" is 12.5); one that does not start
// with a number, or whose number no double holds (or is not finite), reads 0
// and the line goes on with the next field.
class DcsReader final : public UdpFlightReader {
 public:
  static constexpr std::uint16_t kPort = 4124;
  static constexpr const char* kProcess = "DCS.exe";
  static constexpr const char* kProcess64 = "DCS64.exe";
  static constexpr int kFieldCount = 25;
  static constexpr int kMinimumBytes = 2;

  explicit DcsReader(ProcessList& processes = systemProcessList(), std::uint16_t port = kPort) noexcept
      : UdpFlightReader(port), processes_(&processes) {}

  // DCS.exe with data on the port; DCS.exe without data fails the step even
  // when DCS64.exe runs too; else DCS64.exe with data.
  bool detect() override;
  int consume(const std::uint8_t* data, int size, GameDataRecord& record) noexcept override;

  // The 25 fields of one line, taken as the reader takes them.
  static std::array<double, kFieldCount> parseFields(std::string_view text) noexcept;

 private:
  ProcessList* processes_;
};

// Condor 2: "key=value" lines (Condor ends them with CR LF; the CR is
// dropped). The reader keeps every value it was sent, so a datagram that
// lacks a key leaves its last value in place. Keys are compared exactly; a
// value that is not a number (or not a finite float) reads 0.
struct CondorValues {
  static constexpr int kFloatCount = 31;
  // In this order: time, slipball, altitude, vario, evario, nettovario,
  // integrator, compass, turnrate, yawstringangle, radiofrequency, yaw,
  // pitch, bank, quaternionx..z, ax, ay, az, vx, vy, vz, rollrate,
  // pitchrate, yawrate, gforce, height, wheelheight, turbulencestrength,
  // surfaceroughness.
  std::array<float, kFloatCount> values{};
  std::string hudmessages;
  std::int32_t flaps = 0;
  float mc = 0.0f;
  float water = 0.0f;

  // Stores one line's value; false for a key Condor does not have (or that
  // is written with other capitals).
  bool set(std::string_view key, std::string_view value);
  // The value stored under a float key, 0 for others.
  float get(std::string_view key) const noexcept;
};

class Condor2Reader final : public UdpFlightReader {
 public:
  static constexpr std::uint16_t kPort = 55278;
  static constexpr int kMinimumBytes = 42;

  explicit Condor2Reader(std::uint16_t port = kPort) noexcept : UdpFlightReader(port) {}

  bool detect() override { return receiver.probe(port) == 1; }
  int consume(const std::uint8_t* data, int size, GameDataRecord& record) noexcept override;

  CondorValues condor;
};

}  // namespace tarvex
