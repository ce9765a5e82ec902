// The virtual clock, display and threads: refresh times, which picture each refresh shows, the order in which
// sleeping threads run, and audio frames lined up with refreshes. Expected times are worked out by hand:
// refresh k at ceil(k x 10^9 / rate) ns, audio frame f completed at ceil(f x 10^9 / 44100) ns.

#include "app/display.h"
#include "app/system.h"
#include "app/virtual_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The platform library leaves the mix-down to the music; these tests never start the music.
int16_t* RenderFrames(int) {
    return nullptr;
}
void PrepareMusic() {}
void ReleaseMusic() {}

namespace {

struct Shown {
    uint64_t refresh;
    uint32_t firstPixel;
    uint32_t lastPixel;
    uint64_t time;
};

void Record(const uint32_t* pixels, uint64_t refresh, void* context) {
    static_cast<std::vector<Shown>*>(context)->push_back({refresh, pixels[0], pixels[640 * 480 - 1], VirtualTimeNs()});
}

class VirtualPlatformTest : public ::testing::Test {
protected:
    void SetUp() override { ResetVirtualPlatform(); }
    void TearDown() override { ResetVirtualPlatform(); }
};

std::vector<uint32_t> Filled(uint32_t colour) {
    return std::vector<uint32_t>(640 * 480, colour);
}

std::string events;
void ThreadA() {
    for (int i = 0; i < 3; ++i) {
        events += "a" + std::to_string(ReadPerformanceCounter() / 1000000) + " ";
        SleepMs(10);
    }
}
void ThreadB() {
    for (int i = 0; i < 2; ++i) {
        events += "b" + std::to_string(ReadPerformanceCounter() / 1000000) + " ";
        SleepMs(15);
    }
}
void SleepLong() {
    SleepMs(500);
}

} // namespace

TEST_F(VirtualPlatformTest, FlipsWaitForTheNextRefreshAndShowAtIt) {
    std::vector<Shown> shown;
    SetVirtualRefreshCallback(Record, &shown);
    ASSERT_TRUE(InitDisplay());
    EXPECT_EQ(ScreenWidth, 640);
    EXPECT_EQ(ScreenHeight, 480);

    const std::vector<uint32_t> a = Filled(0x112233), b = Filled(0xabcdef);
    PresentFrame(a.data());
    FlipFrame();
    EXPECT_EQ(VirtualTimeNs(), 16666667u); // refresh 1 at 60 Hz
    PresentFrame(b.data());
    FlipFrame();
    EXPECT_EQ(VirtualTimeNs(), 33333334u);
    SleepMs(100); // to 133.333334 ms: refresh 8 falls exactly on it
    ASSERT_EQ(shown.size(), 9u);
    // Refresh 0 is black; a flip at time 0 is shown at refresh 1, not 0.
    EXPECT_EQ(shown[0].firstPixel, 0u);
    EXPECT_EQ(shown[1].firstPixel, 0x112233u);
    EXPECT_EQ(shown[1].lastPixel, 0x112233u);
    for (size_t k = 2; k < 9; ++k) {
        EXPECT_EQ(shown[k].refresh, k);
        EXPECT_EQ(shown[k].firstPixel, 0xabcdefu);
        EXPECT_EQ(shown[k].time, (k * 1000000000 + 59) / 60);
    }
    EXPECT_EQ(CountVirtualFlips(), 2u);
    EXPECT_EQ(CountVirtualRefreshes(), 9u);

    // Presenting without flipping changes nothing on screen.
    PresentFrame(a.data());
    SleepMs(20);
    EXPECT_EQ(shown.back().firstPixel, 0xabcdefu);
}

TEST_F(VirtualPlatformTest, RefreshRateIsConfigurableAndAudioLinesUpWithIt) {
    SetVirtualRefreshRate(50);
    std::vector<Shown> shown;
    SetVirtualRefreshCallback(Record, &shown);
    uint64_t frames = 0;
    SetVirtualAudioCallback(
        [](const int16_t* samples, uint32_t n, void* context) {
            for (uint32_t i = 0; i < 2 * n; ++i)
                EXPECT_EQ(samples[i], 0); // nothing plays before a stream buffer does
            *static_cast<uint64_t*>(context) += n;
        },
        &frames);
    ASSERT_TRUE(InitDisplay());
    const std::vector<uint32_t> a = Filled(7);
    PresentFrame(a.data());
    FlipFrame();
    EXPECT_EQ(VirtualTimeNs(), 20000000u);
    EXPECT_EQ(frames, 882u); // 20 ms of 44100 frames a second
    SleepMs(980);
    EXPECT_EQ(frames, 44100u);
    EXPECT_EQ(CountVirtualFramesHeard(), 44100u);
    // Refreshes 0..50 by t = 1 s: refresh n and audio frame 882 n happen at the same time.
    EXPECT_EQ(shown.size(), 51u);
}

TEST_F(VirtualPlatformTest, ThreadsRunOneAtATimeInAFixedOrder) {
    EXPECT_EQ(ReadPerformanceFrequency(), 1000000000u);
    events.clear();
    ASSERT_TRUE(StartAudioThreads(ThreadA, ThreadB));
    events += "m" + std::to_string(ReadPerformanceCounter() / 1000000) + " ";
    SleepMs(25);
    events += "m" + std::to_string(ReadPerformanceCounter() / 1000000) + " ";
    EXPECT_TRUE(JoinAudioThreads(100));
    // Threads whose wake-up comes at the same instant run in slot order after the one that just waited.
    EXPECT_EQ(events, "m0 a0 b0 a10 b15 a20 m25 ");
    EXPECT_EQ(ReadPerformanceCounter(), 30000000u); // b's last sleep ends at 30 ms
    // A second start works once the first pair was joined.
    ASSERT_TRUE(StartAudioThreads(SleepLong, SleepLong));
    EXPECT_FALSE(JoinAudioThreads(100));
    EXPECT_EQ(ReadPerformanceCounter(), 130000000u);
    SleepMs(500);
    EXPECT_TRUE(JoinAudioThreads(0));
}

TEST_F(VirtualPlatformTest, DisplaySetUpCanFail) {
    SetVirtualDisplayAvailable(false);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(InitDisplay());
    const std::string reason = testing::internal::GetCapturedStderr();
    EXPECT_NE(reason.find("display"), std::string::npos);
    EXPECT_EQ(reason.back(), '\n');
    EXPECT_EQ(reason.find('\n'), reason.size() - 1); // one line
}
