// Drives the Linux platform for the end-to-end script:
//   quimbles-sdl-probe frame EXPECTED.ppm  shows a known frame and keeps flipping until SIGINT/SIGTERM; writes the
//                                          frame it presented as a PPM so the script can compare the X screen.
//   quimbles-sdl-probe sound SECONDS REFERENCE.raw [busy]
//                                          plays a noise "music" through the show's threads and the SDL device,
//                                          writes every chunk it rendered (16-bit stereo) to REFERENCE.raw, prints
//                                          the counters; with "busy" the main thread spins meanwhile.
// Exit status: 0 done, 1 set-up failed (reason on stderr), 128 + signal when ended by a signal.

#include "app/display.h"
#include "app/exit_signals.h"
#include "app/system.h"
#include "audio/mixer.h"
#include "audio/sound_device.h"
#include "audio/sound_stats.h"
#include "audio/stream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int16_t chunk[2 * ChunkFrames];
uint64_t chunksRendered = 0;
FILE* reference = nullptr;

// A noise that a correlation can line up without doubt; no period shorter than the run.
int16_t Noise(uint64_t n) {
    uint64_t x = n * 0x9E3779B97F4A7C15ull + 0x1234567ull;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    return int16_t(int32_t(x % 24001) - 12000);
}

// What the show does on a signal: stop the music, give the devices back, end with 128 + the signal.
void EndOnSignal() {
    if (ExitSignal() == 0)
        return;
    fprintf(stderr, "quimbles-sdl-probe: ending on signal %d\n", ExitSignal());
    StopMusic();
    CloseSound();
    ShutdownDisplay();
    exit(128 + ExitSignal());
}

uint32_t Pattern(int x, int y) {
    return uint32_t((x & 255) << 16 | (y & 255) << 8 | ((x * 7 + y * 3) & 255));
}

int ShowFrame(const char* expectedPath) {
    if (!InitDisplay())
        return 1;
    std::vector<uint32_t> frame(size_t(ScreenWidth) * size_t(ScreenHeight));
    for (int y = 0; y < ScreenHeight; ++y)
        for (int x = 0; x < ScreenWidth; ++x)
            frame[size_t(y) * size_t(ScreenWidth) + size_t(x)] = Pattern(x, y);
    FILE* out = fopen(expectedPath, "wb");
    if (!out) {
        fprintf(stderr, "quimbles-sdl-probe: cannot write %s\n", expectedPath);
        ShutdownDisplay();
        return 1;
    }
    fprintf(out, "P6\n%d %d\n255\n", int(ScreenWidth), int(ScreenHeight));
    for (uint32_t p : frame) {
        const unsigned char rgb[3] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
        fwrite(rgb, 1, 3, out);
    }
    fclose(out);
    const uint64_t start = ReadPerformanceCounter();
    for (uint64_t flips = 0;; ++flips) {
        PresentFrame(frame.data());
        FlipFrame();
        EndOnSignal();
        if (flips == 10) {
            printf("shown\n");
            fflush(stdout);
        }
        if (ReadPerformanceCounter() - start > 60ull * 1000000000ull) {
            fprintf(stderr, "quimbles-sdl-probe: nobody stopped the frame probe within a minute\n");
            break;
        }
    }
    ShutdownDisplay();
    return 1;
}

// The noise "music": chunk after chunk of the same endless noise, left and right different.
int16_t* RenderNoise(int frames) {
    for (int i = 0; i < frames; ++i) {
        const uint64_t f = chunksRendered * uint64_t(ChunkFrames) + uint64_t(i);
        chunk[2 * i] = Noise(2 * f);
        chunk[2 * i + 1] = Noise(2 * f + 1);
    }
    ++chunksRendered;
    fwrite(chunk, 4, size_t(frames), reference);
    return chunk;
}

int PlaySound(double seconds, const char* referencePath, bool busy) {
    reference = fopen(referencePath, "wb");
    if (!reference) {
        fprintf(stderr, "quimbles-sdl-probe: cannot write %s\n", referencePath);
        return 1;
    }
    if (OpenSound() != 1)
        return 1;
    StartStream({RenderNoise, nullptr, nullptr});
    const uint64_t start = ReadPerformanceCounter();
    const uint64_t length = uint64_t(seconds * 1e9);
    // The lead is measured once the stream runs steadily, after the start-up silence.
    bool steady = false;
    // Lead of the written audio over the cursor, in frames: chunk n ends at frame 28224 + 3528 (n + 1) of what the
    // cursor has played, the first lap of the ring being silence. Chunks are read before the cursor, so a sample
    // never overstates the lead.
    int64_t minLead = INT64_MAX, maxLead = INT64_MIN;
    volatile uint64_t spin = 0;
    while (ReadPerformanceCounter() - start < length) {
        steady = steady || ReadPerformanceCounter() - start > 1500000000ull;
        if (steady) {
            const int64_t end = 28224 + int64_t(CountChunksWritten()) * ChunkFrames;
            const int64_t lead = end - int64_t(CountFramesPlayed());
            minLead = lead < minLead ? lead : minLead;
            maxLead = lead > maxLead ? lead : maxLead;
        }
        EndOnSignal();
        if (busy) {
            // Keep the main thread busy the way picture decoding does, with a short breath each frame.
            const uint64_t until = ReadPerformanceCounter() + 15000000;
            while (ReadPerformanceCounter() < until)
                spin = spin + 1;
            SleepMs(1);
        } else {
            SleepMs(10);
        }
    }
    const uint64_t played = CountFramesPlayed();
    const uint64_t end = ReadPerformanceCounter();
    const double elapsed = double(end - start) / 1e9;
    const uint64_t written = CountChunksWritten();
    StopMusic();
    CloseSound();
    fclose(reference);
    printf("seconds %.3f chunks %llu framesPlayed %llu underruns %llu leadFrames %lld..%lld fault %s\n", elapsed,
           (unsigned long long)written, (unsigned long long)played, (unsigned long long)CountUnderruns(),
           (long long)minLead, (long long)maxLead, StreamFault() ? StreamFault() : "none");
    return StreamFault() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    CatchExitSignals();
    if (argc >= 3 && strcmp(argv[1], "frame") == 0)
        return ShowFrame(argv[2]);
    if (argc >= 4 && strcmp(argv[1], "sound") == 0)
        return PlaySound(atof(argv[2]), argv[3], argc >= 5 && strcmp(argv[4], "busy") == 0);
    fprintf(stderr, "usage: quimbles-sdl-probe frame EXPECTED.ppm | sound SECONDS REFERENCE.raw [busy]\n");
    return 2;
}
