// Every corpus module (XM and MOD) loads and renders with sound in it; rendering in straight runs, on every code
// path, and mixing with the quiet frames skipped give the same bits as rendering every frame one by one and mixing
// every frame; and runs hold the positions of float additions.
#include "music/music.h"
#include "music/voice_run.h"
#include "audio/mixer.h"
#include "corpus_modules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Corpus : public ::testing::TestWithParam<std::string> {
protected:
    void TearDown() override {
        ReleaseMusic();
        VoiceRunPath = 2;
    }
};

// The module from its start, `seconds` long, as the stream would get it, in chunks of changing sizes. With `forget`,
// the mixer is told before every chunk that nothing is known about quiet frames.
std::vector<int16_t> Render(const std::string& path, int seconds, bool forget = false) {
    ReleaseMusic();
    ResetPlayer();
    BuildPeriodTables();
    if (LoadModule(path.c_str()) != 0) {
        ADD_FAILURE() << ModuleError();
        return {};
    }
    SetRepeatMode(1);
    SetFadeMode(4);
    PrepareMusic();
    RequestModule(0);
    std::vector<int16_t> out;
    for (int c = 0; out.size() < 2u * seconds * 44100; ++c) {
        if (forget)
            std::fill(std::begin(player.quietFrom), std::end(player.quietFrom), MixBufferFrames);
        const int frames = c % 3 == 2 ? 1 + c % 700 : ChunkFrames;
        const int16_t* chunk = RenderFrames(frames);
        out.insert(out.end(), chunk, chunk + 2 * frames);
    }
    ReleaseMusic();
    return out;
}

// The first sample where a rendering parts from the start of a longer one, or -1.
long long FirstDifference(const std::vector<int16_t>& part, const std::vector<int16_t>& whole) {
    for (size_t i = 0; i < part.size(); ++i)
        if (i >= whole.size() || part[i] != whole[i])
            return static_cast<long long>(i);
    return -1;
}

} // namespace

TEST_P(Corpus, LoadsRendersWithSoundAndRunsGiveTheBitsOfFrameByFrame) {
    VoiceRunPath = -1;
    const std::vector<int16_t> reference = Render(GetParam(), 30, true);
    // Audible: at least half a second's worth of samples well above the noise floor.
    EXPECT_GT(std::count_if(reference.begin(), reference.end(), [](int16_t v) { return v > 256 || v < -256; }), 44100);
    for (int path : {2, 1, 0}) {
        VoiceRunPath = path;
        EXPECT_EQ(FirstDifference(Render(GetParam(), path == 2 ? 30 : 8), reference), -1)
            << "path " << path << ", sample index (stereo, 44.1 kHz)";
    }
}

// A run holds the positions that adding the step in float frame after frame gives, also where the step lies
// halfway between two of the position's float spacings (one time in four here) and the sums round to even; so does
// the frame after it, whose addition leaves the run. Rendered forwards or mirrored, centred or not, below 512 and
// above, every frame is the plain formula at its position.
TEST(StraightRuns, HoldThePositionsOfFloatAdditionsHalfwayStepsIncluded) {
    uint32_t seed = 1;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    std::vector<int16_t> data(1200);
    for (int16_t& s : data)
        s = static_cast<int16_t>(next() >> 16);
    int runs = 0;
    for (int t = 0; t < 20000; ++t) {
        const float pos = std::ldexp(1.0f + static_cast<float>(next() >> 9) * 0x1p-23f, static_cast<int>(next() % 9));
        float step = std::ldexp(1.0f + static_cast<float>(next() >> 9) * 0x1p-23f, -static_cast<int>(next() % 5));
        if (next() % 4 == 0) {
            const double spacing = std::ldexp(1.0, std::ilogb(pos) - 23);
            step = static_cast<float>((std::floor(step / spacing) + 0.5) * spacing);
        }
        const StraightRun run = FindStraightRun(pos, step, 600, 300, 8);
        float moved = pos;
        const int count = run.frames > 0 ? TakeStraightRun(run, moved, step, 600, 301) : 0;
        const int mirror = t % 2 ? 1199 : 0;
        const double amp = (next() >> 8) * 0x1p-24;
        const double pan = t % 3 ? 0.5 : (next() >> 8) * 0x1p-24;
        int16_t out[2 * 301];
        if (count > 0)
            RenderStraightRun(data.data(), 1200, mirror, pos, run.advance, count, amp, pan, out);
        float x = pos;
        for (int k = 0; k < count; ++k, x = x + step) {
            ASSERT_EQ(static_cast<float>(pos + k * run.advance), x)
                << "pos " << pos << " step " << step << " frame " << k;
            const int i = static_cast<int>(x);
            ASSERT_LT(i + 1, 600);
            const int s0 = data[mirror ? mirror - i : i];
            const int s1 = data[mirror ? mirror - i - 1 : i + 1];
            const int v = static_cast<int>((s0 + (static_cast<double>(x) - i) * (s1 - s0)) * amp);
            const int left = static_cast<int>(v * pan);
            ASSERT_TRUE(out[2 * k] == static_cast<int16_t>(left) && out[2 * k + 1] == static_cast<int16_t>(v - left))
                << "pos " << pos << " step " << step << " mirror " << mirror << " pan " << pan << " frame " << k;
        }
        if (count > 0) {
            ASSERT_EQ(moved, x) << "pos " << pos << " step " << step;
        }
        runs += run.frames >= 8;
    }
    EXPECT_GT(runs, 10000);
}

INSTANTIATE_TEST_SUITE_P(Modules, Corpus, ::testing::ValuesIn(CorpusModules({"xm", "mod"})),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = fs::path(info.param).filename().string();
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });
