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

std::vector<int16_t> RunShow(bool flipping) {
    ResetVirtualPlatform();
    ResetFakeMixer();
    Heard heard;
    SetVirtualAudioCallback(CollectAudio, &heard);
    EXPECT_EQ(OpenSound(), 1);
    StartMusic();
    std::vector<uint32_t> frame(640 * 480);
    for (int i = 0; i < 120; ++i) {
        if (flipping) {
            frame.assign(frame.size(), uint32_t(i * 0x010203));
            PresentFrame(frame.data());
            FlipFrame();
        } else {
            SleepMs(17);
        }
    }
    StopMusic();
    SleepMs(100);
    CloseSound();
    return heard.samples;
}

} // namespace

TEST_F(StreamTest, ThreadsHandChunksOverAndTheListenerHearsThemInOrder) {
    ASSERT_EQ(OpenSound(), 1);
    // The observer runs right after each render, on the thread that rendered it.
    struct Observed {
        std::vector<uint64_t> chunks;
        int mismatches = 0;
    } observed;
    SetChunkObserver(
        [](uint64_t chunk, void* context) {
            auto* o = static_cast<Observed*>(context);
            o->chunks.push_back(chunk);
            if (uint64_t(fakeMixer.renders) != chunk + 1 || VirtualThreadIndex() != (chunk == 0 ? 1 : 2))
                ++o->mismatches;
        },
        &observed);
    StartMusic();
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
    SetChunkObserver(nullptr, nullptr);
    ASSERT_EQ(observed.chunks.size(), size_t(fakeMixer.renders));
    for (size_t n = 0; n < observed.chunks.size(); ++n)
        EXPECT_EQ(observed.chunks[n], n);
    EXPECT_EQ(observed.mismatches, 0);

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
    // Chunk 0 at 0.32 s; chunk n once the cursor is at (n + 4) x 14112 bytes, i.e. at 0.32 + 0.08 n s, give or
    // take the 1 ms poll.
    EXPECT_EQ(writes[0].time, VirtualTimeOfFrame(14112));
    for (size_t n = 1; n < writes.size(); ++n) {
        const uint64_t due = VirtualTimeOfFrame(14112 + 3528 * n);
        EXPECT_GE(writes[n].time, due) << "chunk " << n;
        EXPECT_LE(writes[n].time, due + 1 * Ms) << "chunk " << n;
    }
}

TEST_F(StreamTest, WriteChunkWaitsOnlyForRoomAndKeepsItsPlaceThroughLostAndFailedWrites) {
    ASSERT_EQ(OpenSound(), 1);
    ASSERT_TRUE(CreateStreamBuffer(StreamBufferFrames));
    std::vector<int16_t> chunk(ChunkBytes / 2);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = int16_t(i * 31 - 7000);
    std::vector<int16_t> back(chunk.size());

    // Cursor (0) equal to the offset: the whole ring counts as free, the chunk goes in at once.
    streamOffset = 0;
    WriteChunk(chunk.data(), ChunkBytes);
    EXPECT_EQ(VirtualNow(), 0u);
    SleepMs(1); // the feeder never writes twice in one instant
    EXPECT_EQ(streamOffset, 14112u);
    ASSERT_TRUE(ReadVirtualStreamBuffer(0, back.data(), ChunkBytes));
    EXPECT_EQ(back, chunk);

    // Offset 14112 ahead of a cursor at 0: 98784 bytes free, also at once.
    WriteChunk(chunk.data(), ChunkBytes);
    EXPECT_EQ(VirtualNow(), 1 * Ms);
    EXPECT_EQ(streamOffset, 28224u);
    SleepMs(1);

    // A lost buffer is restored and the chunk written all the same.
    LoseVirtualStreamBuffer();
    WriteChunk(chunk.data(), ChunkBytes);
    EXPECT_EQ(CountVirtualLostWrites(), 1u);
    EXPECT_EQ(streamOffset, 42336u);
    ASSERT_TRUE(ReadVirtualStreamBuffer(28224, back.data(), ChunkBytes));
    EXPECT_EQ(back, chunk);
    ASSERT_EQ(writes.size(), 4u); // three chunks, one of them tried twice
    EXPECT_EQ(writes[2].offset, 28224u);
    EXPECT_EQ(writes[3].offset, 28224u);

    // Lost, and the write after the restore fails too: the chunk is dropped, the ring keeps what it held there,
    // and the offset moves on all the same so that the next chunk lands where it belongs.
    std::vector<int16_t> before(chunk.size());
    ASSERT_TRUE(ReadVirtualStreamBuffer(42336, before.data(), ChunkBytes));
    const uint64_t writtenBefore = CountChunksWritten();
    LoseVirtualStreamBuffer();
    FailVirtualStreamWrites(1);
    WriteChunk(chunk.data(), ChunkBytes);
    EXPECT_EQ(streamOffset, 56448u);
    ASSERT_TRUE(ReadVirtualStreamBuffer(42336, back.data(), ChunkBytes));
    EXPECT_EQ(back, before);
    EXPECT_EQ(CountChunksWritten(), writtenBefore); // the dropped one is not counted

    // Offset 70560 with the cursor playing from 0: 42336 bytes free, so it waits until the cursor has reached
    // 14112 bytes, 3528 frames (80 ms) later, give or take the 1 ms poll.
    SleepMs(1);
    streamOffset = 70560;
    const uint64_t playAt = VirtualNow();
    PlayStreamBuffer();
    WriteChunk(chunk.data(), ChunkBytes);
    const uint64_t due = VirtualTimeOfFrame(VirtualFrameAt(playAt) + 3528);
    EXPECT_GE(VirtualNow(), due);
    EXPECT_LE(VirtualNow(), due + 1 * Ms);
    EXPECT_GE(VirtualNow() - playAt, 80 * Ms - 23000);
    EXPECT_EQ(writes.back().offset, 70560u);
    EXPECT_EQ(streamOffset, 84672u);
    EXPECT_EQ(StreamFault(), nullptr);
}

TEST_F(StreamTest, EveryWaitGivesUpAfterItsBound) {
    StreamWaitLimitMs = 300;
    ASSERT_EQ(OpenSound(), 1);
    ASSERT_TRUE(CreateStreamBuffer(StreamBufferFrames));
    // A cursor that never moves: WriteChunk gives up instead of waiting for room for ever.
    FreezeVirtualPlayCursor(true);
    PlayStreamBuffer();
    streamOffset = 98784;
    std::vector<int16_t> chunk(ChunkBytes / 2, 1000);
    WriteChunk(chunk.data(), ChunkBytes);
    EXPECT_GE(VirtualNow(), 300 * Ms);
    EXPECT_LE(VirtualNow(), 310 * Ms);
    ASSERT_NE(StreamFault(), nullptr);
    EXPECT_NE(std::string(StreamFault()).find("cursor"), std::string::npos);
    EXPECT_EQ(streamOffset, 98784u); // nothing was written
    EXPECT_TRUE(writes.empty());
}

TEST_F(StreamTest, AFrozenCursorAtStartStopsTheAudioCleanly) {
    StreamWaitLimitMs = 500;
    ASSERT_EQ(OpenSound(), 1);
    FreezeVirtualPlayCursor(true);
    StartMusic();
    SleepMs(1000);
    ASSERT_NE(StreamFault(), nullptr);
    EXPECT_NE(std::string(StreamFault()).find("did not start"), std::string::npos);
    // Both threads are already gone; stopping takes no time and frees everything.
    EXPECT_EQ(exitCount.load(), 2);
    const uint64_t before = VirtualNow();
    StopMusic();
    EXPECT_EQ(VirtualNow(), before);
    EXPECT_FALSE(IsMusicRunning());
    EXPECT_EQ(fakeMixer.released, 1);
}

TEST_F(StreamTest, AStalledMixerEndsTheMusicWithSilenceNotALoop) {
    StreamWaitLimitMs = 500;
    fakeMixer.stallOnRender = 5; // the fourth chunk of the mixer takes 1.5 s
    fakeMixer.stallMs = 1500;
    ASSERT_EQ(OpenSound(), 1);
    StartMusic();
    SleepMs(4000);
    ASSERT_NE(StreamFault(), nullptr);
    EXPECT_NE(std::string(StreamFault()).find("mixer"), std::string::npos);
    StopMusic();
    EXPECT_FALSE(IsMusicRunning());
    EXPECT_EQ(fakeMixer.released, 1);
    EXPECT_EQ(exitCount.load(), 2);
    // The four chunks written are heard in order, then the silenced ring: no 0.64 s loop of old music.
    EXPECT_EQ(CountChunkFramesInOrder(28224, 28224 + 4 * 3528), 4 * 3528);
    for (uint64_t f = 28224 + 4 * 3528; f < 2 * 44100 + 28224; ++f)
        ASSERT_EQ(heard.samples[2 * f], 0) << "frame " << f;
}

TEST_F(StreamTest, StopGivesUpOnAThreadThatDoesNotEndAndKeepsItsBuffers) {
    StreamWaitLimitMs = 400;
    fakeMixer.stallOnRender = 3;
    fakeMixer.stallMs = 5000;
    ASSERT_EQ(OpenSound(), 1);
    StartMusic();
    SleepMs(1000);
    const uint64_t stopAt = VirtualNow();
    StopMusic();
    // The wait for exitCount and the join each give up after their bound.
    EXPECT_LE(VirtualNow() - stopAt, 820 * Ms);
    EXPECT_FALSE(IsMusicRunning());
    ASSERT_NE(StreamFault(), nullptr);
    // The mixer may still touch the player: it is not freed under its feet.
    EXPECT_EQ(fakeMixer.released, 0);
    // Let the stalled mixer finish and leave, then clear its slot.
    SleepMs(6000);
    EXPECT_EQ(exitCount.load(), 2);
    EXPECT_TRUE(JoinAudioThreads(0));
}

TEST_F(StreamTest, TheSameRunGivesTheSameSound) {
    const std::vector<int16_t> first = RunShow(true);
    const std::vector<int16_t> second = RunShow(true);
    ASSERT_GT(first.size(), 2u * 44100 * 2);
    EXPECT_TRUE(first == second);
    // The flips do not change what is heard: a sleeping main thread gives the same sound.
    const std::vector<int16_t> sleeping = RunShow(false);
    const size_t common = std::min(first.size(), sleeping.size()) - 2 * 44100 / 10;
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + common, sleeping.begin()));
}

TEST_F(StreamTest, SetUpFailuresAreReported) {
    SetVirtualSoundAvailable(false);
    EXPECT_EQ(OpenSound(), -1);
    EXPECT_FALSE(CreateStreamBuffer(StreamBufferFrames));
    // Without a stream buffer the show goes on silently and the player is still freed.
    StartMusic();
    EXPECT_NE(StreamFault(), nullptr);
    StopMusic();
    EXPECT_EQ(fakeMixer.prepared, 1);
    EXPECT_EQ(fakeMixer.released, 1);
    EXPECT_FALSE(IsMusicRunning());
}
