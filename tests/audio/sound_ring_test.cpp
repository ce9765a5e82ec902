// The ring behind the Linux and virtual devices: wrapping writes, and the underrun count on hand-made runs.

#include "audio/sound_ring.h"

#include <gtest/gtest.h>

#include <vector>

TEST(SoundRing, WritesWrapAndPlayInOrder) {
    SoundRing ring;
    ASSERT_TRUE(CreateRing(&ring, 8));
    const int16_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8}; // 4 frames
    WriteRing(&ring, 6 * 4, data, sizeof data);       // frames 6, 7, 0, 1
    std::vector<int16_t> out(2 * 8);
    PlayRing(&ring, out.data(), 8);
    EXPECT_EQ(out, (std::vector<int16_t>{5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(ring.cursor, 0u);
    EXPECT_EQ(ring.framesPlayed, 8u);
    FreeRing(&ring);
}

TEST(SoundRing, CountsEachStaleStretchAfterMusicOnce) {
    SoundRing ring;
    ASSERT_TRUE(CreateRing(&ring, 8));
    const int16_t two[4] = {9, 9, 9, 9};
    // Silence before anything was written is not an underrun.
    PlayRing(&ring, nullptr, 8);
    EXPECT_EQ(ring.underruns, 0u);
    // Frames 0-1 written and heard, 2-3 stale: one underrun; the rest of the lap is the same stretch.
    WriteRing(&ring, 0, two, sizeof two);
    PlayRing(&ring, nullptr, 8);
    EXPECT_EQ(ring.underruns, 1u);
    // Written ahead in time: 0-1 and 4-5 fresh, so 2-3 and 6-7 are two more stretches.
    WriteRing(&ring, 0, two, sizeof two);
    WriteRing(&ring, 16, two, sizeof two);
    PlayRing(&ring, nullptr, 8);
    EXPECT_EQ(ring.underruns, 3u);
    // A fully written lap played once: no underrun; played again without new writes: one.
    for (uint32_t f = 0; f < 8; f += 2)
        WriteRing(&ring, 4 * f, two, sizeof two);
    PlayRing(&ring, nullptr, 8);
    EXPECT_EQ(ring.underruns, 3u);
    PlayRing(&ring, nullptr, 8);
    EXPECT_EQ(ring.underruns, 4u);
    FreeRing(&ring);
}
