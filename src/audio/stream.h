#pragma once
#include <cstdint>

// Music output: the looping stream buffer of the sound device (sound_device.h) and the two audio threads that
// keep it fed.

// Starts the mixer and feeder threads on the prepared player; the show calls it once, after loading the music.
void StartMusic();
// Stops both threads, frees the player's buffers and modules and releases the stream buffer.
void StopMusic();

// True from StartMusic until StopMusic has finished.
bool IsMusicRunning();
// Null while all is well; after a wait gave up (the audio was then stopped), a one-line reason, also on stderr.
const char* StreamFault();
// Chunks written into the stream buffer since StartMusic.
uint64_t CountChunksWritten();
// Gaps heard since StartMusic: times the play cursor stood still long enough for the device to run dry and then
// moved on (each also reported on stderr). The music goes on after a gap without losing or repeating a frame.
uint64_t CountStreamGaps();

// Called on the audio thread right after each chunk is rendered, while that thread owns the player: the place to
// read player state without racing the mixer. `chunk` counts from 0 at StartMusic. Set it before StartMusic.
using ChunkObserver = void (*)(uint64_t chunk, void* context);
void SetChunkObserver(ChunkObserver observer, void* context);
