#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "fakes.h"
#include "games/game_sources.h"
#include "platform/clock.h"

namespace tarvex {
namespace {

using testing::FakeGame;

TEST(GameSources, TheFlaggedGameIsTheFirstInPriorityOrder) {
  struct Case {
    std::initializer_list<GameId> flags;
    int id;
    const char* name;
  };
  const Case cases[] = {
      {{}, -1, "No Game online"},
      {{GameId::Msfs2020, GameId::Msfs2024}, 2, "MSFS2020"},
      {{GameId::AssettoCorsa, GameId::Msfs2024}, 15, "MSFS2024"},
      {{GameId::AssettoCorsaEvo, GameId::RaceRoom}, 16, "AssettoCorsaEvo"},
      {{GameId::Ets2, GameId::RFactor2}, 14, "rFactor2"},
      {{GameId::Pcars2}, 9, "PCAR2/Automobilista2"},
      {{GameId::Ets2}, 17, "ETSM2/AMT"},
      {{GameId::XPlane, GameId::Ets2}, 0, "Xplane"},
  };
  for (const Case& c : cases) {
    GameSources sources;
    for (GameId id : c.flags) sources.setFlag(id, true);
    EXPECT_EQ(static_cast<int>(sources.flaggedGame()), c.id);
    char name[kGameNameCapacity + 8];
    std::memset(name, 'x', sizeof name);
    sources.gameName(name);
    EXPECT_STREQ(name, c.name);
  }
}

TEST(GameSources, EveryNameFitsTheCallersBuffer) {
  std::size_t longest = 0;
  for (GameId id : kGamePriority) longest = std::max(longest, std::strlen(gameDisplayName(id)));
  EXPECT_EQ(longest + 1, static_cast<std::size_t>(kGameNameCapacity));
}

// A reader built long before its game starts (the counter itself has run
// since the machine started) reports its first frame interval from the open.
TEST(GameSources, TheFirstFrameIntervalCountsFromTheOpen) {
  GameSources sources;
  auto g = std::make_unique<FakeGame>();
  FakeGame* game = g.get();
  game->onRead = [game](GameDataRecord& r, int) {  // as the readers lap their frames
    game->stopwatch.lap();
    r.frameIntervalMs = game->stopwatch.lastLapMs();
  };
  sources.installReader(GameId::XPlane, std::move(g));
  ASSERT_TRUE(sources.detectGame());
  const std::int64_t beforeOpen = platform::counterNow();
  ASSERT_TRUE(sources.openSource());
  ASSERT_EQ(sources.readFrame(), 1);
  const double sinceOpenMs =
      static_cast<double>(platform::counterNow() - beforeOpen) * 1000.0 / static_cast<double>(platform::counterFrequency());
  EXPECT_GE(sources.record.frameIntervalMs, 0.0);
  EXPECT_LE(sources.record.frameIntervalMs, sinceOpenMs);
}

TEST(GameSources, DetectionFlagsTheFirstGameFoundAndClearsTheOthers) {
  GameSources sources;
  auto xplane = std::make_unique<FakeGame>();
  auto f1 = std::make_unique<FakeGame>();
  auto lfs = std::make_unique<FakeGame>();
  FakeGame* x = xplane.get();
  FakeGame* f = f1.get();
  FakeGame* l = lfs.get();
  x->running = false;
  sources.installReader(GameId::XPlane, std::move(xplane));
  sources.installReader(GameId::F1, std::move(f1));
  sources.installReader(GameId::Lfs, std::move(lfs));
  f->running = l->running = false;
  EXPECT_FALSE(sources.detectGame());
  EXPECT_EQ(x->detects + f->detects + l->detects, 3) << "a pass without a game asks each game once";
  f->running = l->running = true;
  sources.setFlag(GameId::XPlane, true);  // left over from an earlier pass

  EXPECT_TRUE(sources.detectGame());
  EXPECT_EQ(sources.flaggedGame(), GameId::F1);
  EXPECT_FALSE(sources.flag(GameId::XPlane));
  EXPECT_EQ(l->detects, 1) << "the pass stops at the first game found";

  EXPECT_TRUE(sources.openSource());
  EXPECT_EQ(f->opens, 1);
  f->onRead = [](GameDataRecord& r, int) { r.channels[3] = std::nan(""), r.channels[4] = -HUGE_VAL, r.channels[5] = 2.5; };
  EXPECT_EQ(sources.readFrame(), 1);
  EXPECT_EQ(sources.record.channels[3], 0.0) << "a channel sent as no number reads 0";
  EXPECT_EQ(sources.record.channels[4], 0.0);
  EXPECT_EQ(sources.record.channels[5], 2.5);
  f->sending = false;
  EXPECT_EQ(sources.readFrame(), 0);
  EXPECT_EQ(sources.closeSource(), 1);
  EXPECT_EQ(f->closes, 1);
  EXPECT_EQ(sources.flaggedGame(), GameId::None);

  // A higher-priority game that starts wins the next pass.
  x->running = true;
  EXPECT_TRUE(sources.detectGame());
  EXPECT_EQ(sources.flaggedGame(), GameId::XPlane);
}

}  // namespace
}  // namespace tarvex
