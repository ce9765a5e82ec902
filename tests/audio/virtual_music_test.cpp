// The show's music through the audio threads and the virtual device, with the main thread busy drawing and
// flipping frames: what the listener hears must be the player's chunks back to back, bit for bit, after the
// ring's first silent lap, with no underrun and the cursor in step with the clock. The player itself serves as
// the signal source; it is run a second time on its own, without threads or device, for the expected audio.
// QUIMBLES_SOAK_SECONDS sets the length (default 20 s of virtual time; the soak runs 600).

#include "app/display.h"
#include "app/virtual_platform.h"
#include "audio/mixer.h"
#include "audio/sound_device.h"
#include "audio/sound_stats.h"
#include "audio/stream.h"
#include "music/music.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string ModulePath = std::string(QUIMBLES_CORPUS_DIR) + "/xm/heroes-sound-tracks--intro.xm";

void Collect(const int16_t* samples, uint32_t frames, void* context) {
    auto* heard = static_cast<std::vector<int16_t>*>(context);
    heard->insert(heard->end(), samples, samples + 2 * frames);
}

// The player on its own, set up as the show sets it up.
std::vector<int16_t> RenderDirectly(size_t chunks) {
    BuildPeriodTables();
    EXPECT_GE(LoadModule(ModulePath.c_str()), 0) << ModuleError();
    SetRepeatMode(1);
    SetFadeMode(4);
    PrepareMusic();
    RequestModule(0);
    std::vector<int16_t> out;
    for (size_t i = 0; i < chunks; ++i) {
        const int16_t* chunk = RenderFrames(ChunkFrames);
        out.insert(out.end(), chunk, chunk + 2 * ChunkFrames);
    }
    ReleaseMusic();
    return out;
}

} // namespace

TEST(VirtualMusic, TheListenerHearsThePlayersChunksWithoutUnderrunOrDrift) {
    const char* env = getenv("QUIMBLES_SOAK_SECONDS");
    const int seconds = env ? atoi(env) : 20;
    ASSERT_GT(seconds, 2);

    ResetVirtualPlatform();
    std::vector<int16_t> heard;
    SetVirtualAudioCallback(Collect, &heard);
    ASSERT_TRUE(InitDisplay());
    ASSERT_EQ(OpenSound(), 1);
    BuildPeriodTables();
    ASSERT_GE(LoadModule(ModulePath.c_str()), 0) << ModuleError();
    SetRepeatMode(1);
    SetFadeMode(4);
    StartMusic();
    RequestModule(0);
    // The main thread draws every frame (work a real show would do) and flips at 60 Hz.
    std::vector<uint32_t> frame(640 * 480);
    uint32_t seed = 1;
    const uint64_t flips = uint64_t(seconds) * 60;
    for (uint64_t f = 0; f < flips; ++f) {
        for (uint32_t& p : frame)
            p = (seed = seed * 1664525u + 1013904223u) >> 8;
        PresentFrame(frame.data());
        FlipFrame();
    }
    const uint64_t stopTime = VirtualTimeNs();
    const uint64_t played = CountFramesPlayed();
    StopMusic();
    CloseSound();
    ShutdownDisplay();
    EXPECT_EQ(StreamFault(), nullptr);
    EXPECT_EQ(CountUnderruns(), 0u);
    // Drift: the cursor started at time 0 and moves one frame per 1/44100 s, exactly.
    EXPECT_EQ(played, stopTime * 44100 / 1000000000);
    ASSERT_EQ(stopTime, (flips * 1000000000 + 59) / 60);

    const uint64_t stopFrame = stopTime * 44100 / 1000000000;
    const size_t musicFrames = size_t(stopFrame - 28224);
    const std::vector<int16_t> expected = RenderDirectly(musicFrames / ChunkFrames + 1);
    for (size_t i = 0; i < 2 * 28224; ++i)
        ASSERT_EQ(heard[i], 0) << "sample " << i;
    size_t firstDifference = musicFrames;
    for (size_t f = 0; f < musicFrames; ++f)
        if (heard[2 * (28224 + f)] != expected[2 * f] || heard[2 * (28224 + f) + 1] != expected[2 * f + 1]) {
            firstDifference = f;
            break;
        }
    EXPECT_EQ(firstDifference, musicFrames);
    printf("virtual soak: %d s, %llu chunks written, %llu frames played, %llu underruns, drift 0 frames\n", seconds,
           (unsigned long long)CountChunksWritten(), (unsigned long long)played, (unsigned long long)CountUnderruns());
}
