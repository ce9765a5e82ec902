#pragma once
#include <cstdint>

// The sound device as the audio threads see it: one looping stream buffer (a ring of 16-bit stereo frames at
// 44100 frames per second) with a play cursor, written ahead of the cursor chunk by chunk. One implementation per
// platform (sound_win32.cpp, sound_sdl.cpp, sound_virtual.cpp); stream.cpp drives it the same way everywhere.

// Opens the default sound device. Returns 1 on success, -1 on failure (with a one-line reason on stderr).
int OpenSound();
// Closes the device; nothing when it is not open.
void CloseSound();

constexpr uint32_t StreamBufferFrames = 28224;                 // 0.64 s, exactly 8 chunks
constexpr uint32_t StreamBufferBytes = StreamBufferFrames * 4; // 112896

// Creates the stream buffer of `frames` frames on the open device: zero-filled, stopped, play cursor at 0.
// Returns false with a one-line reason on stderr (no device open, the device refused the buffer).
bool CreateStreamBuffer(int32_t frames);
// Stops playback and frees the stream buffer; nothing when there is none.
void ReleaseStreamBuffer();

// Starts looping playback from the play cursor.
void PlayStreamBuffer();
// The play cursor: byte offset 0..StreamBufferBytes-1 of the next frame to be heard, always a multiple of 4.
// 0 before playback starts. A poll that finds no progress may give the processor up for a moment; on the virtual
// platform a second poll in the same instant that finds the cursor unmoved is a wait (the clock may go on).
uint32_t GetPlayPosition();

enum StreamWriteResult {
    StreamWriteOk = 0,
    StreamWriteLost = 1,   // the buffer was lost (its memory given away); RestoreStreamBuffer, then write again
    StreamWriteFailed = 2, // anything else; nothing was written
};
// Copies `bytes` bytes (a multiple of 4, at most StreamBufferBytes) from `samples` into the ring at byte
// `offset`, wrapping at the end of the ring.
StreamWriteResult WriteStreamBuffer(uint32_t offset, const void* samples, uint32_t bytes);
// Gives a lost buffer its memory back (contents undefined until written again); false when that fails.
bool RestoreStreamBuffer();

// Underruns counted by the device since the program started: each stretch of frames that the cursor played
// again without their having been written since it last passed them, once the first written frame of the stream
// buffer was heard. The silence before the first chunk arrives is not counted.
uint64_t CountUnderruns();
