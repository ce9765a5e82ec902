// Every MOD of the corpus loads and plays 60 seconds through the player's own chunk loop, with sound in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/mixer.h"
#include "music/music.h"
#include "corpus_modules.h"

namespace {

TEST(ModCorpus, EveryModulePlaysSixtySecondsAudibly) {
    std::vector<std::string> paths = CorpusModules({"mod"});
    ASSERT_GE(paths.size(), 10u) << "no MOD corpus under " << QUIMBLES_CORPUS_DIR;
    const int chunks = (60 * 44100 + ChunkFrames - 1) / ChunkFrames;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        BuildPeriodTables();
        int index = LoadModule(path.c_str());
        ASSERT_EQ(index, 0) << ModuleError();
        ASSERT_EQ(player.moduleTable[0]->isXm, 0);
        SetRepeatMode(1);
        SetFadeMode(4);
        PrepareMusic();
        RequestModule(index);
        int peak = 0;
        double energy = 0;
        long nonZero = 0;
        for (int c = 0; c < chunks; ++c) {
            const int16_t* chunk = RenderFrames(ChunkFrames);
            for (int i = 0; i < 2 * ChunkFrames; ++i) {
                int v = chunk[i];
                peak = std::max(peak, std::abs(v));
                energy += static_cast<double>(v) * v;
                nonZero += v != 0;
            }
        }
        double rms = std::sqrt(energy / (2.0 * chunks * ChunkFrames));
        EXPECT_GT(peak, 2000);
        EXPECT_GT(rms, 200.0);
        EXPECT_GT(nonZero, chunks * ChunkFrames / 2);
        ReleaseMusic();
    }
}

} // namespace
