#pragma once
#include <atomic>
#include <cstdint>

// The audio threads' side of the stream (stream.cpp, the same on every platform): what they hand each other, for
// the stream itself and for tests that drive the threads step by step.

constexpr int32_t ChunkBytes = 14112; // one chunk of 3528 frames

// The hand-shake between the threads: each flag is stored (release) only after the work it announces is done.
extern std::atomic<int32_t> chunkReady;    // 1 while the chunk buffer holds a mixed chunk not yet written
extern std::atomic<int32_t> renderRequest; // 1 while the feeder waits for the mixer to mix the next chunk
extern std::atomic<int32_t> exitCount;     // audio threads that have left their loops
// Byte offset of the next chunk in the stream buffer; a multiple of ChunkBytes. Only the feeder writes it.
extern uint32_t streamOffset;

// Writes one chunk at streamOffset once the play cursor has left half the ring free, then advances streamOffset
// by `bytes` (also when the chunk had to be dropped). Waits as long as the cursor moves; gives up when it has stood
// still for StreamStallLimitMs, and returns without writing when the music is being stopped.
void WriteChunk(const int16_t* samples, int32_t bytes);

// How long (milliseconds of the platform's clock) the waits for our own threads may last before they give up:
// the feeder's wait for the mixer's chunk, StopMusic's wait for the threads.
extern uint32_t StreamWaitLimitMs;
// How long the play cursor may stand still before the stream gives up on the device: at start-up (until it has
// passed half the ring) and in WriteChunk. A sound server starved by a busy machine stops the cursor for seconds
// and then goes on; a device that is gone never does.
extern uint32_t StreamStallLimitMs;
