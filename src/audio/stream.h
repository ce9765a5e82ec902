#pragma once
#include <cstdint>

// Music output: the looping stream buffer of the sound device (sound_device.h) and the two audio threads that
// keep it fed.

// Where the chunks come from: `render` gives the next `frames` frames (2 int16 each, left sample first), `prepare`
// runs before the threads start and `release` once they have ended (either may be null). The music's source is
// the mix-down (RenderFrames, PrepareMusic, ReleaseMusic); the platforms' probes play a known signal of their own
// through the same threads and device.
struct ChunkSource {
    int16_t* (*render)(int frames);
    void (*prepare)();
    void (*release)();
};

// Starts the feeder and mixer threads on `source`; nothing when the stream already runs.
void StartStream(ChunkSource source);
// StartStream of the mix-down; the show calls it once, after loading the music.
void StartMusic();
// Stops both threads, releases the source (for the music: frees the player's buffers and modules) and the stream
// buffer.
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
