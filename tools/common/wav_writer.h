#pragma once
#include <cstdint>
#include <cstdio>

// WAV files in the show's audio format: linear PCM, 16-bit, stereo, 44100 frames per second. The sizes in the
// header are written when the file is closed.
struct WavWriter {
    std::FILE* file = nullptr;
    uint64_t frames = 0;
    bool failed = false; // a write went wrong
};

// False when the file cannot be created (errno says why); the writer stays closed then.
bool OpenWav(WavWriter* wav, const char* path);
// Appends `frames` frames of interleaved samples, left first; nothing when the writer is closed.
void WriteWavFrames(WavWriter* wav, const int16_t* samples, uint64_t frames);
// Writes the sizes and closes the file; false when any write failed. True at once when the writer is closed.
bool CloseWav(WavWriter* wav);
