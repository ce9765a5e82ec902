// The XM loader on files written field by field: what each field becomes, and which files are refused.
#include "music_test.h"

#include <gtest/gtest.h>

namespace {

struct XmLoad : MusicTest {};

XmSong OneInstrumentSong() {
    XmSong song = Song(2, 4, 6, {{{49, 1, 0x40, 0x0F, 0x03}, {97, 0, 0, 0, 0}}, {}, {{0, 0, 0, 0x0C, 0x20}}});
    song.name = "test song";
    song.instruments = {RampInstrument(10)};
    return song;
}

void Put16(std::vector<uint8_t>& b, size_t at, int v) {
    b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}

} // namespace

TEST_F(XmLoad, HeaderPatternsAndCellsLandInTheirFields) {
    XmSong song = OneInstrumentSong();
    song.orders = {0, 0, 0};
    song.restart = 2;
    song.speed = 5;
    song.bpm = 140;
    song.flags = 3;
    ASSERT_EQ(LoadXm("fields.xm", song), 0) << ModuleError();
    const Module& m = *player.moduleTable[0];
    // Flags 3: bit 0 only makes frequencies linear.
    EXPECT_EQ((Ints{m.isXm, m.channelCount, m.songLength, m.restartPosition, m.defaultSpeed, m.defaultBpm,
                    m.linearFrequencies}),
              (Ints{1, 2, 3, 2, 5, 140, 1}));
    EXPECT_EQ(std::string(m.name, 9), "test song");
    ASSERT_EQ(m.patterns[0].rowCount, 4);
    EXPECT_EQ(m.patterns[0].channelRows[2], nullptr);
    const NoteCell& a = m.patterns[0].channelRows[0][0];
    EXPECT_EQ((Ints{a.note, a.instrument, a.volumeColumn, a.effect, a.param}), (Ints{49, 1, 0x40, 0x0F, 3}));
    EXPECT_EQ(m.patterns[0].channelRows[1][0].note, 97);
    EXPECT_EQ(m.patterns[0].channelRows[0][1].note, -1); // packed cell with mask 0x80
    EXPECT_EQ(m.patterns[0].channelRows[0][2].effect, 0x0C);
    EXPECT_EQ(m.patterns[0].channelRows[0][2].param, 0x20);
    EXPECT_EQ(m.instruments[1].samples[0].length, 10);

    // Packing: size 0 is an empty pattern; a byte without bit 7 starts a plain five-byte cell (note 0 stays 0);
    // data ending inside a cell leaves the rest empty.
    song = Song(2, 2, 6);
    song.patterns.resize(3, song.patterns[0]);
    song.patterns[0].packed = std::vector<uint8_t>{};
    song.patterns[1].packed = {0x00, 1, 0x10, 0x0A, 0x01, 0x05, 0, 0, 0, 0, 0x80, 0x81, 96};
    song.patterns[2].packed = {0x30, 7};
    ASSERT_EQ(LoadXm("packing.xm", song), 1) << ModuleError();
    const Module& p = *player.moduleTable[1];
    EXPECT_EQ(p.patterns[0].channelRows[1], nullptr); // no rows held: every cell reads as empty
    const NoteCell* c0 = p.patterns[1].channelRows[0];
    EXPECT_EQ(c0[0].note, 0);
    EXPECT_EQ(c0[0].volumeColumn, 0x10);
    EXPECT_EQ(c0[0].param, 0x01);
    EXPECT_EQ(p.patterns[1].channelRows[1][0].note, 5);
    EXPECT_EQ(c0[1].note, -1);
    EXPECT_EQ(p.patterns[1].channelRows[1][1].note, 96);
    EXPECT_EQ(p.patterns[2].channelRows[0][0].instrument, 7);
    EXPECT_EQ(p.patterns[2].channelRows[0][0].effect, 0);
}

TEST_F(XmLoad, SamplesLoopsAndUnsafeValues) {
    XmSample eight{{1, 3, 3}, 0, 2, 3}; // both loop bits: forward
    eight.finetune = -16;
    eight.relativeNote = -12;
    eight.panning = 200;
    XmSample sixteen{{}, 100, 50, 2, true};
    for (int i = 0; i < 500; ++i)
        sixteen.data.push_back(i * 100 - 20000);
    XmSample pastEnd{std::vector<int>(100, 5), 90, 50, 1};    // loop runs 40 frames past the data: cut
    XmSample noLength{std::vector<int>(10, 5), 0, 0, 2};      // ping-pong of length 0: no loop
    XmSample startPastEnd{std::vector<int>(10, 5), 10, 4, 1}; // loop starting at the end: no loop
    XmInstrument in;
    in.samples = {eight, sixteen, pastEnd, noLength, startPastEnd};
    in.sampleMap[10] = 2;
    in.volumeEnvelope = {{{0, 64}, {10, 32}}, 0, 5};
    in.fadeout = 0x1234;
    XmSong song = Song(1, 1, 6);
    song.orders.clear();                    // a song length of 0 would never wrap
    song.patterns[0].packed = {0x81, 0xC8}; // note byte 200 -> key-off
    song.instruments = {XmInstrument{}, in};
    ASSERT_EQ(LoadXm("samples.xm", song), 0) << ModuleError();
    const Module& m = *player.moduleTable[0];
    EXPECT_EQ(m.songLength, 1);
    EXPECT_EQ(m.patterns[0].channelRows[0][0].note, 97);
    EXPECT_EQ(m.instruments[1].sampleCount, 0);
    EXPECT_EQ(m.instruments[1].samples, nullptr);
    const Instrument& i2 = m.instruments[2];
    ASSERT_EQ(i2.sampleCount, 5);
    EXPECT_EQ((Ints{i2.sampleMap[10], i2.volumePoints[1].x, i2.volumePoints[1].y, i2.volumePointCount, i2.volumeType,
                    i2.fadeout}),
              (Ints{2, 10, 32, 2, 5, 0x1234}));
    // Per sample: length, loop type, start and length, 16 bits, first value; 8-bit values are scaled to 16 bits,
    // both loop bits mean forward, a loop past the data is cut, loops of no length or starting at the end go.
    const Sample* s = i2.samples;
    const Ints want[5] = {
        {3, 1, 0, 2, 0, 256}, {500, 2, 100, 50, 1, -20000}, {100, 1, 90, 10, 0, 1280}, {10, 0}, {10, 0}};
    for (int k = 0; k < 5; ++k) {
        Ints got{s[k].length, s[k].loopType, s[k].loopStart, s[k].loopLength, s[k].is16Bit, s[k].data[0]};
        got.resize(want[k].size());
        EXPECT_EQ(got, want[k]) << k;
    }
    EXPECT_EQ((Ints{s[0].data[1], s[0].finetune, s[0].relativeNote, s[0].panning, s[1].data[499]}),
              (Ints{768, -16, -12, 200, 29900}));
    // A sample whose data the file cuts short keeps what is there.
    std::vector<uint8_t> bytes = makedata::WriteXm(song);
    bytes.resize(bytes.size() - 10 - 5);
    ASSERT_EQ(LoadModuleFromMemory(bytes.data(), bytes.size(), "cut.xm"), 1) << ModuleError();
    EXPECT_EQ(player.moduleTable[1]->instruments[2].samples[4].length, 0);
    EXPECT_EQ(player.moduleTable[1]->instruments[2].samples[3].length, 5);
}

TEST_F(XmLoad, RefusedFilesLeaveNothingBehind) {
    ASSERT_EQ(LoadXm("good.xm", OneInstrumentSong()), 0);
    const std::vector<uint8_t> good = makedata::WriteXm(OneInstrumentSong());
    const size_t instrument = good.size() - 10 - 40 - 263;
    auto refused = [&](const char* name, const std::vector<uint8_t>& bytes, const char* reasonPart) {
        EXPECT_EQ(LoadModuleFromMemory(bytes.data(), bytes.size(), name), -1) << name;
        EXPECT_NE(std::string(ModuleError()).find(name), std::string::npos) << ModuleError();
        EXPECT_NE(std::string(ModuleError()).find(reasonPart), std::string::npos) << ModuleError();
        EXPECT_EQ(player.moduleCount, 1) << name;
    };
    auto patched = [&](size_t at, int value) {
        std::vector<uint8_t> b = good;
        Put16(b, at, value);
        return b;
    };
    refused("short-header.xm", std::vector<uint8_t>(good.begin(), good.begin() + 200), "truncated");
    refused("short-pattern.xm", std::vector<uint8_t>(good.begin(), good.begin() + 350), "pattern 0");
    refused("short-instrument.xm", std::vector<uint8_t>(good.begin(), good.end() - 60), "instrument 1");
    refused("channels.xm", patched(68, 33), "channels");
    refused("no-channels.xm", patched(68, 0), "channels");
    refused("instruments.xm", patched(72, 129), "instruments");
    refused("pattern-header.xm", patched(336, 8), "header length");
    refused("instrument-header.xm", patched(instrument, 100), "header size");
    refused("sample-header.xm", patched(instrument + 29, 39), "sample header size");
    EXPECT_EQ(LoadModule("/nonexistent/quimbles/file.xm"), -1);
    EXPECT_NE(std::string(ModuleError()).find("/nonexistent/quimbles/file.xm"), std::string::npos);
    EXPECT_EQ(player.moduleCount, 1);
    // The file on disk loads as the same bytes from memory; while the music has the player, nothing loads.
    EXPECT_EQ(LoadModule(WriteTempFile("good-on-disk.xm", good).c_str()), 1) << ModuleError();
    PrepareMusic();
    EXPECT_EQ(LoadModuleFromMemory(good.data(), good.size(), "playing.xm"), -1);
    EXPECT_NE(std::string(ModuleError()).find("playing.xm: cannot load while the music plays"), std::string::npos);
    ReleaseMusic();
}

TEST_F(XmLoad, MoreThan256RowsAndPatternsLoadAndPlay) {
    std::vector<std::vector<XmCell>> cells(291);
    cells[290] = {{49, 1, 0, 0, 0}};
    XmSong song = Song(1, 300, 1, cells);
    song.patterns.resize(257, song.patterns[0]);
    song.instruments = {RampInstrument(1000)};
    Start(song);
    const Module& m = *player.module;
    EXPECT_EQ((Ints{m.patternCount, m.patterns[256].rowCount, m.patterns[256].channelRows[0][290].note}),
              (Ints{257, 300, 49}));
    player.row = 290;
    Tick(); // C-4 at row 290 plays, period 3420
    EXPECT_EQ((Ints{channels[0].period, player.row}), (Ints{3420, 291}));
    Tick(9); // rows 291..299, then the song wraps
    EXPECT_EQ((Ints{player.row, player.orderPosition, player.songEnded}), (Ints{0, 0, 1}));
}
