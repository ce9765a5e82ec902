// The XM engine, tick by tick, on small songs written byte by byte; expected values worked out by hand.
#include "music_test.h"

#include <gtest/gtest.h>

#include <array>

namespace {

constexpr int C4 = 49, C5 = 61;

struct XmEngine : MusicTest {
    // Channel 0's `field` after each of `n` ticks.
    std::vector<int> After(int n, int32_t Channel::*field) {
        std::vector<int> seen;
        for (int i = 0; i < n; ++i, seen.push_back(channels[0].*field))
            Tick();
        return seen;
    }
};

// A long unlooped 8-bit sample, so positions only ever move forward.
XmInstrument LongInstrument(int volume) {
    return RampInstrument(60000, volume);
}

// Where a voice starting at `start` stands after one tick at `pitch` (50 ticks/s, 882 frames): the float step
// added frame by frame.
float Advance(float start, int pitch, int frames = 882) {
    float step = static_cast<float>(28634112.0 / pitch / 50.0 / 882.0);
    float pos = start;
    for (int i = 0; i < frames; ++i)
        pos = pos + step;
    return pos;
}

} // namespace

TEST_F(XmEngine, SpeedAndTempoEffects) {
    XmSong song = Song(1, 4, 3);
    song.bpm = 126; // a song starts with the module's tempo
    Start(song);
    EXPECT_EQ(player.speed, 3);
    EXPECT_EQ(player.samplesPerTick, 874);
    EXPECT_EQ(player.tickBudget, 30870 / 874);

    Start(Song(1, 4, 6, {{{0, 0, 0, 15, 0x20}}, {{0, 0, 0, 15, 0x21}}, {{0, 0, 0, 15, 0x7D}}}));
    EXPECT_EQ(player.samplesPerTick, 882);
    Tick();
    EXPECT_EQ(player.speed, 32); // F20: 32 is still a speed
    Tick(31);
    EXPECT_EQ(player.row, 1);
    Tick();
    EXPECT_EQ(player.speed, 32);
    EXPECT_EQ(player.samplesPerTick, 3340); // F21: 33 BPM
    EXPECT_EQ(player.ticksPerSecond, 13.2f);
    Tick(31);
    Tick();
    EXPECT_EQ(player.samplesPerTick, 881); // F7D: 125 BPM by the effect rule
    EXPECT_EQ(player.ticksPerSecond, 50.0f);
}

TEST_F(XmEngine, NotesInstrumentsKeyOffAndVolumeColumn) {
    // Sample volume 40 for instrument 1, 50 for instrument 2; one tick per row.
    XmSong song = Song(1, 8, 1,
                       {{{C4, 1, 0, 0, 0}},
                        {{0, 0, 0x10 + 30, 0, 0}},
                        {{C4, 0, 0, 0, 0}},
                        {{0, 2, 0, 0, 0}},
                        {{C4, 1, 0, 9, 0x10}},
                        {{0, 0, 0x50, 0, 0}},
                        {{97, 0, 0, 0, 0}},
                        {{110, 1, 0, 0, 0}}});
    song.flags = 1; // linear frequencies: played as Amiga periods all the same
    song.instruments = {LongInstrument(40), LongInstrument(50)};
    Start(song);
    Channel& ch = channels[0];
    Tick();
    EXPECT_EQ(Fields(ch, {Instrument_, Volume, Period, &Channel::pitchNote, &Channel::fadeVolume}),
              (Ints{1, 40, 3420, C4, 65536}));
    EXPECT_EQ(ch.position, Advance(0.0f, 3420));
    EXPECT_EQ(player.module->linearFrequencies, 0);
    Tick();
    EXPECT_EQ(ch.volume, 30);
    Tick(); // a note without instrument keeps the instrument and the volume, and restarts the sample
    EXPECT_EQ(Fields(ch, {Instrument_, Volume}), (Ints{1, 30}));
    EXPECT_EQ(ch.position, Advance(0.0f, 3420));
    float before = ch.position;
    Tick(); // an instrument without a note changes nothing
    EXPECT_EQ(Fields(ch, {Instrument_, Volume}), (Ints{1, 30}));
    EXPECT_EQ(ch.position, Advance(before, 3420));
    Tick(); // 9xx with 0x10 starts at frame 4096
    EXPECT_EQ(ch.volume, 40);
    EXPECT_EQ(ch.position, Advance(4096.0f, 3420));
    Tick(); // volume column 0x50 is 64, held to 63
    EXPECT_EQ(ch.volume, 63);
    Tick(); // key-off silences at once
    EXPECT_EQ(Fields(ch, {Period, Instrument_, Volume}), (Ints{0, 0, 0}));
    EXPECT_TRUE(AllFrames(0, 0, 0));
    Tick(); // notes 98..119 are notes: 110 is octave 9, C#, 12913 x 2 / 256 (the map's entry 110 is sample 0)
    EXPECT_EQ(Fields(ch, {Period, Instrument_}), (Ints{100, 1}));
}

TEST_F(XmEngine, PitchEffects) {
    XmSong song = Song(1, 8, 4,
                       {{{C4, 1, 0, 0, 0}},
                        {{C5, 0, 0, 3, 0x40}},
                        {{0, 0, 0, 3, 0}},
                        {{C4, 1, 0, 1, 0x02}},
                        {{0, 0, 0, 14, 0x12}},
                        {{C4, 1, 0, 0, 0x37}},
                        {{C4, 1, 0, 4, 0x48}}});
    song.instruments = {LongInstrument(64)};
    Start(song);
    Channel& ch = channels[0];
    // Tone portamento toward C-5 (1710) at 0x40 x 8 = 512 per tick after the first; 300 goes on at the same
    // speed and stops on the target. Portamento up by 2 x 8 on the ticks after the first; fine portamento up
    // E12 by 16 on the first tick only.
    EXPECT_EQ(After(20, &Channel::period),
              (std::vector<int>{3420, 3420, 3420, 3420, 3420, 2908, 2396, 1884, 1884, 1710,
                                1710, 1710, 3420, 3404, 3388, 3372, 3356, 3356, 3356, 3356}));
    // Arpeggio 037: finetune +0, +48, +112 on ticks 0, 1, 2; periods 3420, 3346, 3251 (hand-interpolated).
    float pos = 0.0f;
    Tick();
    EXPECT_EQ(ch.position, pos = Advance(0.0f, 3420));
    Tick();
    EXPECT_EQ(ch.position, pos = Advance(pos, 3346));
    Tick();
    EXPECT_EQ(ch.position, pos = Advance(pos, 3251));
    Tick();
    EXPECT_EQ(ch.position, pos = Advance(pos, 3420));
    // Vibrato 448: tick 0 at position 0 (no shift), tick 1 at position 4: 97 x 8 / 128 = 6 -> +48.
    Tick();
    EXPECT_EQ(ch.position, pos = Advance(0.0f, 3420));
    Tick();
    EXPECT_EQ(ch.position, pos = Advance(pos, 3468));
    EXPECT_EQ(ch.vibratoPosition, 8);
}

TEST_F(XmEngine, VolumeEffects) {
    XmSong song = Song(1, 8, 6,
                       {{{C4, 1, 0, 10, 0x03}},
                        {{0, 0, 0, 10, 0x20}},
                        {{0, 0, 0, 10, 0x23}},
                        {{0, 0, 0, 14, 0xA5}},
                        {{0, 0, 0, 14, 0xC2}},
                        {{C4, 1, 0, 12, 0x50}}});
    song.instruments = {LongInstrument(40)};
    Start(song);
    // A03: -3 on the five later ticks; A20: +2; A23 (both nibbles): nothing; EA5: +5 on the first tick; EC2: cut
    // on tick 2; C50 sets 80, held to 63.
    const std::vector<int> volumes = {40, 37, 34, 31, 28, 25, 25, 27, 29, 31, 33, 35, 35, 35, 35, 35,
                                      35, 35, 40, 40, 40, 40, 40, 40, 40, 40, 0,  0,  0,  0,  63};
    EXPECT_EQ(After(31, &Channel::volume), volumes);
}

TEST_F(XmEngine, PatternDelayKeepsTheNotePlaying) {
    // (The pattern loop is shared with the MOD engine and checked there.) EE2 lengthens its row by two rows' worth of
    // ticks; the note on it keeps playing at the volume column's 20.
    XmSong delay = Song(1, 4, 6, {{{C4, 1, 0x10 + 20, 0, 0}}, {{C4, 1, 0, 14, 0xE2}}});
    delay.instruments = {LongInstrument(40)};
    Start(delay);
    Tick(6);
    ASSERT_EQ(player.row, 1);
    float pos = channels[0].position;
    Tick();
    EXPECT_EQ(channels[0].volume, 20);                   // not the sample's 40
    EXPECT_EQ(channels[0].position, Advance(pos, 3420)); // not restarted
    int ticks = 1;
    while (player.row == 1 && ticks < 20) {
        Tick();
        ++ticks;
    }
    EXPECT_EQ(ticks, 8);
}

TEST_F(XmEngine, BreaksAndJumps) {
    // Cells (pattern, row, channel, effect, param) in four patterns of 32 rows, the position and row set before
    // one tick, and the position, row and song-end flag after it.
    struct Case {
        std::vector<std::array<int, 5>> cells;
        int order, row;
        Ints after;
    };
    const Case cases[] = {
        {{{0, 0, 0, 13, 0x10}}, 0, 0, {1, 16, 0}},  // D10: row 16 of the next pattern
        {{{1, 16, 0, 13, 0x40}}, 1, 16, {3, 0, 0}}, // beyond the next pattern's rows: one pattern further
        {{{2, 0, 0, 11, 0x01}, {2, 0, 1, 13, 0x05}}, 2, 0, {1, 1, 0}}, // the jump acts at once, the break is lost
        {{}, 3, 31, {0, 0, 1}},                                        // past the last row: wrap, song ended
        {{{0, 0, 0, 11, 0x30}}, 0, 0, {0x30, 1, 0}}, // a jump past the song's length plays the order entry there
        {{}, 0x30, 31, {0, 0, 1}},                   // and moving on from there ends the song
    };
    for (const Case& c : cases) {
        XmSong song = Song(2, 32, 1);
        song.patterns.resize(4, song.patterns[0]);
        song.orders = {0, 1, 2, 3};
        for (const auto& k : c.cells)
            song.patterns[k[0]].At(k[1], k[2]) = {0, 0, 0, k[3], k[4]};
        Start(song);
        player.orderPosition = c.order;
        player.row = c.row;
        Tick();
        EXPECT_EQ((Ints{player.orderPosition, player.row, player.songEnded}), c.after) << c.order << " " << c.row;
    }
    // Two breaks in one row: the end-of-row scan goes on at the new position, so the second channel's break is
    // read from there.
    XmSong song = Song(2, 8, 1, {{{0, 0, 0, 13, 0x00}, {0, 0, 0, 13, 0x00}}});
    song.orders = {0, 0, 0, 0};
    Start(song);
    Tick();
    EXPECT_EQ(player.orderPosition, 2);
    EXPECT_EQ(player.row, 0);
}

TEST_F(XmEngine, BrokenReferencesPlaySilentlyAndSafely) {
    XmSong song = Song(
        4, 2, 1, {{{C4, 9, 0, 0, 0}, {C4, 1, 0, 0, 0}, {C4, 200, 0, 0, 0}, {C4, 2, 0, 0, 0}}, {{0, 0, 0, 13, 0xFF}}});
    song.orders = {0, 7, 1}; // pattern 7 does not exist: an empty pattern of 64 rows
    song.patterns.push_back({0, 4, {}, {}});
    XmInstrument unmapped = LongInstrument(40);
    unmapped.sampleMap[C4] = 5;           // no sample 5
    XmInstrument in = LongInstrument(40); // envelope indices past the 12 points, a loop of no length
    in.volumeEnvelope = {{{0, 64}, {4, 32}}, 40, 7, 30, 30};
    in.panningEnvelope.type = 0x40; // none of the known bits
    song.instruments = {unmapped, in};
    Start(song);
    Tick();
    for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < 2 * 882; ++k)
            ASSERT_EQ(player.mixBuffers[0][c][k], 0) << c;
    }
    Tick(); // D with row 255: the next pattern is the missing one, so position 2 row 0
    EXPECT_EQ(player.orderPosition, 2);
    EXPECT_EQ(player.row, 0);
    Tick(); // a pattern of 0 rows: straight on, and the song wraps
    EXPECT_EQ(player.orderPosition, 0);
    EXPECT_EQ(player.songEnded, 1);
    player.orderPosition = 1;
    player.row = 0;
    Tick(64);
    EXPECT_EQ(player.orderPosition, 2);
}
