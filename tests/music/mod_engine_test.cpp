// The MOD engine tick by tick on modules written byte by byte. Periods are periodTable values worked out by hand
// from the base period table (C-1 = note 37 at finetune 0: 13680 x 2 / 4 / 4 = 1710; C-2 = 855; at finetune +8
// or -8 the period lies halfway to the next entry, 1703; at +16, 1697). A flat sample of bytes 64 holds 8192, so a
// channel at volume v renders 8192 x v / 64 = 128v, split by the pan of 0.5 into (64v, 64v).
#include "music_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>

namespace {

// What one channel must show on every tick of a run of rows at speed 6: a field, or its frames at 64 x value.
struct Track {
    int channel;
    int32_t Channel::*field; // nullptr: the frames of the tick, both sides at 64 x value
    std::vector<std::array<int, 6>> rows;
};

// Where a voice stands after `frames` frames at `period`: the step 14318181 / (2 x period) / ticksPerSecond /
// samplesPerTick held as a float, added frame by frame.
float AdvancePosition(float pos, int period, int frames = 882, float ticksPerSecond = 50.0f, int samplesPerTick = 882) {
    float step = float(14318181.0 / (2.0 * period) / double(ticksPerSecond) / double(samplesPerTick));
    for (int f = 0; f < frames; ++f)
        pos = pos + step;
    return pos;
}

struct ModEngineTest : MusicTest {
    Module* module = nullptr;
    bool Load(const ModFile& file) {
        ResetMusicState();
        const std::vector<uint8_t> bytes = file.Bytes();
        if (LoadModuleFromMemory(bytes.data(), bytes.size(), "engine.mod") != 0)
            return false;
        PrepareMusic();
        module = player.module;
        return true;
    }
    // Plays `rows` rows of six ticks; `before(row, tick)` runs ahead of each tick.
    void Play(int rows, const std::vector<Track>& tracks, const std::function<void(int, int)>& before = {}) {
        for (int row = 0; row < rows; ++row)
            for (int t = 0; t < 6; ++t) {
                if (before)
                    before(row, t);
                Tick();
                for (const Track& k : tracks) {
                    if (row >= int(k.rows.size()))
                        continue;
                    const int want = k.rows[row][t];
                    if (k.field)
                        EXPECT_EQ(channels[k.channel].*k.field, want) << k.channel << " row " << row << " tick " << t;
                    else
                        EXPECT_TRUE(AllFrames(k.channel, 64 * want, 64 * want))
                            << k.channel << " row " << row << " tick " << t;
                }
            }
    }
};

TEST_F(ModEngineTest, NotesPeriodsFinetuneAndLevels) {
    ModFile file(4, 1);
    file.FlatSample(1, 4000, 64, 64, 0);
    file.FlatSample(2, 4000, 64, 32, 0x01);
    file.FlatSample(3, 4000, 64, 64, 0x0F);
    file.samples[4].volumeByte = 64; // no data
    for (int ch = 0; ch < 4; ++ch)
        file.Cell(0, 0, ch) = {ch + 1, 856};
    file.Cell(0, 1, 0) = {0, 428}; // a note without a sample number keeps sample and volume
    file.Cell(0, 1, 1) = {2, 0};   // a sample number without a note retriggers the last note
    file.Cell(0, 2, 0) = {0, 0, 0xE, 0x51};
    file.Cell(0, 3, 0) = {1, 856};
    file.Cell(0, 3, 1) = {0, 0, 0xE, 0x5F};
    file.Cell(0, 4, 1) = {2, 856};
    ASSERT_TRUE(Load(file));

    Tick(); // default volume 64 plays at 63; finetunes 0, +1 and -1 are stored as 8, 9, 7
    EXPECT_EQ(Fields(channels[0], {Period, Volume, &Channel::pitchNote, Finetune}), (Ints{1710, 63, 37, 8}));
    EXPECT_EQ(Fields(channels[1], {Period, Volume, Finetune}), (Ints{1703, 32, 9}));
    EXPECT_EQ(Fields(channels[2], {Period, Finetune}), (Ints{1703, 7}));
    EXPECT_TRUE(AllFrames(0, 4032, 4032) && AllFrames(1, 2048, 2048));
    EXPECT_EQ(frames, 882);
    EXPECT_EQ(channels[0].position, AdvancePosition(0.0f, 1710));
    EXPECT_TRUE(AllFrames(3, 0, 0)); // a sample without data writes silence over what was there
    player.masterVolume = 0.5f;      // 63 x 0.5 truncates to 31; 32 x 0.5 is 16
    Tick();
    EXPECT_TRUE(AllFrames(0, 1984, 1984) && AllFrames(1, 1024, 1024));
    player.masterVolume = 1.0f;
    Tick(4);
    channels[1].volume = 20;
    Tick();
    EXPECT_EQ(Fields(channels[0], {Period, Volume}), (Ints{855, 63}));
    EXPECT_EQ(channels[0].position, AdvancePosition(0.0f, 855));
    EXPECT_EQ(channels[1].volume, 32);
    EXPECT_EQ(channels[1].position, AdvancePosition(0.0f, 1703));
    // E51 and E5F rewrite the sample's finetune; the next note of that sample uses it.
    Tick(11);
    EXPECT_EQ(module->modSamples[1].finetune, 1);
    Tick();
    EXPECT_EQ(Fields(channels[0], {Finetune, Period}), (Ints{9, 1703}));
    Tick(5);
    EXPECT_EQ(module->modSamples[2].finetune, -1);
    Tick();
    EXPECT_EQ(Fields(channels[1], {Finetune, Period}), (Ints{7, 1703}));
}

TEST_F(ModEngineTest, SpeedAndTempoEffects) {
    ModFile file(4, 1);
    file.Cell(0, 0, 0) = {0, 0, 0xF, 0x7D};
    file.Cell(0, 0, 1) = {0, 0, 0xF, 0x03};
    file.Cell(0, 1, 0) = {0, 0, 0xF, 0x20};
    file.Cell(0, 2, 0) = {0, 0, 0xF, 0x00};
    ASSERT_TRUE(Load(file));
    Tick(); // F7D: BPM 125 set by an effect gives 881 frames per tick (882 at a song start), from this tick on
    EXPECT_EQ((Ints{player.samplesPerTick, frames, player.speed}), (Ints{881, 881, 3}));
    Tick(2);
    Tick(); // F20 is still a speed: 32 ticks per row; F00 ends every row after one tick
    EXPECT_EQ(player.speed, 32);
    Tick(32);
    EXPECT_EQ((Ints{player.speed, player.row}), (Ints{0, 3}));
    Tick();
    EXPECT_EQ(player.row, 4);
}

TEST_F(ModEngineTest, ArpeggioAndPortamentos) {
    ModFile file(8, 1, "8CHN");
    file.FlatSample(1, 4000, 64);
    file.Cell(0, 0, 0) = {1, 856, 0x0, 0x12};
    file.Cell(0, 0, 1) = {1, 856, 0x1, 0x02};
    file.Cell(0, 1, 1) = {0, 0, 0x1, 0x00};
    file.Cell(0, 0, 2) = {1, 856, 0x2, 0x03};
    file.Cell(0, 0, 3) = {1, 113, 0x1, 0xFF}; // B-3 lies below the lowest period a slide allows
    file.Cell(0, 1, 3) = {1, 3623, 0x2, 0xFF};
    for (int row = 2; row < 5; ++row)
        file.Cell(0, row, 3) = {0, 0, 0x2, 0x00};
    file.Cell(0, 0, 4) = {1, 856, 0xE, 0x13};
    file.Cell(0, 1, 4) = {0, 0, 0x1, 0x00};
    file.Cell(0, 0, 5) = {1, 856, 0xE, 0x24};
    file.Cell(0, 1, 5) = {0, 0, 0x2, 0x00};
    file.Cell(0, 0, 6) = {1, 856};
    file.Cell(0, 1, 6) = {1, 428, 0x3, 0x08};
    file.Cell(0, 2, 6) = {0, 0, 0x3, 0xFF};
    file.Cell(0, 3, 6) = {0, 0, 0x3, 0x00};
    file.Cell(0, 0, 7) = {1, 856, 0xC, 0x20};
    file.Cell(0, 1, 7) = {0, 428, 0x3, 0x04};
    file.Cell(0, 2, 7) = {0, 0, 0x5, 0x02};
    ASSERT_TRUE(Load(file));
    float before = 0;
    Play(5,
         {{0, &Channel::period, {{1710, 1703, 1697, 1710, 1703, 1697}}},
          {1, &Channel::period, {{1710, 1706, 1702, 1698, 1694, 1690}, {1690, 1686, 1682, 1678, 1674, 1670}}},
          {2, &Channel::period, {{1710, 1716, 1722, 1728, 1734, 1740}}},
          {3,
           &Channel::period,
           {{233, 233, 233, 233, 233, 233},
            {7247, 7757, 8267, 8777, 9287, 9797},
            {9797, 10307, 10817, 11327, 11837, 12347},
            {12347, 12857, 13367, 13877, 14387, 14897},
            {14897, 14919, 14919, 14919, 14919, 14919}}},
          {4, &Channel::period, {{1704, 1704, 1704, 1704, 1704, 1704}, {1704, 1698, 1692, 1686, 1680, 1674}}},
          {5, &Channel::period, {{1718, 1718, 1718, 1718, 1718, 1718}, {1718, 1726, 1734, 1742, 1750, 1758}}},
          {6,
           &Channel::period,
           {{1710, 1710, 1710, 1710, 1710, 1710},
            {1710, 1694, 1678, 1662, 1646, 1630},
            {1630, 1120, 855, 855, 855, 855},
            {855, 855, 855, 855, 855, 855}}},
          {7,
           &Channel::period,
           {{1710, 1710, 1710, 1710, 1710, 1710},
            {1710, 1702, 1694, 1686, 1678, 1670},
            {1670, 1662, 1654, 1646, 1638, 1630}}},
          {7, &Channel::volume, {{32, 32, 32, 32, 32, 32}, {32, 32, 32, 32, 32, 32}, {32, 30, 28, 26, 24, 22}}}},
         [&](int row, int t) {
             if (row == 1 && t == 0)
                 before = channels[6].position;
             if (row == 1 && t == 1) { // tone portamento keeps the sample playing where it was
                 EXPECT_EQ(channels[6].position, AdvancePosition(before, 1710));
             }
         });
    EXPECT_EQ(channels[6].tonePortaTarget, 855);
    EXPECT_EQ(channels[4].portaUpSpeed, 3);
    EXPECT_EQ(channels[5].portaDownSpeed, 4);
}

TEST_F(ModEngineTest, VibratoTremoloAndTheirVolumeSlide) {
    ModFile file(4, 1);
    file.FlatSample(1, 8000, 64);
    file.FlatSample(2, 8000, 64, 32);
    file.Cell(0, 0, 0) = {1, 856, 0x4, 0x48};
    file.Cell(0, 1, 0) = {0, 0, 0x4, 0x48};
    file.Cell(0, 2, 0) = {0, 0, 0x4, 0x00};
    file.Cell(0, 0, 1) = {2, 856, 0x7, 0x48};
    file.Cell(0, 1, 1) = {0, 0, 0x7, 0x48};
    file.Cell(0, 0, 2) = {2, 856};
    file.Cell(0, 1, 2) = {0, 0, 0x6, 0x03};
    file.Cell(0, 2, 2) = {2, 856, 0x6, 0x03};
    ASSERT_TRUE(Load(file));
    // A note clears the vibrato of its own row; without a note the vibrato swings the pitch by
    // 2 x trunc(sine x depth / 256): depth 8 at positions 0, 4, ..., 44. The period itself stays.
    const int pitch[3][6] = {{1710, 1710, 1710, 1710, 1710, 1710},
                             {1710, 1716, 1720, 1724, 1724, 1724},
                             {1720, 1716, 1710, 1704, 1700, 1696}};
    float position = 0;
    // Tremolo depth 8: volume 32 + trunc(sine x 8 / 64), for the tick only.
    const std::vector<std::array<int, 6>> slide = {
        {32, 32, 32, 32, 32, 32}, {32, 29, 26, 23, 20, 17}, {17, 17, 17, 17, 17, 17}};
    Play(3,
         {{0, &Channel::period, std::vector<std::array<int, 6>>(3, {1710, 1710, 1710, 1710, 1710, 1710})},
          {1, nullptr, {{32, 44, 54, 61, 63, 61}, {54, 44, 32, 20, 10, 3}}},
          {1, &Channel::volume, std::vector<std::array<int, 6>>(2, {32, 32, 32, 32, 32, 32})},
          {2, &Channel::volume, slide},
          {2, nullptr, slide}},
         [&](int row, int t) {
             if (row || t) {
                 EXPECT_EQ(channels[0].position, position);
             }
             position = AdvancePosition(position, pitch[row][t]);
         });
    EXPECT_EQ(channels[0].position, position);
    EXPECT_EQ(channels[0].vibratoPosition, 48);
    EXPECT_EQ(channels[0].vibratoDepth, 8);
}

TEST_F(ModEngineTest, VolumeOffsetCutAndDelay) {
    ModFile file(4, 1);
    file.FlatSample(1, 8000, 64);
    file.FlatSample(2, 8000, 64, 32);
    const int slides[] = {0x04, 0x50, 0x55, 0xF0};
    for (int row = 0; row < 4; ++row)
        file.Cell(0, row, 0) = {row ? 0 : 2, row ? 0 : 856, 0xA, slides[row]};
    file.Cell(0, 4, 0) = {0, 0, 0xE, 0xB5};
    file.Cell(0, 5, 0) = {0, 0, 0xE, 0xA8};
    file.Cell(0, 0, 1) = {1, 856, 0xC, 0x10};
    file.Cell(0, 1, 1) = {0, 0, 0xC, 0x50};
    file.Cell(0, 2, 1) = {1, 856, 0x9, 0x01};
    file.Cell(0, 3, 1) = {0, 0, 0x9, 0x02};
    file.Cell(0, 0, 2) = {1, 856, 0xE, 0xC2};
    file.Cell(0, 0, 3) = {2, 856, 0xE, 0xD2};
    file.Cell(0, 1, 3) = {2, 856, 0xE, 0xD0};
    file.Cell(0, 3, 3) = {0, 0, 0xC, 0x20};
    ASSERT_TRUE(Load(file));
    const std::vector<std::array<int, 6>> slide = {{32, 28, 24, 20, 16, 12}, {12, 17, 22, 27, 32, 37},
                                                   {37, 37, 37, 37, 37, 37}, {37, 52, 63, 63, 63, 63},
                                                   {32, 32, 32, 32, 32, 32}, {40, 40, 40, 40, 40, 40}};
    Play(6,
         {{0, &Channel::volume, slide},
          {0, nullptr, slide},
          {1,
           nullptr,
           {{16, 16, 16, 16, 16, 16}, {63, 63, 63, 63, 63, 63}, {63, 63, 63, 63, 63, 63}, {63, 63, 63, 63, 63, 63}}},
          {2, nullptr, {{63, 63, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}}},
          {3, nullptr, {{0, 0, 32, 32, 32, 32}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {32, 32, 32, 32, 32, 32}}}},
         [&](int row, int t) {
             if (row == 4 && t == 0)
                 channels[0].volume = 37; // EB5 from 37
             if (row == 5 && t == 0)
                 channels[0].volume = 32; // EA8 from 32
             if (row == 0 && t == 2) {    // the delayed note has not started yet
                 EXPECT_EQ(channels[3].position, 0.0f);
             }
             if (row == 0 && t == 3) {
                 EXPECT_EQ(channels[3].position, AdvancePosition(0.0f, 1710));
             }
             if (row == 2 && t == 1) { // 901: offset 256
                 EXPECT_EQ(channels[1].position, AdvancePosition(256.0f, 1710));
             }
             if (row == 3 && t == 1) {
                 EXPECT_EQ(channels[1].position, AdvancePosition(512.0f, 1710));
             }
         });
    EXPECT_EQ(channels[2].period, 1710); // a cut note is silenced by volume, not stopped
}

TEST_F(ModEngineTest, SampleEndAndForwardLoop) {
    ModFile file(4, 1);
    file.FlatSample(1, 100, 64);
    file.samples[2] = {20, 0, 64, 5, 10, {}};
    for (int i = 0; i < 40; ++i)
        file.samples[2].data.push_back(uint8_t(i));
    file.Cell(0, 0, 0) = {1, 113};
    file.Cell(0, 0, 1) = {2, 113};
    ASSERT_TRUE(Load(file));
    const float step = float(14318181.0 / (2.0 * 226) / 50.0 / 882.0);
    Tick();
    // Indices 0..99 sound; index 100 reads the zero padding; past it the sample has ended and stays silent.
    float pos = 0;
    for (int frame = 0; frame<882; ++frame, pos = int(pos)> 100 ? pos : pos + step) {
        const int expected = int(pos) < 100 ? 4032 : 0;
        ASSERT_EQ(player.mixBuffers[0][0][2 * frame], expected) << frame;
        ASSERT_EQ(player.mixBuffers[0][0][2 * frame + 1], expected) << frame;
    }
    EXPECT_EQ(channels[0].period, 0);
    Tick();
    EXPECT_TRUE(AllFrames(0, 0, 0));
    // Loop 10..29: index 29 interpolates toward 10 ((3712 + 0.5 x (1280 - 3712)) x 63/64 = 2457), and the frame
    // after it reads from 10 on.
    channels[1].position = 29.5f;
    Tick();
    EXPECT_EQ(player.mixBuffers[0][1][0], 1228);
    EXPECT_EQ(player.mixBuffers[0][1][1], 1229);
    const int value = int((1280 + (double(29.5f + step) - 30) * 128) * 0.984375);
    EXPECT_EQ(player.mixBuffers[0][1][2], int(value * 0.5));
    for (int t = 0; t < 20; ++t, Tick()) {
        EXPECT_LT(channels[1].position, 30.0f + step);
        EXPECT_GE(channels[1].position, 10.0f);
    }
}

TEST_F(ModEngineTest, BreaksJumpsLoopsAndDelays) {
    ModFile file(4, 4);
    file.songLength = 4;
    std::copy_n("\0\1\2\3", 4, file.orders);
    file.FlatSample(1, 4000, 64);
    file.Cell(0, 0, 0) = {0, 0, 0xD, 0x10};
    file.Cell(1, 16, 0) = {0, 0, 0xD, 0x40};
    file.Cell(3, 0, 0) = {0, 0, 0xB, 0x01};
    file.Cell(3, 0, 1) = {0, 0, 0xD, 0x10};
    file.Cell(1, 0, 2) = {1, 856};
    file.Cell(3, 5, 3) = {0, 0, 0xD, 0x00};
    file.Cell(2, 10, 0) = {0, 0, 0xB, 0x7F};
    ASSERT_TRUE(Load(file));
    player.speed = 1;
    // Each row: the order position and row set before the tick (-1: where the song stands), and the position,
    // row and song-end flag after it. D10 continues at row 16 of the next position; D40 names row 64: one position
    // further, row 0; B01 jumps at once and the D10 beside it is gone; a break on the last position wraps the song;
    // the last row moves on; a jump past the song ends it at position 0, whose D10 moves on to 1, row 16.
    const int steps[][5] = {{-1, -1, 1, 16, 0}, {-1, -1, 3, 0, 0}, {-1, -1, 1, 1, 0},
                            {3, 5, 0, 0, 1},    {2, 63, 3, 0, 0},  {2, 10, 1, 16, 1}};
    for (const auto& s : steps) {
        if (s[0] >= 0)
            player.orderPosition = s[0], player.row = s[1], player.songEnded = 0;
        Tick();
        EXPECT_EQ((Ints{player.orderPosition, player.row, player.songEnded}), (Ints{s[2], s[3], s[4]})) << s[0];
        if (&s == &steps[2]) {
            EXPECT_EQ(channels[2].period, 1710); // the note of the target row sounds in this tick
        }
    }

    // E60 .. E63 plays rows 0..15 four times; EE2 lengthens its row by two ticks, and a note on the delayed row
    // takes its pitch without restarting or taking the default volume.
    ModFile loop(4, 1);
    loop.Cell(0, 0, 0) = {0, 0, 0xE, 0x60};
    loop.Cell(0, 15, 0) = {0, 0, 0xE, 0x63};
    loop.Cell(0, 20, 1) = {0, 0, 0xE, 0xE2};
    loop.FlatSample(2, 8000, 64, 32);
    loop.Cell(0, 19, 2) = {2, 428, 0xC, 0x10};
    loop.Cell(0, 20, 2) = {2, 856};
    ASSERT_TRUE(Load(loop));
    player.speed = 1;
    int ticks = 0;
    for (; player.row != 16 && ticks < 200; ++ticks)
        Tick();
    EXPECT_EQ(ticks, 16 + 3 * 15);
    player.speed = 6;
    player.row = 19;
    player.tick = 0;
    Tick(6);
    const float before = channels[2].position;
    Tick();
    EXPECT_EQ(channels[2].period, 1710);
    EXPECT_EQ(channels[2].volume, 16);
    EXPECT_EQ(channels[2].position, AdvancePosition(before, 1710));
    Tick(6);
    EXPECT_EQ(player.row, 20);
    Tick();
    EXPECT_EQ(player.row, 21);
}

} // namespace
