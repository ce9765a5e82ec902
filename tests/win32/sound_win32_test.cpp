// The DirectSound stream buffer: set-up, the play cursor against real time, bounds of writes, and the device's
// underrun count. Needs a sound device (under Wine: a PulseAudio server).
#include "app/system.h"
#include "audio/sound_device.h"
#include "audio/stream_threads.h"
#include "devices_required.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

class SoundWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        if (OpenSound() != 1) {
            if (DevicesRequired()) {
                FAIL() << "no sound device, although the test run provides one";
            }
            GTEST_SKIP() << "no sound device";
        }
    }
    void TearDown() override { CloseSound(); }
};

// Polls the cursor for `ms` milliseconds (as the feeder does while it waits) and returns the last reading.
uint32_t PollFor(uint32_t ms) {
    const DWORD start = GetTickCount();
    uint32_t cursor = GetPlayPosition();
    while (GetTickCount() - start < ms) {
        cursor = GetPlayPosition();
        Sleep(2);
    }
    return cursor;
}

TEST_F(SoundWin32, CursorFollowsRealTimeAndStaysOnFrames) {
    ASSERT_TRUE(CreateStreamBuffer(StreamBufferFrames));
    EXPECT_EQ(GetPlayPosition(), 0u) << "stopped until played";
    Sleep(50);
    EXPECT_EQ(GetPlayPosition(), 0u);
    PlayStreamBuffer();
    const DWORD start = GetTickCount();
    uint32_t cursor = 0;
    // Watch it until it has moved a good part of the ring (but not wrapped: 0.64 s is the whole ring).
    while (GetTickCount() - start < 300) {
        cursor = GetPlayPosition();
        EXPECT_EQ(cursor % 4, 0u);
        EXPECT_LT(cursor, StreamBufferBytes);
        Sleep(2);
    }
    const double expected = 176400.0 * (GetTickCount() - start) / 1000.0;
    // A device plays in periods of some milliseconds, and Wine's mixer adds its own: allow 120 ms either way.
    EXPECT_NEAR(static_cast<double>(cursor), expected, 176400.0 * 0.12);
    EXPECT_GT(cursor, 0u);
    ReleaseStreamBuffer();
}

TEST_F(SoundWin32, WritesAreBoundedAndWrapAroundTheRing) {
    ASSERT_TRUE(CreateStreamBuffer(StreamBufferFrames));
    std::vector<int16_t> chunk(ChunkBytes / 2, 1000);
    EXPECT_EQ(WriteStreamBuffer(StreamBufferBytes - 4000, chunk.data(), ChunkBytes), StreamWriteOk);
    EXPECT_EQ(WriteStreamBuffer(StreamBufferBytes, chunk.data(), ChunkBytes), StreamWriteFailed);
    std::vector<int16_t> tooMuch(StreamBufferBytes / 2 + 2);
    EXPECT_EQ(WriteStreamBuffer(0, tooMuch.data(), StreamBufferBytes + 4), StreamWriteFailed);
    EXPECT_EQ(WriteStreamBuffer(0, tooMuch.data(), StreamBufferBytes), StreamWriteOk) << "a whole ring fits";
    ReleaseStreamBuffer();
    EXPECT_EQ(WriteStreamBuffer(0, chunk.data(), ChunkBytes), StreamWriteFailed) << "no buffer any more";
}

TEST_F(SoundWin32, UnderrunsCountOnceTheWrittenAudioRunsOut) {
    ASSERT_TRUE(CreateStreamBuffer(StreamBufferFrames));
    const uint64_t before = CountUnderruns();
    PlayStreamBuffer();
    // The silence before anything was written is not an underrun.
    PollFor(250);
    EXPECT_EQ(CountUnderruns(), before);
    // One chunk just ahead of the cursor: heard within a few milliseconds, used up 80 ms later.
    std::vector<int16_t> chunk(ChunkBytes / 2, 500);
    const uint32_t cursor = GetPlayPosition();
    const uint32_t offset = (cursor / ChunkBytes + 1) * ChunkBytes % StreamBufferBytes;
    ASSERT_EQ(WriteStreamBuffer(offset, chunk.data(), ChunkBytes), StreamWriteOk);
    PollFor(300);
    EXPECT_EQ(CountUnderruns(), before + 1) << "one stretch of stale frames after the chunk";
    // The next chunk ends the stretch; when it runs out too, that is a second one.
    const uint32_t next = (GetPlayPosition() / ChunkBytes + 1) * ChunkBytes % StreamBufferBytes;
    ASSERT_EQ(WriteStreamBuffer(next, chunk.data(), ChunkBytes), StreamWriteOk);
    PollFor(300);
    EXPECT_EQ(CountUnderruns(), before + 2);
    // A new stream buffer keeps the count: it runs since the program started.
    ReleaseStreamBuffer();
    ASSERT_TRUE(CreateStreamBuffer(StreamBufferFrames));
    EXPECT_EQ(CountUnderruns(), before + 2);
    ReleaseStreamBuffer();
}

} // namespace
