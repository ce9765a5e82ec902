// The XM loader on files written byte by byte: what each field becomes, and which files are refused.
#include "xm_writer.h"

#include <gtest/gtest.h>

namespace {

class XmLoad : public ::testing::Test {
protected:
    void SetUp() override { ResetMusicState(); }
    void TearDown() override { ResetMusicState(); }
    Module& Loaded(int index) { return *player.moduleTable[index]; }
};

XmSpec OneInstrumentSong() {
    XmSpec spec;
    spec.channels = 2;
    spec.patterns[0].rows = 4;
    spec.patterns[0].cells = {{{49, 1, 0x40, 0x0F, 0x03}, {97, 0, 0, 0, 0}}, {}, {{0, 0, 0, 0x0C, 0x20}}};
    spec.instruments.push_back(RampInstrument(10));
    return spec;
}

} // namespace

TEST_F(XmLoad, HeaderPatternsAndCellsLandInTheirFields) {
    XmSpec spec = OneInstrumentSong();
    spec.songLength = 3;
    spec.orders = {0, 0, 0};
    spec.restart = 2;
    spec.speed = 5;
    spec.bpm = 140;
    spec.flags = 3;
    ASSERT_EQ(LoadXm("fields.xm", spec), 0) << ModuleError();
    Module& m = Loaded(0);
    EXPECT_EQ(m.isXm, 1);
    EXPECT_EQ(m.channelCount, 2);
    EXPECT_EQ(m.songLength, 3);
    EXPECT_EQ(m.restartPosition, 2);
    EXPECT_EQ(m.defaultSpeed, 5);
    EXPECT_EQ(m.defaultBpm, 140);
    EXPECT_EQ(m.linearFrequencies, 1); // bit 0 only
    EXPECT_EQ(std::string(m.name, 9), "test song");
    EXPECT_EQ(m.patternCount, 1);
    ASSERT_EQ(m.patterns[0].rowCount, 4);
    for (int ch = 2; ch < 32; ++ch)
        EXPECT_EQ(m.patterns[0].channelRows[ch], nullptr);
    const NoteCell& a = m.patterns[0].channelRows[0][0];
    EXPECT_EQ(a.note, 49);
    EXPECT_EQ(a.instrument, 1);
    EXPECT_EQ(a.volumeColumn, 0x40);
    EXPECT_EQ(a.effect, 0x0F);
    EXPECT_EQ(a.param, 3);
    EXPECT_EQ(m.patterns[0].channelRows[1][0].note, 97);
    EXPECT_EQ(m.patterns[0].channelRows[0][1].note, -1); // packed cell with mask 0x80
    EXPECT_EQ(m.patterns[0].channelRows[0][2].note, -1);
    EXPECT_EQ(m.patterns[0].channelRows[0][2].effect, 0x0C);
    EXPECT_EQ(m.patterns[0].channelRows[0][2].param, 0x20);
    EXPECT_EQ(m.instrumentCount, 1);
    EXPECT_EQ(m.instruments[1].sampleCount, 1);
    EXPECT_EQ(m.instruments[1].samples[0].length, 10);
    for (int k = 96; k < 120; ++k)
        EXPECT_EQ(m.instruments[1].sampleMap[k], 0);
}

TEST_F(XmLoad, PackingDetails) {
    XmSpec spec;
    spec.channels = 2;
    spec.headerSize = 1000; // does not move the patterns: they start at 336 whatever the header says
    spec.patterns.resize(3);
    // Pattern 0: packed size 0 -> all empty. Pattern 1: an unpacked cell with note 0 and one with note 5.
    spec.patterns[0].rows = 2;
    spec.patterns[0].useRaw = true;
    spec.patterns[1].rows = 2;
    spec.patterns[1].rawData = {0x00, 1, 0x10, 0x0A, 0x01, 0x05, 0, 0, 0, 0, 0x80, 0x81, 96};
    // Pattern 2: a longer header, and data that ends in the middle of an unpacked cell.
    spec.patterns[2].rows = 1;
    spec.patterns[2].headerLength = 20;
    spec.patterns[2].rawData = {0x30, 7};
    ASSERT_EQ(LoadXm("packing.xm", spec), 0) << ModuleError();
    Module& m = Loaded(0);
    for (int ch = 0; ch < 2; ++ch) {
        for (int r = 0; r < 2; ++r) {
            const NoteCell& c = m.patterns[0].channelRows[ch][r];
            EXPECT_EQ(c.note, -1);
            EXPECT_EQ(c.instrument | c.volumeColumn | c.effect | c.param, 0);
        }
    }
    const NoteCell* c0 = m.patterns[1].channelRows[0];
    const NoteCell* c1 = m.patterns[1].channelRows[1];
    EXPECT_EQ(c0[0].note, 0); // an unpacked note byte 0 is kept as 0, not -1
    EXPECT_EQ(c0[0].instrument, 1);
    EXPECT_EQ(c0[0].volumeColumn, 0x10);
    EXPECT_EQ(c0[0].effect, 0x0A);
    EXPECT_EQ(c0[0].param, 0x01);
    EXPECT_EQ(c1[0].note, 5);
    EXPECT_EQ(c0[1].note, -1); // 0x80: no fields, one byte
    EXPECT_EQ(c1[1].note, 96);
    EXPECT_EQ(m.patterns[2].channelRows[0][0].note, 0x30);
    EXPECT_EQ(m.patterns[2].channelRows[0][0].instrument, 7);
    EXPECT_EQ(m.patterns[2].channelRows[0][0].effect, 0); // beyond the packed size: stays empty
}

TEST_F(XmLoad, SampleDataHeadersAndLoops) {
    XmSpec spec;
    XmInstrumentSpec in;
    XmSampleSpec eight;
    eight.rawData = {0x01, 0x01, 0xFE}; // deltas: 1, 2, 0
    eight.type = 3;                     // both loop bits: forward
    eight.loopStart = 0;
    eight.loopLength = 2;
    eight.finetune = -16;
    eight.relativeNote = -12;
    eight.panning = 200;
    XmSampleSpec sixteen;
    sixteen.sixteenBit = true;
    sixteen.lengthBytes = 1001; // odd: 500 frames, 1000 bytes consumed
    for (int i = 0; i < 500; ++i)
        sixteen.values.push_back(i * 100 - 20000);
    sixteen.loopType = 2;
    sixteen.loopStart = 100;
    sixteen.loopLength = 50;
    XmSampleSpec after; // read right after the 1000 bytes
    after.values = {-128, 127, 0};
    in.samples = {eight, sixteen, after};
    in.sampleMap[10] = 2;
    in.volumePoints = {{0, 64}, {10, 32}};
    in.volumeType = 5;
    in.fadeout = 0x1234;
    in.headerSize = 300; // longer than the fields: the rest is skipped
    in.sampleHeaderSize = 48;
    spec.instruments = {XmInstrumentSpec{}, in}; // instrument 1 is empty (29 bytes)
    spec.instruments[0].headerSize = 33;
    ASSERT_EQ(LoadXm("samples.xm", spec), 0) << ModuleError();
    Module& m = Loaded(0);
    EXPECT_EQ(m.instruments[1].sampleCount, 0);
    EXPECT_EQ(m.instruments[1].samples, nullptr);
    const Instrument& i2 = m.instruments[2];
    ASSERT_EQ(i2.sampleCount, 3);
    EXPECT_EQ(i2.sampleMap[10], 2);
    EXPECT_EQ(i2.volumePoints[1].x, 10);
    EXPECT_EQ(i2.volumePoints[1].y, 32);
    EXPECT_EQ(i2.volumePointCount, 2);
    EXPECT_EQ(i2.volumeType, 5);
    EXPECT_EQ(i2.fadeout, 0x1234);
    const Sample& s0 = i2.samples[0];
    ASSERT_EQ(s0.length, 3);
    EXPECT_EQ(s0.data[0], 256);
    EXPECT_EQ(s0.data[1], 512);
    EXPECT_EQ(s0.data[2], 0);
    EXPECT_EQ(s0.loopType, 1);
    EXPECT_EQ(s0.finetune, -16);
    EXPECT_EQ(s0.relativeNote, -12);
    EXPECT_EQ(s0.panning, 200);
    EXPECT_EQ(s0.is16Bit, 0);
    const Sample& s1 = i2.samples[1];
    ASSERT_EQ(s1.length, 500);
    EXPECT_EQ(s1.is16Bit, 1);
    EXPECT_EQ(s1.loopType, 2);
    EXPECT_EQ(s1.loopStart, 100);
    EXPECT_EQ(s1.loopLength, 50);
    EXPECT_EQ(s1.data[0], -20000);
    EXPECT_EQ(s1.data[499], 29900);
    const Sample& s2 = i2.samples[2];
    ASSERT_EQ(s2.length, 3);
    EXPECT_EQ(s2.data[0], -128 * 256);
    EXPECT_EQ(s2.data[1], 127 * 256);
    EXPECT_EQ(s2.data[2], 0);
}

TEST_F(XmLoad, UnsafeValuesAreMadeSafe) {
    XmSpec spec;
    spec.songLength = 0; // would never wrap
    XmInstrumentSpec in;
    XmSampleSpec pastEnd, zeroLength, startPastEnd, cutShort;
    pastEnd.values.assign(100, 5);
    pastEnd.loopType = 1;
    pastEnd.loopStart = 90;
    pastEnd.loopLength = 50; // runs 40 frames past the data: cut at its end
    zeroLength.values.assign(10, 5);
    zeroLength.loopType = 2; // a loop of length 0 plays as no loop
    startPastEnd.values.assign(10, 5);
    startPastEnd.loopType = 1;
    startPastEnd.loopStart = 10;
    startPastEnd.loopLength = 4;
    cutShort.values.assign(50, 7);
    cutShort.lengthBytes = 5000; // the file ends after 50 of them
    in.samples = {pastEnd, zeroLength, startPastEnd, cutShort};
    spec.instruments = {in};
    spec.patterns[0].rows = 1;
    spec.patterns[0].rawData = {0x81, 0xC8}; // note byte 200 -> key-off
    ASSERT_EQ(LoadXm("unsafe.xm", spec), 0) << ModuleError();
    Module& m = Loaded(0);
    EXPECT_EQ(m.songLength, 1);
    EXPECT_EQ(m.patterns[0].channelRows[0][0].note, 97);
    const Sample* s = m.instruments[1].samples;
    EXPECT_EQ(s[0].loopType, 1);
    EXPECT_EQ(s[0].loopStart, 90);
    EXPECT_EQ(s[0].loopLength, 10);
    EXPECT_EQ(s[1].loopType, 0);
    EXPECT_EQ(s[2].loopType, 0);
    EXPECT_EQ(s[3].length, 50);
    EXPECT_EQ(s[3].data[49], 7 * 256);
}

TEST_F(XmLoad, RefusedFilesLeaveNothingBehind) {
    XmSpec good = OneInstrumentSong();
    ASSERT_EQ(LoadXm("good.xm", good), 0);

    auto refused = [&](const char* name, const std::vector<uint8_t>& bytes, const char* reasonPart) {
        std::string path = WriteTempFile(name, bytes);
        EXPECT_EQ(LoadModule(path.c_str()), -1) << name;
        EXPECT_NE(std::string(ModuleError()).find(name), std::string::npos) << ModuleError();
        EXPECT_NE(std::string(ModuleError()).find(reasonPart), std::string::npos) << ModuleError();
        EXPECT_EQ(player.moduleCount, 1) << name;
    };
    std::vector<uint8_t> full = BuildXm(good);
    refused("short-header.xm", std::vector<uint8_t>(full.begin(), full.begin() + 200), "truncated");
    refused("short-pattern.xm", std::vector<uint8_t>(full.begin(), full.begin() + 350), "pattern 0");
    // 10 data bytes and the 40-byte sample header follow the instrument header: 60 bytes short ends inside it.
    refused("short-instrument.xm", std::vector<uint8_t>(full.begin(), full.end() - 60), "instrument 1");
    XmSpec many = good;
    many.channelCountOverride = 33;
    refused("channels.xm", BuildXm(many), "channels");
    many = good;
    many.channels = 0;
    many.channelCountOverride = 0;
    refused("no-channels.xm", BuildXm(many), "channels");
    many = good;
    many.instrumentCountOverride = 129;
    refused("instruments.xm", BuildXm(many), "instruments");
    XmSpec bad = good;
    bad.patterns[0].headerLength = 8;
    refused("pattern-header.xm", BuildXm(bad), "header length");
    bad = good;
    bad.instruments[0].headerSize = 100; // has samples, so it needs 243
    refused("instrument-header.xm", BuildXm(bad), "header size");
    bad = good;
    bad.instruments[0].sampleHeaderSize = 39;
    refused("sample-header.xm", BuildXm(bad), "sample header size");
    bad = good;
    bad.patterns[0].rows = 257;
    refused("rows.xm", BuildXm(bad), "rows");

    EXPECT_EQ(LoadModule("/nonexistent/quimbles/file.xm"), -1);
    EXPECT_NE(std::string(ModuleError()).find("/nonexistent/quimbles/file.xm"), std::string::npos);
    EXPECT_EQ(player.moduleCount, 1);
}

TEST_F(XmLoad, ModuleTableAndFormatDetection) {
    XmSpec spec = OneInstrumentSong();
    std::vector<uint8_t> bytes = BuildXm(spec);
    std::string xm = WriteTempFile("detect.xm", bytes);
    EXPECT_TRUE(IsXmFile(xm.c_str()));
    bytes[9] = 'X'; // "Extended X...": not XM
    std::string other = WriteTempFile("detect.bin", bytes);
    EXPECT_FALSE(IsXmFile(other.c_str()));
    EXPECT_FALSE(IsXmFile("/nonexistent/quimbles/file.xm"));
    std::string tiny = WriteTempFile("tiny.xm", {'E', 'x', 't'});
    EXPECT_FALSE(IsXmFile(tiny.c_str()));

    ASSERT_EQ(LoadModule(xm.c_str()), 0);
    Module* first = player.moduleTable[0];
    player.songEnded = 1;
    ASSERT_EQ(LoadModule(xm.c_str()), 1);
    EXPECT_EQ(player.module, first); // the current module stays the first one loaded
    EXPECT_EQ(player.moduleLoaded, 1);
    EXPECT_EQ(player.songEnded, 0);
    for (int i = 2; i < MaxModules; ++i)
        ASSERT_EQ(LoadModule(xm.c_str()), i);
    EXPECT_EQ(LoadModule(xm.c_str()), -1); // the 33rd
    EXPECT_EQ(player.moduleCount, MaxModules);
}
