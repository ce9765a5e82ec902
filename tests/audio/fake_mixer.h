#pragma once
#include <cstdint>

#include "audio/stream.h"

// A stand-in for the mix-down: chunk n holds a pattern that a test can recompute from n alone, and every call
// is logged with the thread that made it and the state of the hand-shake flags at that moment.

struct FakeMixerLog {
    int prepared;
    int released;
    int renders;
    int rendersByThread[3];  // by virtual thread slot: 0 main, 1 feeder, 2 mixer
    int handshakeViolations; // a render while the flags said the chunk buffer belonged to the feeder
};

extern FakeMixerLog fakeMixer;
void ResetFakeMixer();
// The stand-in as the stream's source: StartStream(FakeMixerSource()).
ChunkSource FakeMixerSource();

// Sample `channel` (0 left, 1 right) of frame `frame` of chunk `chunk`.
inline int16_t FakeSample(uint64_t chunk, uint32_t frame, int channel) {
    const int32_t v = int32_t((chunk * 7919 + frame * 13 + 1) % 30011) - 15005;
    return int16_t(channel == 0 ? v : -v / 2);
}
