#include "audio/sound_ring.h"

#include <cstdlib>
#include <cstring>

bool CreateRing(SoundRing* ring, uint32_t frames) {
    *ring = SoundRing{};
    ring->bytes = static_cast<uint8_t*>(calloc(frames, 4));
    ring->fresh = static_cast<uint8_t*>(calloc(frames, 1));
    if (!ring->bytes || !ring->fresh) {
        FreeRing(ring);
        return false;
    }
    ring->frames = frames;
    return true;
}

void FreeRing(SoundRing* ring) {
    free(ring->bytes);
    free(ring->fresh);
    *ring = SoundRing{};
}

void WriteRing(SoundRing* ring, uint32_t offset, const void* samples, uint32_t bytes) {
    const uint32_t size = ring->frames * 4;
    if (size == 0)
        return;
    offset %= size;
    if (bytes > size)
        bytes = size;
    const auto* src = static_cast<const uint8_t*>(samples);
    const uint32_t first = bytes < size - offset ? bytes : size - offset;
    memcpy(ring->bytes + offset, src, first);
    memcpy(ring->bytes, src + first, bytes - first);
    // A partly written frame counts as written: writes come in whole frames anyway.
    for (uint32_t f = offset / 4, n = (bytes + 3) / 4; n > 0; --n, f = f + 1 == ring->frames ? 0 : f + 1)
        ring->fresh[f] = 1;
}

void PlayRing(SoundRing* ring, int16_t* out, uint32_t frames) {
    if (ring->frames == 0) {
        if (out)
            memset(out, 0, size_t(frames) * 4);
        return;
    }
    for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t f = ring->cursor;
        if (out)
            memcpy(out + 2 * size_t(i), ring->bytes + 4 * size_t(f), 4);
        if (ring->fresh[f]) {
            ring->fresh[f] = 0;
            ring->heardWritten = 1;
            ring->inUnderrun = 0;
        } else if (ring->heardWritten && !ring->inUnderrun) {
            ring->inUnderrun = 1;
            ++ring->underruns;
        }
        ring->cursor = f + 1 == ring->frames ? 0 : f + 1;
    }
    ring->framesPlayed += frames;
}
