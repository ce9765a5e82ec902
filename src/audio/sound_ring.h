#pragma once
#include <cstdint>

// The looping ring behind the stream buffer of the virtual and the SDL sound devices: the bytes, and per frame
// whether it was written since the cursor last passed it, which is how the devices count underruns.

struct SoundRing {
    uint8_t* bytes; // frames x 4 bytes of 16-bit stereo
    uint8_t* fresh; // per frame: 1 when written and not yet played
    uint32_t frames;
    uint32_t cursor;      // next frame to be played
    int32_t heardWritten; // 1 once a written frame has been played
    int32_t inUnderrun;   // 1 while the cursor runs through stale frames after written ones
    uint64_t underruns;
    uint64_t framesPlayed;
};

bool CreateRing(SoundRing* ring, uint32_t frames);
void FreeRing(SoundRing* ring);
// Copies `bytes` bytes to byte `offset`, wrapping at the end; marks the frames touched as fresh.
void WriteRing(SoundRing* ring, uint32_t offset, const void* samples, uint32_t bytes);
// Plays `frames` frames from the cursor into `out` (2 int16 per frame, may be null), advancing the cursor.
void PlayRing(SoundRing* ring, int16_t* out, uint32_t frames);
