// Periods and the tempo rule, against values worked out by hand from the period table and the tempo formula.
#include "music/music.h"

#include <gtest/gtest.h>

TEST(Periods, AmigaPeriodInterpolatesTheBaseTable) {
    EXPECT_EQ(AmigaPeriod(49, 0), 3420);  // C-4: 13680 x 2 / 2^3
    EXPECT_EQ(AmigaPeriod(0, 0), 57976);  // octave 0 multiplies by 4: 14494 x 4
    EXPECT_EQ(AmigaPeriod(13, 0), 27360); // C#-1: 13680 x 2
    EXPECT_EQ(AmigaPeriod(49, 8), 3407);  // halfway between 3420 and 13582 x 2 / 8 = 3395, truncated
    EXPECT_EQ(AmigaPeriod(49, 64), 3322); // index 8 + 4 (13291), no fraction
    // Finetune -1: index 8 (the division truncates toward zero) with t = 15/16: 3420/16 + 3395 x 15/16.
    EXPECT_EQ(AmigaPeriod(49, -1), 3396);
    EXPECT_EQ(AmigaPeriod(49, -17), 3421);  // index 7 (13780 -> 3445) toward 3420 with t = 15/16
    EXPECT_EQ(AmigaPeriod(0, -128), 61424); // index -8: 15356 x 4
    EXPECT_EQ(AmigaPeriod(95, 0), 239);     // B-7: index 88 (7678) x 2 / 64 = 239.9
    // Single table entries, each read with t = 0 in octave 1 (no division): index -1 (14599), 35 (11257), 82 (8018).
    EXPECT_EQ(AmigaPeriod(12, -16), 14599 * 2);
    EXPECT_EQ(AmigaPeriod(16, 48), 11257 * 2);
    EXPECT_EQ(AmigaPeriod(22, 32), 8018 * 2);
    // Notes outside the table have no period; from octave 18 the divisor 2^17 leaves nothing.
    for (int note : {-1, -100, 12 * 18 + 1, 100000})
        EXPECT_EQ(AmigaPeriod(note, 0), 0) << note;
}

TEST(Tempo, StartAndEffectTemposDivideDifferently) {
    // The engines' tests check 125 and 33 BPM each way; here the edges. 110250 / 42 = 2625 exactly: both rules
    // land one frame lower. BPM 9: P = 18 x 0.2f is 3.60000014 as a float, so 44100 / P = 12249.9995 -> 12249
    // frames, which still fits the mix buffers; lower BPMs are held at 9.
    player.blockFrames = BlockFrames;
    player.writePosition = 1000;
    SetStartTempo(42);
    EXPECT_EQ(player.samplesPerTick, 2624);
    SetEffectTempo(42);
    EXPECT_EQ(player.samplesPerTick, 2624);
    EXPECT_EQ(player.tickBudget, (30870 - 1000) / 2624); // whole ticks left in the block
    player.writePosition = 0;
    for (int bpm : {9, 0, 1, 8}) {
        SetStartTempo(bpm);
        EXPECT_EQ(player.samplesPerTick, 12249) << bpm;
    }
    EXPECT_LE(12249, MaxTickFrames);
}
