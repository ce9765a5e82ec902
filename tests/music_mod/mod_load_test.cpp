// Loading MOD files written byte by byte; expected values worked out by hand from the file layout.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "mod_file.h"
#include "music/music.h"

namespace {

struct ModLoadTest : ::testing::Test {
    Module* module = nullptr;

    void SetUp() override { FillPeriodTable(); }
    void TearDown() override {
        if (module)
            FreeModule(module);
    }

    bool Load(const ModFile& file, const char* name = "load.mod") { return LoadBytes(file.Bytes(), name); }
    bool LoadBytes(const std::vector<uint8_t>& bytes, const char* name = "load.mod") {
        if (module)
            FreeModule(module);
        module = static_cast<Module*>(calloc(1, sizeof(Module)));
        return LoadModFile(WriteTempFile(name, bytes).c_str(), module);
    }
    const NoteCell& CellAt(int pattern, int row, int channel) {
        return module->patterns[pattern].channelRows[channel][row];
    }
};

TEST_F(ModLoadTest, SignatureCellsAndNoteIndices) {
    ModFile file(8, 1, "8CHN");
    file.Cell(0, 0, 0) = {0x13, 0x1AC, 0xC, 0x10}; // bytes 0x11 0xAC 0x3C 0x10
    file.Cell(0, 0, 7) = {5, 0, 0xA, 0x0F};        // no period: no note, the rest is kept
    file.Cell(0, 1, 3) = {1, 856, 0, 0};           // C-1
    file.Cell(0, 1, 4) = {1, 113, 0, 0};           // B-3
    file.Cell(0, 2, 0) = {1, 857, 0, 0};           // 2 away from the table's 855
    file.Cell(0, 2, 1) = {1, 852, 0, 0};           // 3 away from 855, and far from 905 and 807
    file.Cell(0, 63, 7) = {31, 428, 0xF, 0x7D};
    std::vector<uint8_t> bytes = file.Bytes();
    ASSERT_EQ(bytes[1084], 0x11);
    ASSERT_EQ(bytes[1085], 0xAC);
    ASSERT_EQ(bytes[1086], 0x3C);
    ASSERT_EQ(bytes[1087], 0x10);
    ASSERT_TRUE(LoadBytes(bytes));

    EXPECT_EQ(module->isXm, 0);
    EXPECT_EQ(module->channelCount, 8);
    EXPECT_EQ(module->patternCount, 1);
    EXPECT_EQ(module->songLength, 1);
    EXPECT_EQ(std::string(module->name, 11), "test module");
    EXPECT_EQ(module->patterns[0].rowCount, 64);
    for (int ch = 8; ch < 32; ++ch)
        EXPECT_EQ(module->patterns[0].channelRows[ch], nullptr);

    const NoteCell& a = CellAt(0, 0, 0);
    EXPECT_EQ(a.instrument, 19);
    EXPECT_EQ(a.period, 428);
    EXPECT_EQ(a.effect, 0xC);
    EXPECT_EQ(a.param, 0x10);
    EXPECT_EQ(a.note, 49);
    EXPECT_EQ(a.extra, 8);

    const NoteCell& b = CellAt(0, 0, 7);
    EXPECT_EQ(b.note, -1);
    EXPECT_EQ(b.instrument, 5);
    EXPECT_EQ(b.effect, 0xA);
    EXPECT_EQ(b.param, 0x0F);
    EXPECT_EQ(CellAt(0, 1, 3).note, 37);
    EXPECT_EQ(CellAt(0, 1, 4).note, 72);
    EXPECT_EQ(CellAt(0, 2, 0).note, 37);
    EXPECT_EQ(CellAt(0, 2, 1).note, -1);
    EXPECT_EQ(CellAt(0, 63, 7).instrument, 31);
    EXPECT_EQ(CellAt(0, 63, 7).note, 49);
    EXPECT_EQ(CellAt(0, 5, 5).note, -1);

    // Every standard Amiga period from C-1 to B-3 lands on note indices 37..72 in order.
    const int amiga[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
                           302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};
    ModFile scale(4, 1);
    for (int i = 0; i < 36; ++i)
        scale.Cell(0, i, 2) = {1, amiga[i], 0, 0};
    ASSERT_TRUE(Load(scale));
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(CellAt(0, i, 2).note, 37 + i) << "period " << amiga[i];

    const char* fourChannel[] = {"FLT8", "M.K.", "4CHN", "xCHN", "\0\0\0\0"};
    for (const char* sig : fourChannel) {
        ModFile other(4, 1, sig);
        ASSERT_TRUE(Load(other));
        EXPECT_EQ(module->channelCount, 4) << sig;
    }
    ModFile six(6, 1, "6CHN");
    six.Cell(0, 0, 5) = {2, 428, 0, 0};
    ASSERT_TRUE(Load(six));
    EXPECT_EQ(module->channelCount, 6);
    EXPECT_EQ(CellAt(0, 0, 5).instrument, 2);
    EXPECT_EQ(module->patterns[0].channelRows[6], nullptr);
}

TEST_F(ModLoadTest, SampleHeadersAndData) {
    ModFile file(4, 1);
    file.samples[1] = {0x0010, 0x0F, 64, 2, 8, {}};
    file.samples[1].data.assign(32, 0);
    file.samples[1].data[0] = 0x80;
    file.samples[1].data[1] = 0xFF;
    file.samples[1].data[2] = 0x7F;
    file.samples[1].data[31] = 0x01;
    file.samples[2] = {1, 0x07, 40, 0, 1, {0x40, 0xC0}};
    file.samples[3] = {0, 0x08, 0x7F, 0, 0, {}};
    file.samples[4] = {2, 0x00, 0, 0, 0, {0x02, 0x03, 0x04, 0x05}};
    ASSERT_TRUE(Load(file));

    const Sample& s1 = module->modSamples[1];
    EXPECT_EQ(std::string(s1.name), "sample 1");
    EXPECT_EQ(s1.length, 32);
    EXPECT_EQ(s1.finetune, -1);
    EXPECT_EQ(s1.volume, 64);
    EXPECT_EQ(s1.loopStart, 4);
    EXPECT_EQ(s1.loopLength, 16);
    ASSERT_NE(s1.data, nullptr);
    EXPECT_EQ(s1.data[0], -16384);
    EXPECT_EQ(s1.data[1], -128);
    EXPECT_EQ(s1.data[2], 16256);
    EXPECT_EQ(s1.data[31], 128);
    for (int i = 32; i < 42; ++i)
        EXPECT_EQ(s1.data[i], 0) << "padding " << i;

    const Sample& s2 = module->modSamples[2];
    EXPECT_EQ(s2.length, 2);
    EXPECT_EQ(s2.finetune, 7);
    EXPECT_EQ(s2.volume, 40);
    EXPECT_EQ(s2.loopLength, 2); // one word: plays as no loop
    EXPECT_EQ(s2.data[0], 0x40 * 128);
    EXPECT_EQ(s2.data[1], -0x40 * 128);

    EXPECT_EQ(module->modSamples[3].finetune, -8);
    EXPECT_EQ(module->modSamples[3].volume, 127);
    EXPECT_EQ(module->modSamples[3].length, 0);
    EXPECT_EQ(module->modSamples[3].data, nullptr);

    // Sample 4 follows sample 2 directly: sample 3 took no bytes.
    const Sample& s4 = module->modSamples[4];
    ASSERT_EQ(s4.length, 4);
    EXPECT_EQ(s4.data[0], 2 * 128);
    EXPECT_EQ(s4.data[3], 5 * 128);
    for (int n = 5; n <= 31; ++n)
        EXPECT_EQ(module->modSamples[n].data, nullptr);
}

TEST_F(ModLoadTest, PatternCountFollowsTheSongOnly) {
    // Song length 3 with orders 0, 5, 2 and a 6 at position 10: six patterns are read, and the sample data
    // follows the sixth.
    ModFile file(4, 6);
    file.songLength = 3;
    file.orders[0] = 0;
    file.orders[1] = 5;
    file.orders[2] = 2;
    file.orders[10] = 6;
    file.Cell(5, 63, 3) = {1, 428, 0xD, 0};
    file.samples[1] = {1, 0, 64, 0, 0, {0x11, 0x22}};
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(module->patternCount, 6);
    EXPECT_EQ(module->songLength, 3);
    EXPECT_EQ(module->orders[1], 5);
    EXPECT_EQ(module->orders[10], 6);
    EXPECT_EQ(CellAt(5, 63, 3).note, 49);
    EXPECT_EQ(CellAt(5, 63, 3).effect, 0xD);
    EXPECT_EQ(module->modSamples[1].data[0], 0x11 * 128);
    EXPECT_EQ(module->modSamples[1].data[1], 0x22 * 128);

    // When the file also holds pattern 6 (as trackers save it), its bytes are skipped, not taken for samples.
    ModFile saved(4, 7);
    saved.songLength = 3;
    saved.orders[1] = 5;
    saved.orders[2] = 2;
    saved.orders[10] = 6;
    saved.Cell(6, 0, 0) = {0x1F, 0xFFF, 0xF, 0xFF};
    saved.samples[1] = {1, 0, 64, 0, 0, {0x11, 0x22}};
    ASSERT_TRUE(Load(saved));
    EXPECT_EQ(module->patternCount, 6);
    EXPECT_EQ(module->modSamples[1].data[0], 0x11 * 128);
    EXPECT_EQ(module->modSamples[1].data[1], 0x22 * 128);
}

TEST_F(ModLoadTest, RefusesTruncatedFilesAndRepairsUnsafeValues) {
    ModFile file(4, 2);
    file.songLength = 2;
    file.orders[1] = 1;
    std::vector<uint8_t> bytes = file.Bytes();

    std::vector<uint8_t> shortHeader(bytes.begin(), bytes.begin() + 1000);
    EXPECT_FALSE(LoadBytes(shortHeader, "short-header.mod"));
    EXPECT_NE(std::string(ModuleError()).find("short-header.mod"), std::string::npos) << ModuleError();
    EXPECT_EQ(std::string(ModuleError()).find('\n'), std::string::npos);

    std::vector<uint8_t> shortPatterns(bytes.begin(), bytes.end() - 1); // one byte short of the second pattern
    EXPECT_FALSE(LoadBytes(shortPatterns, "short-patterns.mod"));
    EXPECT_NE(std::string(ModuleError()).find("short-patterns.mod"), std::string::npos) << ModuleError();

    // Through the module table: a refused file leaves nothing behind.
    BuildPeriodTables();
    EXPECT_EQ(LoadModule(WriteTempFile("short-table.mod", shortPatterns).c_str()), -1);
    EXPECT_EQ(player.moduleCount, 0);
    EXPECT_NE(std::string(ModuleError()).find("short-table.mod"), std::string::npos) << ModuleError();

    EXPECT_FALSE(LoadBytes({}, "empty.mod"));
    if (module)
        FreeModule(module);
    module = static_cast<Module*>(calloc(1, sizeof(Module)));
    std::string missing = TestTempPath("no-such-file.mod");
    EXPECT_FALSE(LoadModFile(missing.c_str(), module));
    EXPECT_NE(std::string(ModuleError()).find("no-such-file.mod"), std::string::npos);

    ModFile odd(4, 1);
    odd.Cell(0, 0, 0) = {0xF1, 428, 0, 0};    // sample number 241: there are only 31
    odd.Cell(0, 0, 1) = {0x20, 428, 0, 0};    // 32
    odd.samples[1] = {8, 0x1F, 64, 6, 4, {}}; // finetune byte 0x1F; loop 12..20 of 16 frames
    odd.samples[1].data.assign(16, 1);
    odd.samples[2] = {8, 0xF8, 64, 8, 4, {}}; // loop starting at the end: no loop
    odd.samples[2].data.assign(16, 2);
    odd.samples[3] = {100, 0, 64, 10, 90, {1, 2, 3, 4, 5}}; // 200 frames promised, 5 bytes present
    ASSERT_TRUE(Load(odd));
    EXPECT_EQ(CellAt(0, 0, 0).instrument, 0);
    EXPECT_EQ(CellAt(0, 0, 0).note, 49);
    EXPECT_EQ(CellAt(0, 0, 1).instrument, 0);
    EXPECT_EQ(module->modSamples[1].finetune, -1);
    EXPECT_EQ(module->modSamples[1].loopStart, 12);
    EXPECT_EQ(module->modSamples[1].loopLength, 4);
    EXPECT_EQ(module->modSamples[2].finetune, -8);
    EXPECT_EQ(module->modSamples[2].loopLength, 0);
    const Sample& cut = module->modSamples[3];
    EXPECT_EQ(cut.length, 5);
    EXPECT_EQ(cut.data[4], 5 * 128);
    EXPECT_EQ(cut.data[5], 0);
    EXPECT_EQ(cut.loopLength, 0); // the loop lay wholly in the missing part

    // A song length of 0 plays the first order; one above 128 is held to the table's 128 entries.
    ModFile zero(4, 1);
    zero.songLength = 0;
    ASSERT_TRUE(Load(zero));
    EXPECT_EQ(module->songLength, 1);
    EXPECT_EQ(module->patternCount, 1);
    ModFile big(4, 1);
    big.songLength = 200;
    ASSERT_TRUE(Load(big));
    EXPECT_EQ(module->songLength, 128);
    EXPECT_EQ(module->orders[200], 0);
}

} // namespace
