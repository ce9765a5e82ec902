// Loading MOD files written byte by byte; expected values worked out by hand from the file layout.
#include "music_test.h"

#include <gtest/gtest.h>

namespace {

struct ModLoadTest : ::testing::Test {
    Module* module = nullptr;
    void SetUp() override { FillPeriodTable(); }
    void TearDown() override { FreeModule(module); }
    bool Load(const ModFile& file, const char* name = "load.mod") { return LoadBytes(file.Bytes(), name); }
    bool LoadBytes(const std::vector<uint8_t>& bytes, const char* name) {
        FreeModule(module);
        module = static_cast<Module*>(calloc(1, sizeof(Module)));
        return LoadModFile(bytes.data(), bytes.size(), name, module);
    }
    const NoteCell& CellAt(int pattern, int row, int channel) {
        return module->patterns[pattern].channelRows[channel][row];
    }
};

TEST_F(ModLoadTest, CellsNotesAndChannelCounts) {
    ModFile file(8, 1, "8CHN");
    file.Cell(0, 0, 0) = {0x13, 0x1AC, 0xC, 0x10}; // bytes 0x11 0xAC 0x3C 0x10
    file.Cell(0, 0, 7) = {5, 0, 0xA, 0x0F};        // no period: no note, the rest is kept
    file.Cell(0, 2, 0) = {1, 857, 0, 0};           // 2 away from the table's 855
    file.Cell(0, 2, 1) = {1, 852, 0, 0};           // 3 away from 855, and far from 905 and 807
    file.Cell(0, 3, 0) = {0xF1, 428, 0, 0};        // sample number 241: there are only 31
    // Every standard Amiga period from C-1 to B-3 lands on note indices 37..72 in order.
    const int amiga[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
                           302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};
    for (int i = 0; i < 36; ++i)
        file.Cell(0, 10 + i, 2) = {1, amiga[i], 0, 0};
    ASSERT_TRUE(Load(file));
    const NoteCell& a = CellAt(0, 0, 0);
    EXPECT_EQ((Ints{module->isXm, module->channelCount, module->patterns[0].rowCount, a.instrument, a.period, a.effect,
                    a.param, a.note}),
              (Ints{0, 8, 64, 19, 428, 0xC, 0x10, 49}));
    EXPECT_EQ(std::string(module->name, 11), "test module");
    EXPECT_EQ(CellAt(0, 0, 7).note, -1);
    EXPECT_EQ(CellAt(0, 0, 7).instrument, 5);
    EXPECT_EQ(CellAt(0, 2, 0).note, 37);
    EXPECT_EQ(CellAt(0, 2, 1).note, -1);
    EXPECT_EQ(CellAt(0, 3, 0).instrument, 0);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(CellAt(0, 10 + i, 2).note, 37 + i) << "period " << amiga[i];
    for (const char* sig : {"FLT8", "M.K.", "4CHN", "xCHN", "6CHN"}) {
        ASSERT_TRUE(Load(ModFile(sig[0] == '6' ? 6 : 4, 1, sig)));
        EXPECT_EQ(module->channelCount, sig[0] == '6' ? 6 : 4) << sig;
    }
}

TEST_F(ModLoadTest, SamplesPatternCountAndRepairs) {
    // Song length 3 with orders 0, 5, 2 and a 6 at position 10: six patterns are read, and the sample data follows
    // them (pattern 6 is not stored here; one that is stored is stepped over, below).
    ModFile file(4, 7);
    file.songLength = 3;
    file.orders[1] = 5;
    file.orders[2] = 2;
    file.orders[10] = 6;
    file.Cell(6, 0, 0) = {0x1F, 0xFFF, 0xF, 0xFF};
    file.samples[1] = {0x0010, 0x0F, 64, 2, 8, std::vector<uint8_t>(32, 0)};
    file.samples[1].data[0] = 0x80, file.samples[1].data[1] = 0xFF, file.samples[1].data[2] = 0x7F;
    file.samples[2] = {1, 0x07, 40, 0, 1, {0x40, 0xC0}};
    file.samples[3] = {0, 0x08, 0x7F, 0, 0, {}};
    file.samples[4] = {8, 0x1F, 64, 6, 4, std::vector<uint8_t>(16, 1)}; // loop 12..20 of 16 frames
    file.samples[5] = {8, 0xF8, 64, 8, 4, std::vector<uint8_t>(16, 2)}; // loop starting at the end: none
    file.samples[6] = {100, 0, 64, 10, 90, {1, 2, 3, 4, 5}};            // 200 frames promised, 5 bytes present
    std::vector<uint8_t> bytes = file.Bytes();
    bytes.erase(bytes.begin() + 1084 + 6 * 1024, bytes.begin() + 1084 + 7 * 1024); // pattern 6 not stored
    ASSERT_TRUE(LoadBytes(bytes, "samples.mod"));
    EXPECT_EQ(module->patternCount, 6);
    EXPECT_EQ(module->songLength, 3);
    const Sample* s = module->modSamples;
    // Finetune nibbles 0xF, 7, 8 are -1, 7, -8; loops are in words; 8-bit values times 128; sample 4 follows
    // sample 2 directly (sample 3 took no bytes); a loop starting at the end, or wholly missing, goes.
    EXPECT_EQ((Ints{s[1].length, s[1].finetune, s[1].loopStart, s[1].loopLength, s[1].data[0], s[1].data[1],
                    s[1].data[2], s[1].data[32]}),
              (Ints{32, -1, 4, 16, -16384, -128, 16256, 0}));
    EXPECT_EQ((Ints{s[2].finetune, s[2].volume, s[2].data[1], s[3].finetune, s[3].volume}),
              (Ints{7, 40, -0x40 * 128, -8, 127}));
    EXPECT_EQ(s[3].data, nullptr);
    EXPECT_EQ(s[7].data, nullptr);
    EXPECT_EQ((Ints{s[4].data[0], s[4].loopStart, s[4].loopLength, s[5].loopLength, s[6].length, s[6].data[4],
                    s[6].loopLength}),
              (Ints{128, 12, 4, 0, 5, 5 * 128, 0}));
    ModFile stored(4, 2); // pattern 1 is named after the song's end, and stored
    stored.orders[5] = 1;
    stored.FlatSample(1, 4, 3);
    ASSERT_TRUE(Load(stored));
    EXPECT_EQ((Ints{module->patternCount, module->modSamples[1].data[0]}), (Ints{1, 3 * 128}));
    // A song length of 0 plays the first order; one above 128 is held to the table's 128 entries.
    ModFile zero(4, 1), big(4, 1);
    zero.songLength = 0;
    big.songLength = 200;
    ASSERT_TRUE(Load(zero));
    EXPECT_EQ(module->songLength, 1);
    ASSERT_TRUE(Load(big));
    EXPECT_EQ(module->songLength, 128);
}

TEST_F(ModLoadTest, TruncatedFilesAreRefusedWithTheirName) {
    ModFile file(4, 2);
    file.songLength = 2;
    file.orders[1] = 1;
    const std::vector<uint8_t> bytes = file.Bytes();
    EXPECT_FALSE(LoadBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 1000), "short-header.mod"));
    EXPECT_NE(std::string(ModuleError()).find("short-header.mod"), std::string::npos) << ModuleError();
    const std::vector<uint8_t> shortPatterns(bytes.begin(), bytes.end() - 1);
    EXPECT_FALSE(LoadBytes(shortPatterns, "short-patterns.mod"));
    EXPECT_FALSE(LoadBytes({}, "empty.mod"));
}

} // namespace
