#include "filter/filter_stage.h"

#include <array>
#include <utility>

namespace tarvex {

namespace {

constexpr std::array<const char*, kFilterKindCount> kKindNames = {
    "VALUE",    "EMALP", "EMAHP", "MUL",      "GAIN",           "LOGISTIC", "CROP",
    "ROLLOVER", "REMAP", "NOISE", "BITSCALE", "BITSCALESIGNED", "SINUS",    "ABS",
    "SETVALUE", "ADD",   "SPIKE", "EDYNLP",   "LDYNLP",
};

}  // namespace

const char* filterKindName(FilterKind kind) noexcept {
  const auto index = static_cast<std::int32_t>(kind);
  if (index < 0 || index >= kFilterKindCount) return "UNKNOWN";
  return kKindNames[static_cast<std::size_t>(index)];
}

FilterSys::~FilterSys() {
  std::shared_ptr<FilterSys> rest = std::move(next);
  // While we hold the only reference to the next stage, empty its link before
  // letting it go, so its own destructor has nothing left to free. A stage
  // someone else still holds (a walk in progress) is just let go; its last
  // holder continues from there the same way.
  while (rest && rest.use_count() == 1) {
    std::shared_ptr<FilterSys> following;
    {
      std::lock_guard<std::mutex> guard(rest->lock);
      following = std::move(rest->next);
    }
    rest = std::move(following);
  }
}

std::shared_ptr<FilterSys> makeStage(FilterKind kind, float p1, float p2, float p3, float p4) {
  auto stage = std::make_shared<FilterSys>();
  stage->kind = kind;
  stage->name = filterKindName(kind);
  stage->p1 = p1;
  stage->p2 = p2;
  stage->p3 = p3;
  stage->p4 = p4;
  if (kind == FilterKind::Noise) stage->noise = std::make_shared<NoiseLayer>(p1, p2, p3);
  // Some thread libraries (winpthreads) set a mutex up on its first lock;
  // let that happen while the chain is built, not on the real-time thread.
  { std::lock_guard<std::mutex> touch(stage->lock); }
  return stage;
}

void linkAfter(FilterSys& tail, const std::shared_ptr<FilterSys>& stage) {
  {
    std::lock_guard<std::mutex> guard(tail.lock);
    tail.next = stage;
  }
  std::lock_guard<std::mutex> guard(stage->lock);
  stage->prev = tail.weak_from_this();
}

std::shared_ptr<FilterSys> appendStage(std::shared_ptr<FilterSys> chain, FilterKind kind,
                                       float p1, float p2, float p3, float p4) {
  auto stage = makeStage(kind, p1, p2, p3, p4);
  if (!chain) return stage;
  linkAfter(*findTail(*chain), stage);
  return chain;
}

std::shared_ptr<FilterSys> findTail(FilterSys& head) {
  std::shared_ptr<FilterSys> current = head.shared_from_this();
  for (;;) {
    std::shared_ptr<FilterSys> following;
    {
      std::lock_guard<std::mutex> guard(current->lock);
      following = current->next;
    }
    if (!following) return current;
    current = std::move(following);
  }
}

}  // namespace tarvex
