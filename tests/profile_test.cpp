// A profile's slots: off until a formula comes, chains replaced while the cycle evaluates them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "filter/formula_parser.h"
#include "profile/motion_profile.h"

namespace tarvex {
namespace {

// Freeing a chain (a deep one takes a while) is for the host that replaced it:
// the cycle letting go of an old chain it still held must not free it.
TEST(Profile, AReplacedChainIsFreedByTheHostsNextStoreNeverByTheCycle) {
  struct Case { const char* what; bool cycleHoldsIt; int freedByTheStore, whenTheCycleLetsGo, byTheNextStore; };
  const Case cases[] = {{"the cycle holds the old chain", true, 0, 0, 1}, {"nobody holds it", false, 1, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int freed = 0;
    ChainSlot slot;
    slot.store(std::shared_ptr<FilterSys>(new FilterSys, [&freed](FilterSys* s) {
      ++freed;
      delete s;
    }));
    std::shared_ptr<FilterSys> cycleCopy = c.cycleHoldsIt ? slot.load() : nullptr;
    slot.store(parseFilterString("VALUE"));
    EXPECT_EQ(freed, c.freedByTheStore);
    cycleCopy.reset();  // the cycle's evaluation ends
    EXPECT_EQ(freed, c.whenTheCycleLetsGo);
    slot.store(parseFilterString("VALUE"));
    EXPECT_EQ(freed, c.byTheNextStore);
  }
}

TEST(Profile, EverySlotStartsSwitchedOff) {
  MotionProfile profile("test");
  GameDataRecord record;
  for (int c = 1; c < kChannelCount; ++c) record.channels[c] = c;
  DofLimits limits;
  for (auto& limit : limits) limit.min = -1000.0, limit.max = 1000.0;
  auto check = [&](const SlotBinding& b) { EXPECT_EQ(evaluateSlot(profile, b, 1.0, record, limits), 0.0) << b.slot; };
  for (const SlotBinding& b : beltBindings) check(b);
  for (const SlotBinding& b : effectBindings) check(b);
  for (const SlotBinding& b : dofBindings) check(b);
  check(windBinding);
}

// Every result comes from a whole chain, old or new, and nothing is used
// after it is freed (this runs under the address and thread sanitizers).
TEST(Profile, ReplacingChainsWhileTheCycleEvaluatesThem) {
  MotionProfile profile("test");
  GameDataRecord record;
  record.channels[channel::lateral_accel_g] = 1.0;
  DofLimits limits;
  limits[0].min = -100.0, limits[0].max = 100.0;
  profile.filters[0].store(parseFilterString("GAIN(VALUE;2)"));
  std::atomic<bool> stop{false};
  std::atomic<int> evaluations{0};
  std::atomic<int> foreign{0};
  std::thread cycle([&] {
    while (!stop) {
      const double v = evaluateSlot(profile, dofBindings[0], 1.0, record, limits);
      if (v != 2.0 && v != 3.0) ++foreign;
      ++evaluations;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    profile.filters[0].store(parseFilterString(i % 2 == 0 ? "GAIN(GAIN(GAIN(VALUE;1);1);3)" : "ADD(GAIN(VALUE;1);1)"));
  }
  while (evaluations < 1000) std::this_thread::yield();
  stop = true;
  cycle.join();
  EXPECT_EQ(foreign, 0);
}

}  // namespace
}  // namespace tarvex
