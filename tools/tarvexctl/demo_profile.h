// The demo's motion profile, written in the formula language: a starting
// point that moves like a rig. Accelerations are washed out (high pass), so
// a sustained load such as gravity on the vertical axis returns to centre;
// angles are smoothed (low pass, which limits how fast they move) and
// softly limited; every output has a gain and a clamp.
#pragma once

namespace tarvexctl {

struct DemoSlot {
  int axis;
  const char* formula;
  const char* what;
};

inline constexpr DemoSlot kDemoProfile[] = {
    {0, "CROP(GAIN(EMAHP(VALUE;250);0.5);-6;6)", "sway: lateral acceleration, washed out over ~0.5 s"},
    {1, "CROP(GAIN(EMAHP(VALUE;250);0.5);-6;6)", "surge: longitudinal acceleration, washed out"},
    {2, "CROP(GAIN(EMAHP(VALUE;150);0.4);-4;4)", "heave: vertical load; the constant 9.8 washes out"},
    {3, "CROP(GAIN(EMAHP(VALUE;500);0.2);-5;5)", "yaw: yaw rate, washed out over ~1 s"},
    {4, "CROP(GAIN(EMAHP(VALUE;100);0.05);-2;2)", "roll onset: a short cue from the roll rate"},
    {5, "CROP(GAIN(EMAHP(VALUE;100);0.05);-2;2)", "pitch onset: a short cue from the pitch rate"},
    {6, "CROP(GAIN(EMALP(VALUE;100);0.8);-5;5)", "roll tilt: sustained lateral acceleration as tilt"},
    {7, "CROP(GAIN(EMALP(VALUE;100);0.8);-5;5)", "pitch tilt: sustained braking and acceleration as tilt"},
    {8, "LOGISTIC(GAIN(EMALP(VALUE;50);0.5);12;1)", "roll angle: half the aircraft's, smoothed, soft limit 12"},
    {9, "LOGISTIC(GAIN(EMALP(VALUE;50);0.5);12;1)", "pitch angle: half the aircraft's, smoothed, soft limit 12"},
    {10, "CROP(GAIN(VALUE;1);0;100)", "belt: the belt mix, 0..100"},
    {21, "CROP(GAIN(EMALP(VALUE;50);1.5);0;100)", "wind: speed, smoothed, 0..100 %"},
};

}  // namespace tarvexctl
