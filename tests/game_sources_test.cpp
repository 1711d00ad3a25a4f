#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "fakes.h"
#include "games/game_sources.h"
#include "platform/clock.h"

namespace tarvex {
namespace {

using testing::FakeGame;
using testing::installFakeGame;

// The flagged game first in priority order gives the id and the name hosts see.
TEST(GameSources, TheFlaggedGameIsTheFirstInPriorityOrder) {
  using G = GameId;
  struct Case { std::initializer_list<GameId> flags; int id; const char* name; };
  const Case cases[] = {
      {{G::Msfs2020, G::Msfs2024}, 2, "MSFS2020"},  {{G::AssettoCorsa, G::Msfs2024}, 15, "MSFS2024"},
      {{G::Pcars2}, 9, "PCAR2/Automobilista2"},     {{G::AssettoCorsaEvo, G::RaceRoom}, 16, "AssettoCorsaEvo"},
      {{G::Ets2, G::RFactor2}, 14, "rFactor2"},     {{G::Ets2}, 17, "ETSM2/AMT"},
      {{G::XPlane, G::Ets2}, 0, "Xplane"}};
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
  FakeGame* game = installFakeGame(sources);
  game->onRead = [game](GameDataRecord& r, int) {  // as the readers lap their frames
    game->stopwatch.lap();
    r.frameIntervalMs = game->stopwatch.lastLapMs();
  };
  ASSERT_TRUE(sources.detectGame());
  const std::int64_t beforeOpen = platform::counterNow();
  ASSERT_TRUE(sources.openSource());
  ASSERT_EQ(sources.readFrame(), 1);
  const double sinceOpenMs =
      static_cast<double>(platform::counterNow() - beforeOpen) * 1000.0 / static_cast<double>(platform::counterFrequency());
  EXPECT_GE(sources.record.frameIntervalMs, 0.0);
  EXPECT_LE(sources.record.frameIntervalMs, sinceOpenMs);
}

// Whatever reader it came from, a channel sent as no number reaches the filters as 0.
TEST(GameSources, AChannelSentAsNoNumberReads0) {
  GameSources sources;
  FakeGame* game = installFakeGame(sources);
  game->onRead = [](GameDataRecord& r, int) { r.channels[3] = std::nan(""), r.channels[4] = -HUGE_VAL, r.channels[5] = 2.5; };
  ASSERT_TRUE(sources.detectGame());
  ASSERT_TRUE(sources.openSource());
  ASSERT_EQ(sources.readFrame(), 1);
  EXPECT_EQ(sources.record.channels[3], 0.0);
  EXPECT_EQ(sources.record.channels[4], 0.0);
  EXPECT_EQ(sources.record.channels[5], 2.5);
}

TEST(GameSources, DetectionFlagsTheFirstGameFoundAndClearsTheOthers) {
  GameSources sources;
  FakeGame* x = installFakeGame(sources, GameId::XPlane);
  FakeGame* f = installFakeGame(sources, GameId::F1);
  FakeGame* l = installFakeGame(sources, GameId::Lfs);
  x->running = f->running = l->running = false;
  EXPECT_FALSE(sources.detectGame());
  EXPECT_EQ(x->detects + f->detects + l->detects, 3) << "a pass without a game asks each game once";
  f->running = l->running = true;
  sources.setFlag(GameId::XPlane, true);  // left over from an earlier pass
  EXPECT_TRUE(sources.detectGame());
  EXPECT_EQ(sources.flaggedGame(), GameId::F1);
  EXPECT_FALSE(sources.flag(GameId::XPlane));
  EXPECT_EQ(l->detects, 1) << "the pass stops at the first game found";
  x->running = true;  // a higher-priority game that starts wins the next pass
  EXPECT_TRUE(sources.detectGame());
  EXPECT_EQ(sources.flaggedGame(), GameId::XPlane);
}

}  // namespace
}  // namespace tarvex
