#pragma once
#include <cstdint>

// What the DirectSound device works out for itself, apart from DirectSound, so that it can be checked alone.

// Frames the play cursor went through between two readings (byte offsets into the stream buffer, whole frames):
// the distance forwards around the ring, so a reading equal to the last is none. The device reads the cursor far
// more often than once per ring (0.64 s), so the forward distance is what was played.
uint32_t FramesPlayedBetween(uint32_t lastCursor, uint32_t cursor);
