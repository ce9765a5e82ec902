#pragma once
#include <cstdint>

// Straight runs of a voice. A voice's position is a float that grows by a float step every frame, so each frame
// waits for the one before it. But while the position stays between two powers of two, every one of those
// additions rounds to the same multiple of the float spacing there: the positions are evenly spaced, pos + k x d
// exactly, and the frames of such a stretch can be computed side by side with the same bits as one by one.

struct StraightRun {
    int32_t frames; // frames from the current position that can go side by side; 0 when there are none
    int32_t retry;  // when frames is 0: frames to render one by one before asking again
    double advance; // what every frame of the run adds to the position, exactly
};

// The run from `pos` onwards, at most `frames` long, in which every index i = trunc(position) keeps i + 1 below
// `limit` (so that i and i + 1 both lie inside the data, with no loop turn) and the positions are evenly spaced.
// A run shorter than `minFrames` is not worth its set-up: those frames are left to go one by one, with the short
// stretches after them. The best `minFrames` depends on how fast the caller's frames go one by one.
StraightRun FindStraightRun(float pos, float step, int32_t limit, int32_t frames, int32_t minFrames);

// How many frames of `run` from `pos` to render side by side: the run and, unless its index would reach `limit` or
// only the run's frames are left of the `framesLeft`, the frame after it. Moves `pos` past them.
int32_t TakeStraightRun(const StraightRun& run, float& pos, float step, int32_t limit, int32_t framesLeft);

// Renders `frames` frames of linear interpolation from `pos`, the position growing by `advance` each frame:
// v = trunc((s0 + frac x (s1 - s0)) x amp), left = trunc(v x pan), right = v - left, each kept to 16 bits. With
// `mirror` 0 the frame at index i goes from s0 = data[i] to s1 = data[i + 1]; otherwise the data is read backwards
// from there, s0 = data[mirror - i] and s1 = data[mirror - i - 1] (the return half of a ping-pong loop). `length`
// is the number of samples in `data`: reads may reach past the run's own indices, never past it.
void RenderStraightRun(const int16_t* data, int32_t length, int32_t mirror, float pos, double advance, int32_t frames,
                       double amp, double pan, int16_t* out);

// Renders frames one at a time from `pos`, as long as the index i = trunc(position) is not negative and i + 1 stays
// below `limit`, at most `frames` of them; the position grows by the float `step` each frame, as a voice's does, and
// each frame is computed as in RenderStraightRun. Returns the number rendered, with `pos` moved past them.
int32_t RenderPlainFrames(const int16_t* data, int32_t limit, float& pos, float step, int32_t frames, double amp,
                          double pan, int16_t* out);

// Which code renders the runs: 0 plain C++, 1 SSE2, 2 AVX2 where the processor has it; -1 renders every frame
// one by one the long way, with no runs and no RenderPlainFrames at all. Tests compare them.
extern int VoiceRunPath;
