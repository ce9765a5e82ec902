// The Windows entry point end to end, with a stand-in show: WinMain sets up the window, the display and the sound
// device as for the real show, then this "script" plays a known stream through the audio threads and shows a
// known frame until the time is up. scripts/test-wine compares the X screen and the recorded sound with them.
//
// Environment: QUIMBLES_CHECK_FRAME  640x480 frame of 0x00RRGGBB words (required)
//              QUIMBLES_CHECK_MS     how long to show it and play (default 3000)
// Prints "presented" once the frame has been flipped for a while, and at the end "chunks=N underruns=N".
#include "app/display.h"
#include "app/system.h"
#include "audio/mixer.h"
#include "audio/sound_device.h"
#include "audio/stream.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int16_t chunkSamples[2 * ChunkFrames];
uint32_t generator = 1;

// The stream: 16-bit samples from a linear congruential generator (x = 1103515245 x + 12345 mod 2^32, sample =
// the top 16 bits), continuing from chunk to chunk, so that any stretch of it identifies its place.
int16_t* RenderGenerator(int frames) {
    for (int i = 0; i < 2 * frames; ++i) {
        generator = generator * 1103515245u + 12345u;
        chunkSamples[i] = static_cast<int16_t>(generator >> 16);
    }
    return chunkSamples;
}
void RestartGenerator() {
    generator = 1;
}

} // namespace

bool RunDemoScript() {
    const char* framePath = getenv("QUIMBLES_CHECK_FRAME");
    const char* duration = getenv("QUIMBLES_CHECK_MS");
    const uint64_t durationMs = duration != nullptr ? strtoull(duration, nullptr, 10) : 3000;
    std::vector<uint32_t> frame(640 * 480);
    FILE* file = framePath != nullptr ? fopen(framePath, "rb") : nullptr;
    if (file == nullptr || fread(frame.data(), 4, frame.size(), file) != frame.size()) {
        fprintf(stderr, "entry-check: cannot read a 640x480 frame from QUIMBLES_CHECK_FRAME\n");
        if (file != nullptr) {
            fclose(file);
        }
        return false;
    }
    fclose(file);

    StartStream({RenderGenerator, RestartGenerator, nullptr});
    const uint64_t frequency = ReadPerformanceFrequency();
    const uint64_t start = ReadPerformanceCounter();
    bool announced = false;
    uint64_t elapsedMs = 0;
    // Frame after frame as the show does; the flips and the pauses answer the window's messages.
    while (elapsedMs < durationMs) {
        PresentFrame(frame.data());
        FlipFrame();
        SleepMs(10);
        elapsedMs = (ReadPerformanceCounter() - start) * 1000 / frequency;
        if (!announced && elapsedMs >= 500) {
            printf("presented %dx%d\n", ScreenWidth, ScreenHeight);
            fflush(stdout);
            announced = true;
        }
    }
    StopMusic();
    printf("chunks=%llu underruns=%llu\n", static_cast<unsigned long long>(CountChunksWritten()),
           static_cast<unsigned long long>(CountUnderruns()));
    fflush(stdout);
    return true;
}
