#pragma once
#include <cstdint>
#include <cstring>

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

// Where a voice's straight runs may go from `pos`: i + 1 stays below `limit`, and the data is read as
// RenderStraightRun's `mirror` says.
struct RunSpan {
    int32_t limit;
    int32_t mirror;
};

// One tick of a voice, `frames` frames into `out` from `pos`: straight runs side by side wherever FindStraightRun
// finds one, the frames short of a turn through RenderPlainFrames, and the turns themselves one by one the long way.
// `Voice` holds what differs between the engines:
//   Audible                 false when every frame is 0 (only the position and the sample's end are followed);
//   MinRunFrames            the shortest run worth its set-up against the engine's frames one by one;
//   data, dataLength        the samples the runs read, and how many there are to read;
//   plainLimit              where RenderPlainFrames must stop (a turn or the sample's end);
//   Span(pos)               where a run from `pos` may go;
//   PastForwardLoop(pos)    true when the next frame turns back into a forward loop, after which runs go on;
//   OneFrame(pos, out)      one frame the long way, moving `pos`; false once a sample without loop has ended.
// Returns the frames rendered: fewer than `frames` only when the sample ended, and the caller silences the rest.
template <class Voice>
int32_t RenderVoiceTick(const Voice& voice, float& pos, float step, double amp, double pan, int16_t* out,
                        int32_t frames) {
    int32_t k = 0;
    int32_t oneByOne = 0;
    while (k < frames) {
        if (oneByOne == 0) {
            const RunSpan span = voice.Span(pos);
            const StraightRun run = FindStraightRun(pos, step, span.limit, frames - k, Voice::MinRunFrames);
            if (run.frames == 0) {
                oneByOne = voice.PastForwardLoop(pos) ? 1 : run.retry;
                continue;
            }
            const float start = pos;
            const int32_t count = TakeStraightRun(run, pos, step, span.limit, frames - k);
            if constexpr (Voice::Audible)
                RenderStraightRun(voice.data, voice.dataLength, span.mirror, start, run.advance, count, amp, pan, out);
            else
                std::memset(out, 0, 4 * static_cast<size_t>(count));
            k += count;
            out += 2 * count;
            oneByOne = count > run.frames ? 0 : 1; // else the frame that ended the run
            continue;
        }
        if (Voice::Audible && VoiceRunPath >= 0) {
            // Frames short of the turn or the sample's end need no turn: the quick way.
            const int32_t count = oneByOne < frames - k ? oneByOne : frames - k;
            const int32_t done = RenderPlainFrames(voice.data, voice.plainLimit, pos, step, count, amp, pan, out);
            k += done;
            out += 2 * done;
            oneByOne -= done;
            if (oneByOne == 0 || k == frames)
                continue;
        }
        --oneByOne;
        if (!voice.OneFrame(pos, out))
            return k;
        ++k;
        out += 2;
    }
    return k;
}
