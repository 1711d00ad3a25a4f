// The whole road to the fan (Linux): the simulated X-Plane's speed feeds the wind slot, the
// cycle sends its level to a pty registered as COM45 with initWindSerial; its stop switches the fan off.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <algorithm>
#include <chrono>
#include <thread>

#include "link_support.h"
#include "loaded_library.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
namespace t = tarvex::testing;

TEST(WindExports, TheFanFollowsTheWindAxis) {
  t::useTestLogFolder();
  const TarvexApi& tv = loadedLibrary();
  t::PtyDevice fan(45);
  EXPECT_FALSE(tv.initWindSerial(L"COM46", 9600, L"8N1", 5)) << "no such port";
  ASSERT_TRUE(tv.initWindSerial(L"COM45", 9600, L"8N1", 5));
  for (int dof = 0; dof < 8; ++dof) tv.SetInputDofLimitValue(dof, -1000.0, 1000.0);
  tv.setActiveAxis(0, 21, true);
  ASSERT_EQ(tv.setcheckFilterstring(0, 21, "CROP(GAIN(VALUE;2);0;100)"), 1);

  t::GamePortsLock lock;
  t::Child sim = t::startGamesim(
      {"xplane", "--process-name", "X-Plane.exe", "--rate", "250", "--flight-seconds", "4", "--seconds", "60", "--quiet"});
  tv.startGamesource_Thread();
  tv.setMotionsystemready(1);
  ASSERT_TRUE(t::waitUntil([&] { return tv.getGameID() == 0; }, 30s));
  double* cues = nullptr;  // each byte the fan gets against the wind level the cycle has just then
  tv.getMotionCueData(2, &cues, nullptr);
  int compared = 0, close = 0, distinct = 0, last = -1;
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < end) {
    const t::Bytes got = fan.within(5);
    if (got.empty()) continue;
    const int expected = static_cast<int>(std::clamp(cues[21], 0.0, 100.0) / 100.0 * 255.0);
    const int byte = got.back();
    ++compared;
    if (std::abs(byte - expected) <= 8) ++close;
    if (byte != last) ++distinct;
    last = byte;
  }
  tv.stopGamesource_Thread();
  EXPECT_GT(compared, 100);
  EXPECT_GE(close * 10, compared * 9) << close << " of " << compared << " near the wind level";
  EXPECT_GE(distinct, 10) << "the level moved with the flight";
  const t::Bytes after = fan.within(50);
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.back(), 0x00) << "the cycle's end switches the fan off";
}

}  // namespace
#endif
