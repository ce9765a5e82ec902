// The stream buffer of the pulled devices, pulled by hand: silence and a still cursor before Play, the frames as
// written after it, and each stretch of frames played again without being written counted once as an underrun.

#include "audio/sound_device.h"
#include "audio/sound_pulled.h"
#include "audio/sound_stats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int16_t> Pull(uint32_t frames) {
    std::vector<int16_t> out(2 * frames, 0x5555);
    PullSoundBlock(out.data(), frames);
    return out;
}

std::vector<int16_t> Frames(int16_t first, uint32_t count) {
    std::vector<int16_t> v;
    for (uint32_t i = 0; i < count; ++i)
        v.insert(v.end(), {int16_t(first + i), int16_t(-first - int16_t(i))});
    return v;
}

TEST(PulledStreamBuffer, PlaysWhatWasWrittenAndCountsEachStaleStretchOnce) {
    SetPulledDeviceOpen(false);
    EXPECT_FALSE(CreateStreamBuffer(8));
    SetPulledDeviceOpen(true);
    ASSERT_TRUE(CreateStreamBuffer(8)); // 32 bytes
    const uint64_t underruns = CountUnderruns(), played = CountFramesPlayed();

    // Before Play: silence, the cursor stays at 0, and nothing is counted.
    EXPECT_EQ(WriteStreamBuffer(0, Frames(1, 8).data(), 32), StreamWriteOk);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Pull(4), std::vector<int16_t>(8, 0));
    EXPECT_EQ(GetPlayPosition(), 0u);
    PlayStreamBuffer(); // three pulls have gone by since the buffer was made: at once

    EXPECT_EQ(Pull(6), Frames(1, 6));
    EXPECT_EQ(GetPlayPosition(), 24u);
    // A write that wraps at the ring's end: frames 6, 7, 0 and 1.
    EXPECT_EQ(WriteStreamBuffer(24, Frames(100, 4).data(), 16), StreamWriteOk);
    EXPECT_EQ(Pull(4), Frames(100, 4));
    EXPECT_EQ(CountUnderruns(), underruns);
    // Frames 2..5 were played and not written again: one stretch, one underrun, however long.
    Pull(3);
    EXPECT_EQ(CountUnderruns(), underruns + 1);
    Pull(1);
    EXPECT_EQ(CountUnderruns(), underruns + 1);
    EXPECT_EQ(GetPlayPosition(), 24u);
    // Fresh frames end the stretch; the next stale one starts another.
    EXPECT_EQ(WriteStreamBuffer(24, Frames(200, 2).data(), 8), StreamWriteOk);
    EXPECT_EQ(Pull(2), Frames(200, 2));
    Pull(1);
    EXPECT_EQ(CountUnderruns(), underruns + 2);
    EXPECT_EQ(CountFramesPlayed(), played + 17);

    // The totals go on across buffers; a new buffer starts silent and stopped again.
    ReleaseStreamBuffer();
    EXPECT_EQ(WriteStreamBuffer(0, Frames(1, 1).data(), 4), StreamWriteFailed);
    ASSERT_TRUE(CreateStreamBuffer(8));
    EXPECT_EQ(Pull(2), std::vector<int16_t>(4, 0));
    EXPECT_EQ(GetPlayPosition(), 0u);
    EXPECT_EQ(CountUnderruns(), underruns + 2);
    EXPECT_EQ(CountFramesPlayed(), played + 17);
    ReleaseStreamBuffer();
    SetPulledDeviceOpen(false);
}

} // namespace
