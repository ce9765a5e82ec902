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
