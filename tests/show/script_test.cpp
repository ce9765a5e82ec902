// The whole script on a fake platform and fake music: every frame's picture level, text position and
// intensity read back from what is presented, against the scene list written out by hand; the movie pacing;
// the early end when a file is missing or unusable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "../movie/j2k_encode.h"
#include "fake_platform.h"
#include "test_data.h"
#include "show/effects.h"
#include "movie/movie.h"
#include "show/script.h"
#include "test_temp.h"

// The music player as the script sees it: every command is recorded.
static std::vector<std::string> musicCalls;
int LoadModule(const char* path) {
    musicCalls.push_back(std::string("load ") + path);
    return 5;
}
void SetFadeMode(int32_t mode) {
    musicCalls.push_back("fade " + std::to_string(mode));
}
void RequestModule(int32_t index) {
    musicCalls.push_back("request " + std::to_string(index));
}
void SetRepeatMode(int32_t mode) {
    musicCalls.push_back("repeat " + std::to_string(mode));
}
void StartMusic() {
    musicCalls.push_back("start");
}
void StopMusic() {
    musicCalls.push_back("stop");
}
const char* ModuleError() {
    return "no module";
}

namespace {

namespace fs = std::filesystem;

// One step of the show as the scene list describes it.
struct Step {
    enum Kind { Text, Logo, Movie } kind;
    int level, x, y, intensity, green;
};

// The scene list, written out from the description of the show (W = 640).
std::vector<Step> ExpectedSteps(int movieFrames) {
    std::vector<Step> s;
    s.push_back({Step::Logo, 0, 0, 0, 0, -1}); // the black frame at the start
    const int green[] = {40, 80, 120, 160, 200};
    auto slide = [&](int g) {
        const int xs[] = {640, 630}; // k = 0 and 4 by hand; the rest from 640 + floor(-610 k / 256)
        for (int k = 0; k <= 252; k += 4) {
            int x = k < 8 ? xs[k / 4] : 640 + int(std::floor(-610.0 * k / 256));
            s.push_back({Step::Text, k, x, 350, 256, g});
        }
    };
    slide(green[0]);
    for (int n = 256; n >= 0; n--)
        s.push_back({Step::Text, n, 30, 350, n, green[0]});
    slide(green[1]);
    for (int n = 256; n >= 0; n -= 2)
        s.push_back({Step::Text, n, 30, 350, n, green[1]});
    for (int k = 0; k <= 252; k += 4)
        s.push_back({Step::Text, k, k * 640 / 256 - 380, 350, 256, green[2]});
    for (int n = 256; n >= 0; n -= 2)
        s.push_back({Step::Text, n, 260, 350, n, green[2]});
    for (int i = 0; i <= 255; i++)
        s.push_back({Step::Text, i, 130, 606 - i, i, green[3]});
    s.push_back({Step::Text, 256, 130, 350, 256, green[3]});
    for (int level = 255; level >= 0; level--) {
        for (int rep = 0; rep < 4; rep++)
            s.push_back({Step::Text, level, 130, 350, level, green[3]});
    }
    for (int movie = 0; movie < 3; movie++) {
        for (int n = 0; n < 2 * movieFrames; n++)
            s.push_back({Step::Movie, 0, 0, 0, 0, 0});
    }
    for (int i = 0; i <= 255; i++)
        s.push_back({Step::Logo, i, 0, 0, 0, green[4]});
    for (int n = 0; n < 1024; n++)
        s.push_back({Step::Logo, 256, 0, 0, 0, green[4]});
    for (int n = 256; n >= 0; n--)
        s.push_back({Step::Logo, n, 0, 0, 0, green[4]});
    return s;
}

// What a presented frame shows: the background word, and the box and value of what differs from it.
struct Seen {
    uint32_t background;
    int left = 640, top = 480, right = -1, bottom = -1;
    uint32_t text = 0;
    bool uniformText = true;
    bool bandsBlack = true, middleLit = false;
};

Seen Observe(const uint32_t* frame) {
    Seen seen;
    seen.background = frame[0];
    for (int y = 0; y < 480; y++) {
        const uint32_t* row = frame + y * 640;
        for (int x = 0; x < 640; x++) {
            if (row[x] != seen.background) {
                if (seen.right < 0)
                    seen.text = row[x];
                else if (row[x] != seen.text) {
                    seen.uniformText = false;
                }
                seen.left = std::min(seen.left, x), seen.right = std::max(seen.right, x);
                seen.top = std::min(seen.top, y), seen.bottom = std::max(seen.bottom, y);
            }
        }
    }
    for (int x = 0; x < 640; x++) {
        seen.bandsBlack = seen.bandsBlack && frame[x] == 0 && frame[39 * 640 + x] == 0 && frame[441 * 640 + x] == 0;
        seen.middleLit = seen.middleLit || frame[240 * 640 + x] != 0;
    }
    return seen;
}

// The music stopped, every buffer freed, and the reason said.
void ExpectTornDown(const std::string& said, const char* reason) {
    EXPECT_EQ(musicCalls.back(), "stop");
    EXPECT_NE(said.find(reason), std::string::npos) << said;
    EXPECT_EQ(FrameBuffer, nullptr);
    EXPECT_EQ(Picture.pixels, nullptr);
    EXPECT_EQ(TextStrip.pixels, nullptr);
}

class Script : public ::testing::Test {
protected:
    fs::path saved;
    fs::path root;
    void SetUp() override {
        fake::Reset();
        musicCalls.clear();
        saved = fs::current_path();
        root = TestTempDir() / "show";
        fs::create_directories(root / "data");
        fs::current_path(root);
        MakeTestData(root / "data", "", 3);
    }
    void TearDown() override {
        fs::current_path(saved);
        fs::remove_all(root);
    }
};

TEST_F(Script, EveryFrameOfTheShowInOrder) {
    std::vector<Seen> seen;
    fake::onPresent = [&](const uint32_t* frame) {
        seen.push_back(Observe(frame));
        fake::counter += 30000; // each frame takes 30 ms to draw (frequency 1 MHz)
    };
    fake::onSleep = [](uint32_t ms) { fake::counter += uint64_t(ms) * 1000; };
    ASSERT_TRUE(RunDemoScript()) << ShowError();

    const auto steps = ExpectedSteps(3);
    // 1 + (64 + 257) + (64 + 129) + (64 + 129) + (256 + 1025) + 3 x 2 x 3 + (256 + 1024 + 257)
    ASSERT_EQ(steps.size(), 1u + 321 + 193 + 193 + 1281 + 18 + 1537);
    ASSERT_EQ(seen.size(), steps.size());
    EXPECT_EQ(fake::flips, int(steps.size()));
    for (size_t n = 0; n < steps.size(); n++) {
        const Step& s = steps[n];
        const Seen& f = seen[n];
        SCOPED_TRACE("frame " + std::to_string(n));
        if (s.kind == Step::Movie) {
            EXPECT_TRUE(f.bandsBlack);
            EXPECT_TRUE(f.middleLit);
            continue;
        }
        const uint32_t background =
            s.green < 0 ? 0 : ((uint32_t(s.green * s.level) >> 8) << 8) | ((255u * s.level) >> 8);
        ASSERT_EQ(f.background, background);
        const uint32_t text = uint32_t((255 * ((255 * s.intensity) >> 8)) >> 8) << 16;
        const int left = std::max(s.x, 0), right = std::min(s.x + 379, 639);
        const int top = std::max(s.y, 0), bottom = std::min(s.y + 71, 479);
        if (s.kind == Step::Logo || text == background || left > right || top > bottom) {
            ASSERT_EQ(f.right, -1) << "nothing but the picture expected";
            continue;
        }
        ASSERT_TRUE(f.uniformText);
        ASSERT_EQ(std::vector<int64_t>({f.text, f.left, f.right, f.top, f.bottom}),
                  std::vector<int64_t>({text, left, right, top, bottom}));
    }

    EXPECT_EQ(musicCalls, std::vector<std::string>(
                              {"load data/wide.xm", "repeat 1", "fade 4", "start", "request 5", "fade 3", "stop"}));
    // Drawing takes 30 ms: t = 30 x 17 x 0.05882353 (a hair above 30), pause 99; the next reading sees
    // 99 + 30 ms, a hair above 129, pause 0; and so on, six frames for each of the three movies.
    EXPECT_EQ(fake::sleeps, std::vector<uint32_t>({99, 0, 99, 0, 99, 0, 99, 0, 99, 0, 99, 0, 99, 0, 99, 0, 99, 0}));
    EXPECT_EQ(FrameBuffer, nullptr);
    // The flips keep 60 a second from the first frame of each picture scene, and each movie frame stands alone.
    std::vector<int> runs = {1, 322, 515, 708};
    for (int n = 0; n < 18; n++)
        runs.push_back(1989 + n);
    runs.push_back(2007);
    EXPECT_EQ(fake::timelines, runs);
}

TEST_F(Script, MovieCountsBeyondOrWithoutRecords) {
    // A movie count beyond its records stops at the last record; a count of 0 shows nothing.
    ASSERT_TRUE(AllocFrameBuffer());
    std::vector<uint8_t> colour(4 * 4 * 3, 0x77);
    const auto frame = EncodeJ2k(colour, 4, 4, 3);
    const auto movie = MakeMovie({frame, frame}, 1000000);
    ASSERT_TRUE(LoadMovieFromMemory(movie.data(), movie.size()));
    EXPECT_EQ(MovieRecordCount, 2);
    int frames = 0;
    fake::onPresent = [&](const uint32_t*) { frames++; };
    PlayMovie();
    EXPECT_EQ(frames, 4); // two records, two passes
    EXPECT_EQ(MovieBuffer, nullptr);
    const auto empty = MakeMovie({frame}, 0);
    ASSERT_TRUE(LoadMovieFromMemory(empty.data(), empty.size()));
    PlayMovie();
    EXPECT_EQ(frames, 4);
    EXPECT_EQ(MovieBuffer, nullptr);
    FreeFrameBuffer();
}

TEST_F(Script, MissingOrUnusableFilesEndTheShowCleanly) {
    int frames = 0;
    fake::onPresent = [&](const uint32_t*) { frames++; };
    fs::remove("data/garbet_he.png");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RunDemoScript());
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(frames, 1 + 64 + 257); // the start frame and scene 1
    ExpectTornDown(said, "data/garbet_he.png");
    EXPECT_NE(said.find("ends early"), std::string::npos);

    // The module never reaches its size: the music is never started.
    musicCalls.clear();
    WriteSizedFile("data/wide.xm", {}, 100);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RunDemoScript());
    said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(musicCalls.empty());
    EXPECT_NE(said.find("100 bytes instead of 40420"), std::string::npos);
}

TEST_F(Script, ASignalEndsTheShowAtTheNextFrameThroughItsTearDown) {
    int frames = 0;
    fake::onPresent = [&](const uint32_t*) {
        if (++frames == 100) {
            fake::exitSignal = 15; // arrives while scene 1 is on screen
        }
    };
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RunDemoScript());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(frames, 100);
    ExpectTornDown(said, "ending on signal 15");
}

} // namespace
