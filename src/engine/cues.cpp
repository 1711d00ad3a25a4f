// Profile selection with its 200 ms transitions, the mixing of the air and
// ground profiles into the final cues, and the hold and fade-in of outputs.
#include "engine/engine.h"
#include "filter/formula_parser.h"

namespace tarvex {

void Engine::selectProfile() noexcept {
  const GameReader* reader = sources.flaggedReader();
  const int requested = reader != nullptr ? reader->groundContact : -1;
  if (requested != activeProfile) {
    if (transitionActive == 0) {
      transitionActive = 1;
      // Start from the steady state of the profile being left.
      const bool leavingAir = activeProfile == 0;
      airWeight = leavingAir ? 1.0 : 0.0;
      groundWeight = leavingAir ? 0.0 : 1.0;
    }
    // A running transition keeps its weights and turns towards the new target.
    activeProfile = requested;
  }

  mixCues();

  if (transitionActive != 0) {
    const double step = 2.0 / settings.transitionDurationMs;
    if (activeProfile == 0) {
      airWeight = airWeight + step;
      groundWeight = 1.0 - airWeight;
    } else if (activeProfile == 1) {
      groundWeight = groundWeight + step;
      airWeight = 1.0 - groundWeight;
    }
  }
  if (airWeight > 1.0 || groundWeight > 1.0) {
    GameDataRecord& r = sources.record;
    if (activeProfile == 0) {
      airWeight = 1.0;
      groundWeight = 0.0;
      for (double& cue : r.groundCues) storeRelaxed(cue, 0.0);
    } else {
      airWeight = 0.0;
      groundWeight = 1.0;
      for (double& cue : r.airCues) storeRelaxed(cue, 0.0);
    }
    transitionActive = 0;
  }
}

void Engine::mixCues() noexcept {
  GameDataRecord& r = sources.record;
  auto evaluate = [&](MotionProfile& profile, const SlotBinding& binding, double weight) {
    return evaluateSlot(profile, binding, weight, r, settings.inputDofLimits);
  };
  // Host threads read the cue arrays through getMotionCueData.
  double* air = r.airCues;
  double* ground = r.groundCues;

  // The belt: its four parts, weighted by the air profile's belt mix, make
  // the belt-mix channel that the belt slot itself reads.
  double beltMix = 0.0;
  for (std::size_t i = 0; i < beltPartWeightIndex.size(); ++i) {
    const SlotBinding& part = beltBindings[i];
    storeRelaxed(air[part.slot], evaluate(settings.airProfile, part, 1.0));
    beltMix += settings.airProfile.beltMix[beltPartWeightIndex[i]] * air[part.slot];
  }
  r.channels[channel::belt_mix] = beltMix;
  const SlotBinding& belt = beltBindings.back();
  storeRelaxed(air[belt.slot], evaluate(settings.airProfile, belt, 1.0));

  storeRelaxed(air[windBinding.slot], evaluate(settings.airProfile, windBinding, 1.0));
  for (const SlotBinding& effect : effectBindings) {
    storeRelaxed(air[effect.slot], evaluate(settings.airProfile, effect, 1.0));
  }
  // Both profiles' degrees of freedom run every cycle, whatever their
  // weight, so that a transition starts from filters that kept up.
  const double airShare = airWeight;
  const double groundShare = groundWeight;
  for (const SlotBinding& dof : dofBindings) {
    storeRelaxed(air[dof.slot], evaluate(settings.airProfile, dof, airShare));
  }
  for (const SlotBinding& dof : dofBindings) {
    storeRelaxed(ground[dof.slot], evaluate(settings.groundProfile, dof, groundShare));
  }

  const double* a = r.airCues;
  const double* g = r.groundCues;
  double* f = r.finalCues;
  // Axes 11..20 are parts of other axes and have no final output of their own.
  storeRelaxed(f[0], a[0] + a[15] + g[0]);
  storeRelaxed(f[1], a[1] + a[16] + g[1]);
  storeRelaxed(f[2], a[2] + a[17] + g[2]);
  storeRelaxed(f[3], a[3] + a[18] + g[3]);
  storeRelaxed(f[4], a[4] + a[6] + a[8] + a[19] + g[4] + g[6] + g[8]);
  storeRelaxed(f[5], a[5] + a[7] + a[9] + a[20] + g[5] + g[7] + g[9]);
  for (int k = 6; k <= 9; ++k) storeRelaxed(f[k], a[k] + g[k]);
  storeRelaxed(f[axis::belt], a[axis::belt]);
  storeRelaxed(f[axis::wind], a[axis::wind]);
}

int Engine::installFilterString(int profileNumber, int slot, const char* formula) {
  holdOutputs();
  filterPending = 1;
  if (formula == nullptr) return 0;
  std::shared_ptr<FilterSys> chain = parseFilterString(formula);
  MotionProfile* target = profile(profileNumber);
  if (chain == nullptr || !chain->enabled.load() || target == nullptr ||
      static_cast<unsigned>(slot) >= kAxisCount) {
    // The slot keeps its chain; the output stage stays suspended until a
    // formula is installed or a game source opens.
    return 0;
  }
  target->filters[slot].store(std::move(chain));
  filterPending = 0;
  return 1;
}

void Engine::holdOutputs() noexcept {
  // Also called from host threads while the cycle runs.
  fade.hold();
  GameDataRecord& r = sources.record;
  for (int i = 0; i < kAxisCount; ++i) storeRelaxed(r.heldCues[i], loadRelaxed(r.finalCues[i]));
}

void Engine::applyFade() noexcept {
  const double f = fade.value();
  if (f >= 1.0) return;
  GameDataRecord& r = sources.record;
  for (int i = 0; i < kAxisCount; ++i) {
    const double held = loadRelaxed(r.heldCues[i]);
    storeRelaxed(r.finalCues[i], (loadRelaxed(r.finalCues[i]) - held) * f + held);
  }
  // A hold made since `f` was read stands: the next cycle fades from it.
  fade.advance(f, cycleStopwatch.lastLapMs() * (1.0 / settings.fadeDurationMs));
}

}  // namespace tarvex
