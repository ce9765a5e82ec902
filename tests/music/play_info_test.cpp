// Song timing against libopenmpt, used as a black box: for the corpus MODs whose timing the two players define
// alike (no pattern delay, position jump or pattern loop, where this player has rules of its own), the length of
// one pass through the song agrees. It checks speed and tempo effects, pattern breaks and the order walk.
#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "music_test.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True when a pattern of the song holds Bxx, E6x or EEx.
bool UsesOwnTimingRules(const Module* module) {
    for (int p = 0; p < module->patternCount; ++p)
        for (int ch = 0; ch < module->channelCount; ++ch)
            for (int row = 0; row < 64; ++row) {
                const NoteCell& cell = module->patterns[p].channelRows[ch][row];
                if (cell.effect == 0xB)
                    return true;
                if (cell.effect == 0xE && ((cell.param >> 4) == 0x6 || (cell.param >> 4) == 0xE))
                    return true;
            }
    return false;
}

double OpenmptSeconds(const std::vector<uint8_t>& bytes) {
    openmpt_module* m = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                           nullptr, nullptr, nullptr, nullptr);
    if (!m)
        return -1;
    double seconds = openmpt_module_get_duration_seconds(m);
    openmpt_module_destroy(m);
    return seconds;
}

TEST(ModOracle, SongLengthMatchesLibopenmpt) {
    std::filesystem::path dir = std::filesystem::path(QUIMBLES_CORPUS_DIR) / "mod";
    ASSERT_TRUE(std::filesystem::is_directory(dir));
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ResetMusicState();
        ASSERT_EQ(LoadModule(path.c_str()), 0) << ModuleError();
        PrepareMusic();
        if (UsesOwnTimingRules(player.module))
            continue;
        long frames = 0;
        while (!player.songEnded && frames < 44100L * 1800) {
            player.tickBudget = 0; // timing only: the song position moves on without rendering
            frames += player.samplesPerTick;
            ModTick(player.module);
            player.writePosition = 0;
        }
        double ours = frames / 44100.0;
        double theirs = OpenmptSeconds(ReadFile(path));
        ASSERT_GT(theirs, 0);
        EXPECT_NEAR(ours / theirs, 1.0, 0.002) << ours << " s against " << theirs << " s";
        ++compared;
    }
    ResetMusicState();
    EXPECT_GE(compared, 8);
}

} // namespace
