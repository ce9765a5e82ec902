// The tempo rule: how a BPM becomes ticks per second and frames per tick.
#include "music/music.h"

namespace {

// 0.2 is the single-precision constant 0x3E4CCCCD; (2 x bpm) x 0.2f is exact in double for any 16-bit bpm.
double TempoProduct(int32_t bpm) {
    return static_cast<double>(2 * bpm) * static_cast<double>(0.2f);
}

// The MixBuffers take at most MaxTickFrames frames per tick, which BPM 9 still respects; the file's BPM is a
// 16-bit field, so every positive value keeps at least one frame per tick.
int32_t SafeBpm(int32_t bpm) {
    return bpm < 9 ? 9 : bpm;
}

} // namespace

void SetStartTempo(int32_t bpm) {
    double product = TempoProduct(SafeBpm(bpm));
    player.ticksPerSecond = static_cast<float>(product);
    // At a song start the stored float is the divisor, so BPM 125 gives exactly 50.0 and 882 frames.
    int32_t frames = static_cast<int32_t>(44100.0 / static_cast<double>(player.ticksPerSecond));
    player.samplesPerTick = frames < 1 ? 1 : frames;
}

void SetEffectTempo(int32_t bpm) {
    double product = TempoProduct(SafeBpm(bpm));
    player.ticksPerSecond = static_cast<float>(product);
    // During the song the unrounded product divides, which lies a hair above 0.4 x BPM: BPM 125 gives 881.
    int32_t frames = static_cast<int32_t>(44100.0 / product);
    player.samplesPerTick = frames < 1 ? 1 : frames;
    player.tickBudget = (player.blockFrames - player.writePosition) / player.samplesPerTick;
}
