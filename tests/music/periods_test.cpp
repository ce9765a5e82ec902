// Periods and the tempo rule, against values worked out by hand from the period table and the tempo formula.
#include "music/music.h"

#include <gtest/gtest.h>

TEST(Periods, AmigaPeriodInterpolatesTheBaseTable) {
    // C-4 at finetune 0: 13680 x 2 / 2^3.
    EXPECT_EQ(AmigaPeriod(49, 0), 3420);
    // Octave 0 multiplies by 4: index 0 of the table is 14494.
    EXPECT_EQ(AmigaPeriod(0, 0), 57976);
    // C-1 (octave 1, divisor 1): 14494 x 2.
    EXPECT_EQ(AmigaPeriod(12, 0), 28988);
    EXPECT_EQ(AmigaPeriod(13, 0), 27360);
    // Finetune 8: halfway between 3420 and 13582 x 2 / 8 = 3395 -> 3407.5, truncated.
    EXPECT_EQ(AmigaPeriod(49, 8), 3407);
    // Finetune 64: index 8 + 4 = 12 (13291), no fraction: 26582 / 8 = 3322.
    EXPECT_EQ(AmigaPeriod(49, 64), 3322);
    // Finetune -1: index 8 (the division truncates toward zero) with t = 15/16:
    // 3420/16 + 3395 x 15/16 = 3396.5625.
    EXPECT_EQ(AmigaPeriod(49, -1), 3396);
    // Finetune -17: index 7 (13780 -> 3445) toward index 8 (3420) with t = 15/16: 3421.5625.
    EXPECT_EQ(AmigaPeriod(49, -17), 3421);
    // Finetune -128 on note 0: index -8 (15356 x 4), t = 0.
    EXPECT_EQ(AmigaPeriod(0, -128), 61424);
    // B-7 (note 95): index 88 (7678) x 2 / 64 = 239.9 -> 239 (integer division first).
    EXPECT_EQ(AmigaPeriod(95, 0), 239);
}

TEST(Periods, NotesOutsideTheTableHaveNoPeriod) {
    EXPECT_EQ(AmigaPeriod(-1, 0), 0);
    EXPECT_EQ(AmigaPeriod(-100, 0), 0);
    // Octave 18: the divisor 2^17 leaves nothing of 13680 x 2.
    EXPECT_EQ(AmigaPeriod(12 * 18 + 1, 0), 0);
    EXPECT_EQ(AmigaPeriod(100000, 0), 0);
}

TEST(Periods, PeriodTableRowsAreFinetunesOfEight) {
    FillPeriodTable();
    // Row 8 is finetune 0: a quarter of AmigaPeriod.
    EXPECT_EQ(periodTable[8][49], 855);
    EXPECT_EQ(periodTable[8][37], 1710);
    // The MOD engine's slide limits: row 0 (finetune -64) note 0: index -4 (14919) x 4 / 4.
    EXPECT_EQ(periodTable[0][0], 14919);
    // Row 15 (finetune 56) note 71: indices 91 and 92 (7513, 7459) over 16 -> 939 and 932, t = 1/2 -> 935 / 4.
    EXPECT_EQ(periodTable[15][71], 233);
    for (int r = 0; r < 16; ++r) {
        for (int i = 108; i < 120; ++i)
            EXPECT_EQ(periodTable[r][i], 0);
    }
}

TEST(Tempo, StartAndEffectTemposDivideDifferently) {
    player.blockFrames = BlockFrames;
    player.writePosition = 0;

    SetStartTempo(125);
    EXPECT_EQ(player.ticksPerSecond, 50.0f);
    EXPECT_EQ(player.samplesPerTick, 882);
    SetEffectTempo(125); // 44100 / 50.0000007 = 881.99...
    EXPECT_EQ(player.ticksPerSecond, 50.0f);
    EXPECT_EQ(player.samplesPerTick, 881);
    EXPECT_EQ(player.tickBudget, 30870 / 881);

    SetStartTempo(126);
    EXPECT_EQ(player.samplesPerTick, 874);
    SetEffectTempo(126);
    EXPECT_EQ(player.samplesPerTick, 874);

    SetStartTempo(32);
    EXPECT_EQ(player.samplesPerTick, 3445);
    SetEffectTempo(33);
    EXPECT_EQ(player.samplesPerTick, 3340);
    EXPECT_EQ(player.ticksPerSecond, 13.2f);

    // 110250 / 42 = 2625 exactly: both rules land one frame lower.
    SetStartTempo(42);
    EXPECT_EQ(player.samplesPerTick, 2624);
    SetEffectTempo(42);
    EXPECT_EQ(player.samplesPerTick, 2624);
    // 110250 / 100 = 1102.5: the start rule gives 1102, and so does the effect rule.
    SetStartTempo(100);
    EXPECT_EQ(player.samplesPerTick, 1102);
    SetEffectTempo(100);
    EXPECT_EQ(player.samplesPerTick, 1102);
    // The tick budget counts whole ticks left in the block.
    player.writePosition = 1000;
    SetEffectTempo(125);
    EXPECT_EQ(player.tickBudget, (30870 - 1000) / 881);
    player.writePosition = 0;
}

TEST(Tempo, TooSlowABpmStillFitsTheMixBuffers) {
    // BPM 9: P = 18 x 0.2f = 3.60000005, whose nearest float is 3.60000014 (not 3.59999990), so 44100 / P
    // is 12249.9995 -> 12249 frames, which still fits after a chunk's surplus; lower BPMs are held at 9.
    SetStartTempo(9);
    EXPECT_EQ(player.samplesPerTick, 12249);
    for (int bpm : {0, 1, 8}) {
        SetStartTempo(bpm);
        EXPECT_EQ(player.samplesPerTick, 12249) << bpm;
        EXPECT_LE(player.samplesPerTick, MaxTickFrames);
    }
    SetStartTempo(65535);
    EXPECT_GE(player.samplesPerTick, 1);
}
