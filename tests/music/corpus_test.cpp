// Every corpus module (XM and MOD) loads, and 60 seconds of it render with sound in them; rendering in straight
// runs, on every code path, gives the same bits as rendering every frame one by one.
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

// The module from its start, `seconds` long, as the stream would get it.
std::vector<int16_t> Render(const std::string& path, int seconds) {
    ReleaseMusic();
    std::memset(channels, 0, sizeof channels);
    player.masterVolume = 1.0f;
    BuildPeriodTables();
    if (LoadModule(path.c_str()) != 0) {
        ADD_FAILURE() << ModuleError();
        return {};
    }
    SetRepeatMode(1);
    SetFadeMode(4);
    PrepareMusic();
    RequestModule(0);
    const int chunks = (seconds * 44100 + ChunkFrames - 1) / ChunkFrames;
    std::vector<int16_t> out;
    for (int c = 0; c < chunks; ++c) {
        const int16_t* chunk = RenderFrames(ChunkFrames);
        out.insert(out.end(), chunk, chunk + 2 * ChunkFrames);
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

TEST_P(Corpus, LoadsAndRendersAMinuteWithSound) {
    const std::vector<int16_t> out = Render(GetParam(), 60);
    long long loudFrames = 0, nonZero = 0;
    int peak = 0;
    double energy = 0;
    for (int16_t v : out) {
        loudFrames += v > 256 || v < -256;
        nonZero += v != 0;
        peak = std::max(peak, std::abs(int(v)));
        energy += double(v) * v;
    }
    // Audible: at least a second's worth of samples well above the noise floor.
    EXPECT_GT(loudFrames, 44100);
    if (GetParam().ends_with(".mod") || GetParam().ends_with(".MOD")) {
        EXPECT_GT(peak, 2000);
        EXPECT_GT(std::sqrt(energy / double(out.size())), 200.0);
        EXPECT_GT(nonZero, (long long)out.size() / 2);
    }
}

TEST_P(Corpus, RunsGiveTheBitsOfFrameByFrame) {
    VoiceRunPath = -1;
    const std::vector<int16_t> reference = Render(GetParam(), 30);
    ASSERT_FALSE(reference.empty());
    for (int path : {2, 1, 0}) {
        VoiceRunPath = path;
        EXPECT_EQ(FirstDifference(Render(GetParam(), path == 2 ? 30 : 8), reference), -1)
            << "path " << path << ", sample index (stereo, 44.1 kHz)";
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, Corpus, ::testing::ValuesIn(CorpusModules({"xm", "mod"})),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = fs::path(info.param).filename().string();
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });
