// Helpers of the UDP reader tests: recorded and built datagrams, a record
// marked to see what a reader leaves alone, and the check of channels.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/channels.h"
#include "support.h"

namespace tarvex::reader_tests {

using Bytes = std::vector<std::uint8_t>;
inline constexpr double kPi = 3.14159265358979;
inline constexpr double kG = 9.80665;

inline double deg(double rad) { return rad / kPi * 180.0; }
inline double rad(double deg) { return deg * kPi / 180.0; }

inline Bytes capture(const std::string& name) {
  std::ifstream in(testing::programFolder() / "captures" / name, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

inline Bytes text(const std::string& t) { return Bytes(t.begin(), t.end()); }
inline Bytes cut(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + n); }
// `b` with its bytes from `at` on replaced by `with`.
inline Bytes patched(Bytes b, std::size_t at, const Bytes& with) {
  std::copy(with.begin(), with.end(), b.begin() + at);
  return b;
}
// A datagram of `size` bytes that starts with `magic` and holds `values` as
// 4-byte floats from `at` on.
inline Bytes floats(std::size_t size, const std::string& magic, std::size_t at, const std::vector<double>& values) {
  Bytes b = patched(Bytes(size, 0), 0, text(magic));
  for (double v : values) {
    const float f = static_cast<float>(v);
    std::memcpy(b.data() + (at += 4) - 4, &f, 4);
  }
  return b;
}

// A record filled with a marker, to see what a reader leaves alone.
inline double kept(int c) { return 1000.0 + c; }
inline GameDataRecord markedRecord() {
  GameDataRecord r;
  for (int c = 1; c < kChannelCount; ++c) r.channels[c] = kept(c);
  r.frameIntervalMs = -1.0;
  r.gameTimeS = 3.0;
  return r;
}

struct Expect {
  int channel;
  double value;
  double tolerance = 1e-3;
};

inline void expectChannels(const GameDataRecord& r, const std::vector<Expect>& expected) {
  for (const Expect& e : expected) {
    EXPECT_NEAR(r.channels[e.channel], e.value, e.tolerance) << "channel \"" << channelName(e.channel - 1) << "\"";
  }
}

// X-Plane's records: a group index and eight floats each.
struct XRecord {
  std::uint32_t group;
  float values[8];
};
static_assert(sizeof(XRecord) == 36);
inline Bytes xplane(const std::vector<XRecord>& records) {
  Bytes d = text("DATA*");
  for (const XRecord& r : records) {
    d.resize(d.size() + 36);
    std::memcpy(d.data() + d.size() - 36, &r, 36);  // little-endian, as the game sends
  }
  return d;
}

// A datagram recorded from Condor 2, printed with LF line ends (Condor sends
// CR LF: kCondor).
inline const char* const kCondorPlain =
    "time=17.0123384582337\nairspeed=30.9783802032471\naltitude=797.574401855469\n"
    "vario=-1.06086719036102\nevario=-1.06253170967102\nnettovario=-0.336621403694153\n"
    "integrator=-1.07146024703979\ncompass=149.594223022461\nslipball=-0.000419455405790359\n"
    "turnrate=-0.0704940482974052\nyawstringangle=-0.00415756786242127\nradiofrequency=123.5\n"
    "yaw=2.61091184616089\npitch=0.085761547088623\nbank=-0.07082399725914\n"
    "quaternionx=0.0547523014247417\nquaterniony=-0.00940066296607256\nquaternionz=0.867230594158173\n"
    "quaternionw=0.494839400053024\nax=1.42042005062103\nay=0.608248353004456\naz=3.65034604072571\n"
    "vx=-12.5160303115845\nvy=-27.1460018157959\nvz=2.45487499237061\n"
    "rollrate=-0.0281974282115698\npitchrate=-0.0304326992481947\nyawrate=0.0169996526092291\n"
    "gforce=1.38097426699328\n";

inline std::string crlf(std::string t) {
  for (std::size_t i = 0; (i = t.find('\n', i)) != std::string::npos; i += 2) t.insert(i, 1, '\r');
  return t;
}
inline const std::string kCondor = crlf(kCondorPlain);

}  // namespace tarvex::reader_tests
