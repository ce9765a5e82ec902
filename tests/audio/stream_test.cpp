// The audio threads and the stream on the virtual platform, with a stand-in mix-down whose chunks the tests can
// recompute. Expected positions and times are worked out by hand from the ring's geometry: 8 chunks of 14112
// bytes, a chunk written once half the ring (56448 bytes) lies free ahead of the cursor, 44100 frames a second.

#include "app/display.h"
#include "app/system.h"
#include "app/virtual_clock.h"
#include "app/virtual_platform.h"
#include "audio/sound_device.h"
#include "audio/stream.h"
#include "audio/stream_threads.h"
#include "fake_mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t Ms = 1000000; // virtual nanoseconds

struct Heard {
    std::vector<int16_t> samples;
};

void CollectAudio(const int16_t* samples, uint32_t frames, void* context) {
    auto* heard = static_cast<Heard*>(context);
    heard->samples.insert(heard->samples.end(), samples, samples + 2 * frames);
}

struct Write {
    uint32_t offset;
    uint32_t bytes;
    uint64_t time;
};

void CollectWrite(uint32_t offset, uint32_t bytes, void* context) {
    static_cast<std::vector<Write>*>(context)->push_back({offset, bytes, VirtualNow()});
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetVirtualPlatform();
        ResetFakeMixer();
        StreamWaitLimitMs = 2000;
        StreamStallLimitMs = 10000;
        SetVirtualAudioCallback(CollectAudio, &heard);
        SetVirtualWriteObserver(CollectWrite, &writes);
    }
    void TearDown() override {
        if (IsMusicRunning())
            StopMusic();
        CloseSound();
        ResetVirtualPlatform();
    }
    // Frames of chunk material heard from frame `from` on must be chunk 0, 1, 2, ... back to back.
    int CountChunkFramesInOrder(uint64_t from, uint64_t to) {
        for (uint64_t f = from; f < to; ++f) {
            const uint64_t j = f - from;
            if (heard.samples[2 * f] != FakeSample(j / 3528, uint32_t(j % 3528), 0) ||
                heard.samples[2 * f + 1] != FakeSample(j / 3528, uint32_t(j % 3528), 1))
                return int(f - from);
        }
        return int(to - from);
    }
    Heard heard;
    std::vector<Write> writes;
};

} // namespace

TEST_F(StreamTest, ThreadsHandChunksOverAndTheListenerHearsThemInOrder) {
    ASSERT_EQ(OpenSound(), 1);
    StartStream(FakeMixerSource());
    EXPECT_TRUE(IsMusicRunning());
    SleepMs(3000);
    const uint64_t stopAt = VirtualNow();
    StopMusic();
    const uint64_t stoppedAt = VirtualNow();
    EXPECT_FALSE(IsMusicRunning());
    EXPECT_EQ(StreamFault(), nullptr);
    EXPECT_EQ(exitCount.load(), 2);
    // The feeder sleeps 70 ms per chunk; the threads leave within one of those and a poll.
    EXPECT_LE(stoppedAt - stopAt, 80 * Ms);

    EXPECT_EQ(fakeMixer.prepared, 1);
    EXPECT_EQ(fakeMixer.released, 1);
    EXPECT_EQ(fakeMixer.handshakeViolations, 0);
    EXPECT_EQ(fakeMixer.rendersByThread[0], 0);
    EXPECT_EQ(fakeMixer.rendersByThread[1], 1);
    EXPECT_EQ(fakeMixer.rendersByThread[2], fakeMixer.renders - 1);
    // The first chunk goes in at offset 0 when the cursor reaches the middle of the ring (0.32 s), and is heard
    // when the cursor comes round again, 28224 frames (0.64 s) after Play at time 0. Until then: silence.
    ASSERT_GE(heard.samples.size(), 2u * 132300);
    for (size_t i = 0; i < 2 * 28224; ++i)
        ASSERT_EQ(heard.samples[i], 0) << "sample " << i;
    // From there on every frame up to the stop is the next frame of the next chunk.
    const uint64_t stopFrame = VirtualFrameAt(stopAt);
    EXPECT_EQ(CountChunkFramesInOrder(28224, stopFrame), int(stopFrame - 28224));
    EXPECT_EQ(CountUnderruns(), 0u);
    // After the stream buffer is gone the listener hears silence.
    const uint64_t releasedFrame = VirtualFrameAt(stoppedAt) + 1;
    for (size_t f = releasedFrame; f < heard.samples.size() / 2; ++f)
        ASSERT_EQ(heard.samples[2 * f], 0);

    // Every chunk is written whole at the next multiple of 14112, wrapping after 8, never across the end.
    ASSERT_EQ(writes.size(), CountChunksWritten());
    ASSERT_GE(writes.size(), 30u);
    for (size_t n = 0; n < writes.size(); ++n) {
        EXPECT_EQ(writes[n].offset, (n * 14112) % 112896) << "chunk " << n;
        EXPECT_EQ(writes[n].bytes, 14112u);
        EXPECT_LE(writes[n].offset + writes[n].bytes, 112896u);
    }
    EXPECT_EQ(streamOffset, (writes.size() * 14112) % 112896);
    // Chunk 0 goes in when the cursor reaches the middle of the ring, 0.32 s after Play.
    EXPECT_EQ(writes[0].time, VirtualTimeOfFrame(14112));
}

TEST_F(StreamTest, AStallThatPassesLeavesAGapOnlyAStallOfTheFullLimitStopsTheStream) {
    ASSERT_EQ(OpenSound(), 1);
    StartStream(FakeMixerSource());
    SleepMs(1500);
    // The device stops for 3 s: nothing is heard meanwhile, and then the music goes on from the very next frame.
    testing::internal::CaptureStderr();
    FreezeVirtualPlayCursor(true);
    const uint64_t gapFrame = VirtualFrameAt(VirtualNow());
    SleepMs(3000);
    FreezeVirtualPlayCursor(false);
    SleepMs(1500);
    const std::string reports = testing::internal::GetCapturedStderr();
    EXPECT_EQ(CountStreamGaps(), 1u);
    // Reported once, with the time the feeder saw the cursor still (it may have slept through the first 70 ms).
    double seconds = 0;
    int length = 0;
    sscanf(reports.c_str(), "quimbles: audio: the play cursor stood still for %lf s; the music goes on\n%n", &seconds,
           &length);
    EXPECT_TRUE(length == int(reports.size()) && seconds >= 2.9 && seconds <= 3.0) << reports;
    // 3 s of silence from the stop; cut out, what was heard before and after it is seamless.
    const auto gap = heard.samples.begin() + 2 * ptrdiff_t(gapFrame);
    EXPECT_EQ(std::count(gap, gap + 2 * 132300, 0), 2 * 132300);
    heard.samples.erase(gap, gap + 2 * 132300);
    EXPECT_EQ(CountChunkFramesInOrder(28224, heard.samples.size() / 2), int(heard.samples.size() / 2 - 28224));
    EXPECT_EQ(CountUnderruns(), 0u);

    // A cursor still for the whole limit is a device gone: the stream gives up with its reason.
    FreezeVirtualPlayCursor(true);
    SleepMs(StreamStallLimitMs - 100);
    EXPECT_EQ(StreamFault(), nullptr);
    SleepMs(200);
    ASSERT_NE(StreamFault(), nullptr);
    EXPECT_EQ(std::string(StreamFault()), "the play cursor stopped moving");
    EXPECT_EQ(exitCount.load(), 2);
}

TEST_F(StreamTest, ALostBufferIsRestoredAndAFailedWriteIsDroppedInStep) {
    ASSERT_EQ(OpenSound(), 1);
    ASSERT_TRUE(CreateStreamBuffer(StreamBufferFrames));
    PlayStreamBuffer();
    streamOffset = 0;
    std::vector<int16_t> chunk(ChunkBytes / 2, 1000);
    const uint64_t before = CountChunksWritten();
    LoseVirtualStreamBuffer(); // restored, then written: it counts
    WriteChunk(chunk.data(), ChunkBytes);
    EXPECT_EQ(CountChunksWritten(), before + 1);
    FailVirtualStreamWrites(1); // dropped, but the offset still moves on with the cursor
    WriteChunk(chunk.data(), ChunkBytes);
    EXPECT_EQ(CountChunksWritten(), before + 1);
    EXPECT_EQ(streamOffset, 2u * ChunkBytes);
    ASSERT_EQ(writes.size(), 3u); // the lost attempt and its retry at the same place, then the failed one
    EXPECT_EQ((std::vector<uint32_t>{writes[0].offset, writes[1].offset, writes[2].offset}),
              (std::vector<uint32_t>{0, 0, ChunkBytes}));
}

TEST_F(StreamTest, SetUpFailuresAreReported) {
    SetVirtualSoundAvailable(false);
    EXPECT_EQ(OpenSound(), -1);
    EXPECT_FALSE(CreateStreamBuffer(StreamBufferFrames));
    // Without a stream buffer the show goes on silently and the player is still freed.
    StartStream(FakeMixerSource());
    EXPECT_NE(StreamFault(), nullptr);
    StopMusic();
    EXPECT_EQ(fakeMixer.prepared, 1);
    EXPECT_EQ(fakeMixer.released, 1);
    EXPECT_FALSE(IsMusicRunning());
}
