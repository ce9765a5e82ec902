// The MOD engine tick by tick on modules written byte by byte. Periods are periodTable values worked out by hand
// from the base period table (C-1 = note 37 at finetune 0: 13680 x 2 / 4 / 4 = 1710; C-2 = 855; at finetune +8
// or -8 the period lies halfway to the next entry, 1703; at +16, 1697). A flat sample of bytes 64 holds 8192, so a
// channel at volume v renders 8192 x v / 64 = 128v, split by the pan of 0.5 into (64v, 64v).
#include <gtest/gtest.h>

#include "mod_player.h"

namespace {

struct ModEngineTest : ::testing::Test, ModPlayerHarness {
    void TearDown() override { Free(); }
};

int Level(int volume) {
    return 64 * volume;
}

TEST_F(ModEngineTest, NotesPeriodsFinetuneAndLevels) {
    ModFile file(4, 1);
    file.FlatSample(1, 4000, 64, 64, 0);
    file.FlatSample(2, 4000, 64, 32, 0x01);
    file.FlatSample(3, 4000, 64, 64, 0x0F);
    file.samples[4].volumeByte = 64; // no data
    file.Cell(0, 0, 0) = {1, 856};
    file.Cell(0, 0, 1) = {2, 856};
    file.Cell(0, 0, 2) = {3, 856};
    file.Cell(0, 0, 3) = {4, 856};
    file.Cell(0, 1, 0) = {0, 428}; // a note without a sample number keeps sample and volume
    file.Cell(0, 1, 1) = {2, 0};   // a sample number without a note retriggers the last note
    file.Cell(0, 2, 0) = {0, 0, 0xE, 0x51};
    file.Cell(0, 3, 0) = {1, 856};
    file.Cell(0, 3, 1) = {0, 0, 0xE, 0x5F};
    file.Cell(0, 4, 1) = {2, 856};
    ASSERT_TRUE(Load(file));

    Tick();
    EXPECT_EQ(channels[0].period, 1710);
    EXPECT_EQ(channels[0].volume, 63); // default volume 64 plays at 63
    EXPECT_EQ(channels[0].instrument, 1);
    EXPECT_EQ(channels[0].pitchNote, 37);
    EXPECT_EQ(channels[0].finetune, 8);
    EXPECT_EQ(channels[0].cellPeriod, 856);
    EXPECT_TRUE(AllFrames(0, 4032, 4032));
    EXPECT_EQ(lastTick[0].size(), 2u * 882);
    EXPECT_EQ(channels[0].position, AdvancePosition(0.0f, 1710));
    EXPECT_EQ(channels[1].period, 1703);
    EXPECT_EQ(channels[1].finetune, 9);
    EXPECT_TRUE(AllFrames(1, Level(32), Level(32)));
    EXPECT_EQ(channels[2].finetune, 7);
    EXPECT_EQ(channels[2].period, 1703);
    EXPECT_TRUE(AllFrames(3, 0, 0)); // a sample without data writes silence over what was there
    EXPECT_EQ(player.writePosition, 0);

    player.masterVolume = 0.5f; // 63 x 0.5 truncates to 31; 32 x 0.5 is 16
    Tick();
    EXPECT_TRUE(AllFrames(0, Level(31), Level(31)));
    EXPECT_TRUE(AllFrames(1, Level(16), Level(16)));
    player.masterVolume = 1.0f;
    Ticks(4);
    EXPECT_EQ(player.row, 1);

    channels[1].volume = 20;
    Tick();
    EXPECT_EQ(channels[0].period, 855);
    EXPECT_EQ(channels[0].instrument, 1);
    EXPECT_EQ(channels[0].volume, 63);
    EXPECT_EQ(channels[0].position, AdvancePosition(0.0f, 855));
    EXPECT_EQ(channels[1].period, 1703);
    EXPECT_EQ(channels[1].volume, 32);
    EXPECT_EQ(channels[1].position, AdvancePosition(0.0f, 1703));
    Ticks(5);

    // E51 rewrites the sample's finetune; the next note of that sample uses it.
    Ticks(6);
    EXPECT_EQ(module->modSamples[1].finetune, 1);
    EXPECT_EQ(channels[0].period, 855);
    Tick();
    EXPECT_EQ(channels[0].finetune, 9);
    EXPECT_EQ(channels[0].period, 1703);
    Ticks(5);
    EXPECT_EQ(module->modSamples[2].finetune, -1);
    Tick();
    EXPECT_EQ(channels[1].finetune, 7);
    EXPECT_EQ(channels[1].period, 1703);
}

TEST_F(ModEngineTest, SpeedAndTempoEffects) {
    ModFile file(4, 1);
    file.FlatSample(1, 4000, 64);
    file.Cell(0, 0, 0) = {0, 0, 0xF, 0x7D};
    file.Cell(0, 0, 1) = {0, 0, 0xF, 0x03};
    file.Cell(0, 0, 2) = {1, 856};
    file.Cell(0, 1, 0) = {0, 0, 0xF, 0x21};
    file.Cell(0, 2, 0) = {0, 0, 0xF, 0x20};
    file.Cell(0, 3, 0) = {0, 0, 0xF, 0x00};
    ASSERT_TRUE(Load(file));

    // F7D: BPM 125 set by an effect gives 881 frames per tick (882 at a song start), from this tick on.
    Tick();
    EXPECT_EQ(player.samplesPerTick, 881);
    EXPECT_EQ(player.ticksPerSecond, 50.0f);
    EXPECT_EQ(lastTick[2].size(), 2u * 881);
    float expected = AdvancePosition(0.0f, 1710, 881, 50.0f, 881);
    EXPECT_EQ(channels[2].position, expected);
    EXPECT_EQ(player.speed, 3);
    Ticks(2);
    EXPECT_EQ(player.row, 1);
    expected = AdvancePosition(expected, 1710, 2 * 881, 50.0f, 881);

    // F21: BPM 33, 13.2 ticks per second, 3340 frames per tick.
    Tick();
    EXPECT_EQ(player.samplesPerTick, 3340);
    EXPECT_EQ(player.ticksPerSecond, 13.2f);
    EXPECT_EQ(lastTick[2].size(), 2u * 3340);
    EXPECT_EQ(channels[2].position, AdvancePosition(expected, 1710, 3340, 13.2f, 3340));
    Ticks(2);
    EXPECT_EQ(player.row, 2);

    // F20 is still a speed: 32 ticks per row.
    for (int i = 0; i < 31; ++i) {
        Tick();
        ASSERT_EQ(player.row, 2) << i;
    }
    EXPECT_EQ(player.speed, 32);
    Tick();
    EXPECT_EQ(player.row, 3);
    // F00: every tick ends its row.
    Tick();
    EXPECT_EQ(player.speed, 0);
    EXPECT_EQ(player.row, 4);
    Tick();
    EXPECT_EQ(player.row, 5);
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
    file.Cell(0, 2, 3) = {0, 0, 0x2, 0x00};
    file.Cell(0, 3, 3) = {0, 0, 0x2, 0x00};
    file.Cell(0, 4, 3) = {0, 0, 0x2, 0x00};
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

    const int rows = 5;
    const int arpeggio[1][6] = {{1710, 1703, 1697, 1710, 1703, 1697}};
    const int up[2][6] = {{1710, 1706, 1702, 1698, 1694, 1690}, {1690, 1686, 1682, 1678, 1674, 1670}};
    const int down[1][6] = {{1710, 1716, 1722, 1728, 1734, 1740}};
    const int limits[5][6] = {{233, 233, 233, 233, 233, 233},
                              {7247, 7757, 8267, 8777, 9287, 9797},
                              {9797, 10307, 10817, 11327, 11837, 12347},
                              {12347, 12857, 13367, 13877, 14387, 14897},
                              {14897, 14919, 14919, 14919, 14919, 14919}};
    const int fineUp[2][6] = {{1704, 1704, 1704, 1704, 1704, 1704}, {1704, 1698, 1692, 1686, 1680, 1674}};
    const int fineDown[2][6] = {{1718, 1718, 1718, 1718, 1718, 1718}, {1718, 1726, 1734, 1742, 1750, 1758}};
    const int tone[4][6] = {{1710, 1710, 1710, 1710, 1710, 1710},
                            {1710, 1694, 1678, 1662, 1646, 1630},
                            {1630, 1120, 855, 855, 855, 855},
                            {855, 855, 855, 855, 855, 855}};
    const int toneVolume[3][6] = {{1710, 1710, 1710, 1710, 1710, 1710},
                                  {1710, 1702, 1694, 1686, 1678, 1670},
                                  {1670, 1662, 1654, 1646, 1638, 1630}};
    const int slideVolume[3][6] = {{32, 32, 32, 32, 32, 32}, {32, 32, 32, 32, 32, 32}, {32, 30, 28, 26, 24, 22}};
    float positionBeforeTone = 0;
    for (int row = 0; row < rows; ++row)
        for (int t = 0; t < 6; ++t) {
            if (row == 1 && t == 0)
                positionBeforeTone = channels[6].position;
            Tick();
            SCOPED_TRACE("row " + std::to_string(row) + " tick " + std::to_string(t));
            if (row < 1) {
                EXPECT_EQ(channels[0].period, arpeggio[row][t]);
            }
            if (row < 2) {
                EXPECT_EQ(channels[1].period, up[row][t]);
            }
            if (row < 1) {
                EXPECT_EQ(channels[2].period, down[row][t]);
            }
            EXPECT_EQ(channels[3].period, limits[row][t]);
            if (row < 2) {
                EXPECT_EQ(channels[4].period, fineUp[row][t]);
            }
            if (row < 2) {
                EXPECT_EQ(channels[5].period, fineDown[row][t]);
            }
            if (row < 4) {
                EXPECT_EQ(channels[6].period, tone[row][t]);
            }
            if (row < 3) {
                EXPECT_EQ(channels[7].period, toneVolume[row][t]);
            }
            if (row < 3) {
                EXPECT_EQ(channels[7].volume, slideVolume[row][t]);
            }
            if (row == 1 && t == 0) {
                // Tone portamento keeps the sample playing where it was.
                EXPECT_EQ(channels[6].position, AdvancePosition(positionBeforeTone, 1710));
                EXPECT_EQ(channels[6].tonePortaTarget, 855);
            }
        }
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
    // 2 x trunc(sine x depth / 256): depth 8 at positions 0, 4, ..., 44.
    const int pitch[3][6] = {{1710, 1710, 1710, 1710, 1710, 1710},
                             {1710, 1716, 1720, 1724, 1724, 1724},
                             {1720, 1716, 1710, 1704, 1700, 1696}};
    // Tremolo depth 8: volume 32 + trunc(sine x 8 / 64), for the tick only.
    const int tremolo[2][6] = {{32, 44, 54, 61, 63, 61}, {54, 44, 32, 20, 10, 3}};
    const int slide[3][6] = {{32, 32, 32, 32, 32, 32}, {32, 29, 26, 23, 20, 17}, {17, 17, 17, 17, 17, 17}};
    float position = 0;
    for (int row = 0; row < 3; ++row)
        for (int t = 0; t < 6; ++t) {
            Tick();
            SCOPED_TRACE("row " + std::to_string(row) + " tick " + std::to_string(t));
            position = AdvancePosition(row == 0 && t == 0 ? 0.0f : position, pitch[row][t]);
            EXPECT_EQ(channels[0].position, position);
            EXPECT_EQ(channels[0].period, 1710);
            if (row < 2) {
                EXPECT_TRUE(AllFrames(1, Level(tremolo[row][t]), Level(tremolo[row][t])));
            }
            if (row < 2) {
                EXPECT_EQ(channels[1].volume, 32);
            }
            EXPECT_EQ(channels[2].volume, slide[row][t]);
            EXPECT_TRUE(AllFrames(2, Level(slide[row][t]), Level(slide[row][t])));
            if (row == 0) {
                EXPECT_EQ(channels[0].vibratoDepth, 0);
            }
        }
    EXPECT_EQ(channels[0].vibratoPosition, 48);
    EXPECT_EQ(channels[0].vibratoDepth, 8);
    EXPECT_EQ(channels[0].vibratoSpeed, 4);
}

TEST_F(ModEngineTest, VolumeOffsetCutAndDelay) {
    ModFile file(4, 1);
    file.FlatSample(1, 8000, 64);
    file.FlatSample(2, 8000, 64, 32);
    file.Cell(0, 0, 0) = {2, 856, 0xA, 0x04};
    file.Cell(0, 1, 0) = {0, 0, 0xA, 0x50};
    file.Cell(0, 2, 0) = {0, 0, 0xA, 0x55};
    file.Cell(0, 3, 0) = {0, 0, 0xA, 0xF0};
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

    const int slide[6][6] = {{32, 28, 24, 20, 16, 12}, {12, 17, 22, 27, 32, 37}, {37, 37, 37, 37, 37, 37},
                             {37, 52, 63, 63, 63, 63}, {32, 32, 32, 32, 32, 32}, {40, 40, 40, 40, 40, 40}};
    const int setVolume[4] = {16, 63, 63, 63};
    const int cut[2][6] = {{63, 63, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}};
    const int delayed[4][6] = {
        {0, 0, 32, 32, 32, 32}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {32, 32, 32, 32, 32, 32}};
    for (int row = 0; row < 6; ++row)
        for (int t = 0; t < 6; ++t) {
            if (row == 4 && t == 0)
                channels[0].volume = 37; // EB5 from 37
            if (row == 5 && t == 0)
                channels[0].volume = 32; // EA8 from 32
            Tick();
            SCOPED_TRACE("row " + std::to_string(row) + " tick " + std::to_string(t));
            EXPECT_EQ(channels[0].volume, slide[row][t]);
            EXPECT_TRUE(AllFrames(0, Level(slide[row][t]), Level(slide[row][t])));
            if (row < 4) {
                EXPECT_TRUE(AllFrames(1, Level(setVolume[row]), Level(setVolume[row])));
            }
            if (row < 2) {
                EXPECT_TRUE(AllFrames(2, Level(cut[row][t]), Level(cut[row][t])));
            }
            if (row < 4) {
                EXPECT_TRUE(AllFrames(3, Level(delayed[row][t]), Level(delayed[row][t])));
            }
            if (row == 0 && t < 2) {
                EXPECT_EQ(channels[3].position, 0.0f);
            }
            if (row == 0 && t == 2) {
                EXPECT_EQ(channels[3].position, AdvancePosition(0.0f, 1710));
                EXPECT_EQ(channels[3].noteDelayTick, -1);
            }
            if (row == 2 && t == 0) {
                EXPECT_EQ(channels[1].position, AdvancePosition(256.0f, 1710));
            }
            if (row == 3 && t == 0) {
                EXPECT_EQ(channels[1].position, AdvancePosition(512.0f, 1710));
            }
        }
    EXPECT_EQ(channels[2].period, 1710); // a cut note is silenced by volume, not stopped
}

TEST_F(ModEngineTest, SampleEndAndForwardLoop) {
    ModFile file(4, 1);
    file.FlatSample(1, 100, 64);
    file.samples[2].lengthWords = 20;
    file.samples[2].volumeByte = 64;
    file.samples[2].loopStartWords = 5;
    file.samples[2].loopLengthWords = 10;
    for (int i = 0; i < 40; ++i)
        file.samples[2].data.push_back(static_cast<uint8_t>(i));
    file.Cell(0, 0, 0) = {1, 113};
    file.Cell(0, 0, 1) = {2, 113};
    ASSERT_TRUE(Load(file));

    const float step = static_cast<float>(14318181.0 / (2.0 * 226) / 50.0 / 882.0);
    Tick();
    // Indices 0..99 sound; index 100 reads the zero padding; past it the sample has ended.
    float pos = 0;
    int frame = 0;
    for (; frame < 882; ++frame) {
        int i = static_cast<int>(pos);
        pos = pos + step;
        if (i > 100)
            break;
        int expected = i < 100 ? 4032 : 0;
        ASSERT_EQ(lastTick[0][2 * frame], expected) << frame;
        ASSERT_EQ(lastTick[0][2 * frame + 1], expected) << frame;
    }
    ASSERT_LT(frame, 882);
    for (; frame < 882; ++frame)
        ASSERT_EQ(lastTick[0][2 * frame], 0);
    EXPECT_EQ(channels[0].period, 0);
    EXPECT_EQ(channels[0].position, pos);
    Tick();
    EXPECT_TRUE(AllFrames(0, 0, 0));
    EXPECT_EQ(channels[0].position, pos);

    // Loop 10..29: index 29 interpolates toward 10, and the frame after it reads 10.
    channels[1].position = 29.5f;
    Tick();
    EXPECT_EQ(lastTick[1][0], 1228); // (3712 + 0.5 x (1280 - 3712)) x 63/64 = 2457
    EXPECT_EQ(lastTick[1][1], 1229);
    double frac = static_cast<double>(29.5f + step) - 30;
    int value = static_cast<int>((1280 + frac * 128) * 0.984375);
    EXPECT_EQ(lastTick[1][2], static_cast<int>(value * 0.5));
    EXPECT_EQ(lastTick[1][3], value - static_cast<int>(value * 0.5));
    for (int t = 0; t < 20; ++t) {
        EXPECT_LT(channels[1].position, 30.0f + step);
        EXPECT_GE(channels[1].position, 10.0f);
        EXPECT_EQ(channels[1].period, 226);
        Tick();
    }
}

TEST_F(ModEngineTest, BreaksJumpsAndSongEnd) {
    ModFile file(4, 4);
    file.songLength = 4;
    for (int i = 0; i < 4; ++i)
        file.orders[i] = static_cast<uint8_t>(i);
    file.FlatSample(1, 4000, 64);
    file.Cell(0, 0, 0) = {0, 0, 0xD, 0x10};
    file.Cell(1, 16, 0) = {0, 0, 0xD, 0x40};
    file.Cell(3, 0, 0) = {0, 0, 0xB, 0x01};
    file.Cell(3, 0, 1) = {0, 0, 0xD, 0x10};
    file.Cell(1, 0, 2) = {1, 856};
    file.Cell(3, 5, 3) = {0, 0, 0xD, 0x00};
    file.Cell(2, 10, 0) = {0, 0, 0xB, 0x7F};
    file.Cell(2, 20, 0) = {0, 0, 0xD, 0x99}; // row 153: the scan goes on past the pattern's last row
    file.Cell(2, 20, 1) = {0, 0, 0xD, 0x05};
    ASSERT_TRUE(Load(file));
    player.speed = 1;

    Tick(); // D10 continues at row 16 of the next position
    EXPECT_EQ(player.orderPosition, 1);
    EXPECT_EQ(player.row, 16);
    Tick(); // D40 names row 64: one position further, row 0
    EXPECT_EQ(player.orderPosition, 3);
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.songEnded, 0);
    // B01 jumps at once: the note of the target row sounds in this tick, and the D10 beside the jump is gone.
    Tick();
    EXPECT_EQ(channels[2].period, 1710);
    EXPECT_EQ(player.orderPosition, 1);
    EXPECT_EQ(player.row, 1);
    EXPECT_EQ(player.songEnded, 0);

    player.orderPosition = 3; // a break on the last position wraps the song
    player.row = 5;
    Tick();
    EXPECT_EQ(player.orderPosition, 0);
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.songEnded, 1);

    player.songEnded = 0;
    player.orderPosition = 2; // the last row moves on to the next position
    player.row = 63;
    player.patternLoopRow = 7;
    Tick();
    EXPECT_EQ(player.orderPosition, 3);
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.patternLoopRow, 0);
    EXPECT_EQ(player.songEnded, 0);

    // A jump past the song ends it: position 0, whose D10 then moves on to position 1, row 16.
    player.orderPosition = 2;
    player.row = 10;
    Tick();
    EXPECT_EQ(player.songEnded, 1);
    EXPECT_EQ(player.orderPosition, 1);
    EXPECT_EQ(player.row, 16);

    // D99 breaks to row 153 of position 3; channel 1's cell there does not exist and counts as no break; the
    // row lies past the pattern, so the song moves on once more and wraps.
    player.songEnded = 0;
    player.orderPosition = 2;
    player.row = 20;
    Tick();
    EXPECT_EQ(player.orderPosition, 0);
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.songEnded, 1);
}

TEST_F(ModEngineTest, PatternLoopAndPatternDelay) {
    ModFile file(4, 1);
    file.Cell(0, 0, 0) = {0, 0, 0xE, 0x60};
    file.Cell(0, 15, 0) = {0, 0, 0xE, 0x63};
    file.Cell(0, 20, 1) = {0, 0, 0xE, 0xE2};
    file.FlatSample(2, 8000, 64, 32);
    file.Cell(0, 19, 2) = {2, 428, 0xC, 0x10};
    file.Cell(0, 20, 2) = {2, 856}; // on the delayed row: new pitch, but no restart and no default volume
    ASSERT_TRUE(Load(file));
    player.speed = 1;

    // Rows 0..14, then three passes in which row 15's first tick is back at row 0, then row 15 plays through.
    int ticks = 0;
    std::vector<int> rowsSeen;
    while (player.row != 16 && ticks < 200) {
        rowsSeen.push_back(player.row);
        Tick();
        ++ticks;
    }
    EXPECT_EQ(ticks, 16 + 3 * 15);
    EXPECT_EQ(player.patternLoopCount, 0);
    EXPECT_EQ(std::count(rowsSeen.begin(), rowsSeen.end(), 15), 4);
    EXPECT_EQ(std::count(rowsSeen.begin(), rowsSeen.end(), 1), 4);

    // EE2 lengthens its row by two ticks, not two rows.
    player.speed = 6;
    player.row = 19;
    player.tick = 0;
    Ticks(6);
    ASSERT_EQ(player.row, 20);
    float before = channels[2].position;
    for (int i = 0; i < 7; ++i) {
        Tick();
        ASSERT_EQ(player.row, 20) << i;
        if (i == 0) {
            EXPECT_EQ(channels[2].period, 1710);
            EXPECT_EQ(channels[2].volume, 16);
            EXPECT_EQ(channels[2].position, AdvancePosition(before, 1710));
        }
    }
    Tick();
    EXPECT_EQ(player.row, 21);
    EXPECT_EQ(player.tick, 0);
    EXPECT_EQ(player.patternDelay, 0);
}

TEST_F(ModEngineTest, WithoutBudgetOnlyTheSongPositionMoves) {
    ModFile file(4, 1);
    file.FlatSample(1, 4000, 64);
    file.Cell(0, 0, 0) = {1, 856};
    file.Cell(0, 0, 1) = {0, 0, 0xF, 0x02};
    ASSERT_TRUE(Load(file));
    std::fill(buffers[0][0].begin(), buffers[0][0].end(), static_cast<int16_t>(0x5A5A));
    player.tickBudget = 0;
    ModTick(module);
    EXPECT_EQ(player.writePosition, 882);
    EXPECT_EQ(player.tick, 1);
    EXPECT_EQ(player.speed, 2);       // the first pass still runs
    EXPECT_EQ(channels[0].period, 0); // the note was never started
    EXPECT_EQ(buffers[0][0][0], 0x5A5A);
    EXPECT_EQ(buffers[0][0][2 * 882 - 1], 0x5A5A);
}

TEST_F(ModEngineTest, ABreakReachedByTheScanTakesItsRowFromThePlayingRow) {
    // The end-of-row scan reads effects at the position it has moved to, but the row number from the cells that
    // were playing: channel 1's D40 at position 1 is taken with channel 1's parameter of position 0, row 0 (none).
    ModFile file(4, 3);
    file.songLength = 3;
    file.orders[1] = 1;
    file.orders[2] = 2;
    file.Cell(0, 0, 0) = {0, 0, 0xD, 0x10};
    file.Cell(1, 16, 1) = {0, 0, 0xD, 0x40};
    ASSERT_TRUE(Load(file));
    player.speed = 1;
    Tick();
    EXPECT_EQ(player.orderPosition, 2);
    EXPECT_EQ(player.row, 0);
}

} // namespace
