// Every corpus module loads, and 60 seconds of it render with sound in them.
#include "music/music.h"
#include "audio/mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> CorpusModules() {
    std::vector<std::string> files;
    for (const char* folder : {"xm", "mod"}) {
        fs::path dir = fs::path(QUIMBLES_CORPUS_DIR) / folder;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
            if (ext == ".xm" || ext == ".mod")
                files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class Corpus : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(Corpus, LoadsAndRendersAMinuteWithSound) {
    ReleaseMusic();
    std::memset(channels, 0, sizeof channels);
    player.masterVolume = 1.0f;
    BuildPeriodTables();
    ASSERT_EQ(LoadModule(GetParam().c_str()), 0) << ModuleError();
    SetRepeatMode(1);
    SetFadeMode(4);
    PrepareMusic();
    RequestModule(0);
    const int chunks = (60 * 44100 + ChunkFrames - 1) / ChunkFrames;
    long long loudFrames = 0;
    for (int c = 0; c < chunks; ++c) {
        const int16_t* out = RenderFrames(ChunkFrames);
        for (int i = 0; i < 2 * ChunkFrames; ++i)
            loudFrames += out[i] > 256 || out[i] < -256;
    }
    // Audible: at least a second's worth of samples well above the noise floor.
    EXPECT_GT(loudFrames, 44100) << GetParam();
    ReleaseMusic();
}

INSTANTIATE_TEST_SUITE_P(Modules, Corpus, ::testing::ValuesIn(CorpusModules()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = fs::path(info.param).filename().string();
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });
