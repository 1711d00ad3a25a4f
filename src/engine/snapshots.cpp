#include "engine/engine.h"

namespace tarvex {

void Engine::recordSnapshots() noexcept {
  const GameDataRecord& r = record();
  CalculationSnapshot calculation;
  for (int i = 0; i < kAxisCount; ++i) {
    const bool part = i >= axis::firstBeltPart && i <= axis::lastEffect;
    calculation[i] = part ? r.airCues[i] : loadRelaxed(r.finalCues[i]);
  }
  // Hosts read it through GetPositionSnapshot while it changes.
  for (int i = 0; i < kAxisCount; ++i) storeRelaxed(currentSnapshot[i], calculation[i]);
  calculationHistory.append(calculation);

  AccelerationSnapshot acceleration;
  for (int c = 0; c < kChannelCount; ++c) acceleration[c] = r.channels[c];
  accelerationHistory.append(acceleration);
}

}  // namespace tarvex
