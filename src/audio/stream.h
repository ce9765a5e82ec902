#pragma once
#include <atomic>
#include <cstdint>

// Music output: the sound device, the looping stream buffer and the two audio threads that keep it fed.

// Opens the default sound device. Returns 1 on success, -1 on failure (with a one-line reason on stderr).
int OpenSound();
void CloseSound();

// Starts the mixer and feeder threads on the prepared player; the show calls it once, after loading the music.
void StartMusic();
// Stops both threads, frees the player's buffers and modules and releases the stream buffer.
void StopMusic();

// --- The audio threads' side (stream.cpp, the same on every platform) ---

constexpr int32_t ChunkBytes = 14112; // one chunk of 3528 frames

// The hand-shake between the threads: each flag is stored (release) only after the work it announces is done.
extern std::atomic<int32_t> chunkReady;    // 1 while the chunk buffer holds a mixed chunk not yet written
extern std::atomic<int32_t> renderRequest; // 1 while the feeder waits for the mixer to mix the next chunk
extern std::atomic<int32_t> stopRequest;   // 1 tells both audio threads to leave their loops
extern std::atomic<int32_t> exitCount;     // audio threads that have left their loops
// Byte offset of the next chunk in the stream buffer; a multiple of ChunkBytes. Only the feeder writes it.
extern uint32_t streamOffset;

// Writes one chunk at streamOffset once the play cursor has left half the ring free, then advances streamOffset
// by `bytes` (also when the chunk had to be dropped). Gives up waiting after StreamWaitLimitMs.
void WriteChunk(const int16_t* samples, int32_t bytes);
void FeederThread();
void MixerThread();

// How long (milliseconds of the platform's clock) any wait of the audio path may last before it gives up: the
// feeder's wait for the play cursor, WriteChunk's wait for room, StopMusic's wait for the threads.
extern uint32_t StreamWaitLimitMs;

// True from StartMusic until StopMusic has finished.
bool IsMusicRunning();
// Null while all is well; after a wait gave up (the audio was then stopped), a one-line reason, also on stderr.
const char* StreamFault();
// Chunks written into the stream buffer since StartMusic.
uint64_t CountChunksWritten();

// Called on the audio thread right after each chunk is rendered, while that thread owns the player: the place to
// read player state without racing the mixer. `chunk` counts from 0 at StartMusic. Set it before StartMusic.
using ChunkObserver = void (*)(uint64_t chunk, void* context);
void SetChunkObserver(ChunkObserver observer, void* context);
