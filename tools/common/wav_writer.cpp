#include "wav_writer.h"

#include <bit>

namespace {

constexpr uint32_t SampleRate = 44100;

void PutLe(uint8_t* at, uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
        at[k] = uint8_t(value >> (8 * k));
    }
}

void Write(WavWriter* wav, const uint8_t* bytes, size_t count) {
    if (std::fwrite(bytes, 1, count, wav->file) != count) {
        wav->failed = true;
    }
}

} // namespace

bool OpenWav(WavWriter* wav, const char* path) {
    *wav = WavWriter{};
    wav->file = std::fopen(path, "wb");
    if (!wav->file) {
        return false;
    }
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    PutLe(h + 16, 16, 4);             // fmt chunk size
    PutLe(h + 20, 1, 2);              // linear PCM
    PutLe(h + 22, 2, 2);              // stereo
    PutLe(h + 24, SampleRate, 4);     // frames per second
    PutLe(h + 28, SampleRate * 4, 4); // bytes per second
    PutLe(h + 32, 4, 2);              // bytes per frame
    PutLe(h + 34, 16, 2);             // bits per sample
    h[36] = 'd', h[37] = 'a', h[38] = 't', h[39] = 'a';
    Write(wav, h, sizeof h);
    return true;
}

void WriteWavFrames(WavWriter* wav, const int16_t* samples, uint64_t frames) {
    if (!wav->file) {
        return;
    }
    if constexpr (std::endian::native == std::endian::little) {
        // The samples in memory are already the file's little-endian bytes.
        Write(wav, reinterpret_cast<const uint8_t*>(samples), 4 * frames);
        wav->frames += frames;
        return;
    }
    // Little-endian bytes, written a block at a time.
    uint8_t bytes[4096];
    size_t used = 0;
    for (uint64_t i = 0; i < 2 * frames; i++) {
        PutLe(bytes + used, uint16_t(samples[i]), 2);
        used += 2;
        if (used == sizeof bytes) {
            Write(wav, bytes, used);
            used = 0;
        }
    }
    Write(wav, bytes, used);
    wav->frames += frames;
}

bool CloseWav(WavWriter* wav) {
    if (!wav->file) {
        return true;
    }
    // The sizes are 32-bit fields: past 4 GiB they wrap, as every writer of the format does.
    const uint64_t bytes = wav->frames * 4;
    uint8_t size[4];
    PutLe(size, uint32_t(36 + bytes), 4);
    if (std::fseek(wav->file, 4, SEEK_SET) != 0) {
        wav->failed = true;
    }
    Write(wav, size, 4);
    PutLe(size, uint32_t(bytes), 4);
    if (std::fseek(wav->file, 40, SEEK_SET) != 0) {
        wav->failed = true;
    }
    Write(wav, size, 4);
    const bool ok = std::fclose(wav->file) == 0 && !wav->failed;
    wav->file = nullptr;
    return ok;
}
