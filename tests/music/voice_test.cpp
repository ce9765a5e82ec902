// Voice rendering and envelopes: frames worked out by hand from the resampling, level and pan rules.
#include "music_test.h"

#include <gtest/gtest.h>

namespace {

// 28634112 = 2^10 x 27963, so period 27963 plays 1024 Hz: at 8 ticks per second and 128 frames per tick the
// step is exactly 1.0, and period 2 x 27963 gives exactly 0.5.
constexpr int StepOne = 27963;
constexpr int StepHalf = 2 * 27963;

struct Voice : MusicTest {
    // Loads one instrument with one 16-bit sample of `values`, and sets channel 0 up to play it at volume 63.
    void Prepare(const std::vector<int>& values, int loopType = 0, int loopStart = 0, int loopLength = 0,
                 int panning = 255, XmInstrument in = {}) {
        ResetMusicState();
        in.samples = {XmSample{values, loopStart, loopLength, loopType, true}};
        in.samples[0].panning = panning;
        XmSong song = Song(1, 1, 6);
        song.instruments = {in};
        ASSERT_EQ(LoadXm("voice.xm", song), 0) << ModuleError();
        PrepareMusic();
        player.samplesPerTick = 128;
        player.ticksPerSecond = 8.0f;
        player.writePosition = 0;
        player.channelPan[0] = 1.0f;
        channels[0] = {};
        channels[0].instrument = 1;
        channels[0].volume = 63;
        channels[0].fadeVolume = 65536;
        channels[0].period = StepOne;
    }
    int16_t First(int frame) const { return player.mixBuffers[0][0][2 * frame]; }
    int16_t Second(int frame) const { return player.mixBuffers[0][0][2 * frame + 1]; }
};

std::vector<int> Ramp(int n) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i)
        v.push_back(i * 100 - 3000);
    return v;
}

// A frame at volume 63, fade 65536, master 1.0.
int Level(double s, double amp = 63.0 / 64.0) {
    return static_cast<int>(s * amp);
}

} // namespace

TEST_F(Voice, SampleEndsAndLoopsTurn) {
    std::vector<int> d = Ramp(100);
    Prepare(d);
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 128; ++k) {
        ASSERT_EQ(First(k), k < 100 ? Level(d[k]) : 0) << k; // pan 1: everything in the first value
        ASSERT_EQ(Second(k), 0) << k;
    }
    EXPECT_EQ(channels[0].period, 0);
    // At half speed the last frame before the end interpolates toward itself, not toward 0.
    channels[0].period = StepHalf;
    channels[0].position = 98.0f;
    RenderVoice(0, StepHalf, 0);
    EXPECT_EQ(First(1), Level(d[98] + 0.5 * (d[99] - d[98])));
    EXPECT_EQ(First(3), Level(d[99]));
    EXPECT_EQ(First(4), 0);

    // Forward loop 10..29: the position stays inside the loop, 10 + (128 - 10) mod 20 = 28.
    d = Ramp(30);
    Prepare(d, 1, 10, 20);
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 128; ++k)
        ASSERT_EQ(First(k), Level(d[k < 30 ? k : 10 + (k - 10) % 20])) << k;
    EXPECT_EQ(channels[0].position, 28.0f);
    channels[0].position = 29.0f; // half speed across the end: index 29 interpolates toward index 10
    RenderVoice(0, StepHalf, 0);
    EXPECT_EQ(First(1), Level(d[29] + 0.5 * (d[10] - d[29])));
    EXPECT_EQ(First(2), Level(d[10]));

    // Ping-pong 10..13 turns at both ends.
    d = Ramp(20);
    Prepare(d, 2, 10, 4);
    channels[0].position = 10.0f;
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 128; ++k)
        ASSERT_EQ(First(k), Level(d[10 + (k % 8 < 4 ? k % 8 : 8 - k % 8)])) << k;
    // The same loop ending with the data: the turn would read index 14, the last frame stands in for it.
    d = Ramp(14);
    Prepare(d, 2, 10, 4);
    channels[0].position = 10.0f;
    RenderVoice(0, StepOne, 0);
    const int turned[] = {10, 11, 12, 13, 13, 13, 12, 11, 10, 11};
    for (int k = 0; k < 10; ++k)
        ASSERT_EQ(First(k), Level(d[turned[k]])) << k;
}

TEST_F(Voice, PanLevelFadeAndMaster) {
    std::vector<int> d = {-10000, 10000, 12345, -101};
    Prepare(d, 0, 0, 0, 0); // sample panning 0: everything in the second value
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(First(k), 0);
        EXPECT_EQ(Second(k), Level(d[k]));
    }
    // A flat panning envelope at 32 is exactly p = 0.5.
    XmInstrument in;
    in.panningEnvelope = {{{0, 32}, {100, 32}}, 0, 1};
    Prepare(d, 0, 0, 0, 0, in);
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(First(k), Level(d[k]) / 2) << k;
        EXPECT_EQ(Second(k), Level(d[k]) - Level(d[k]) / 2) << k;
    }

    in = {};
    in.volumeEnvelope = {{{0, 64}, {10, 0}}, 0, 1};
    Prepare(std::vector<int>(128, 20000), 0, 0, 0, 255, in);
    channels[0].volumeEnvelopePosition = 5; // envelope 0.5
    channels[0].volume = 40;
    channels[0].fadeVolume = 32768;
    player.masterVolume = 0.5f;
    RenderVoice(0, StepOne, 7); // tremolo adds 7: level 47; 32768 x 47 x 0.5 / 2^22 = 0.18359375, times 0.5
    EXPECT_EQ(First(0), static_cast<int>(20000 * 0.091796875));
    channels[0].position = 0.0f;
    channels[0].volumeEnvelopePosition = 0;
    channels[0].volume = 63;
    channels[0].fadeVolume = 65536;
    player.masterVolume = 1.0f;
    RenderVoice(0, StepOne, 30); // the level is held to 0..63 after the tremolo offset
    EXPECT_EQ(First(0), Level(20000));
    channels[0].position = 0.0f;
    RenderVoice(0, StepOne, -100);
    EXPECT_EQ(First(0), 0);
    // The envelope's product with the float base is kept in double: 32000 x 63/64 x 0.85 (points (0, 64), (5, 16)
    // at 1) is exactly 26775, where rounding the amplitude to a float would give 26774.
    in.volumeEnvelope = {{{0, 64}, {5, 16}}, 0, 1};
    Prepare(std::vector<int>(128, 32000), 0, 0, 0, 255, in);
    channels[0].volumeEnvelopePosition = 1;
    RenderVoice(0, StepOne, 0);
    EXPECT_EQ(First(0), 26775);
}

TEST_F(Voice, EnvelopesPlainSustainedAndLooped) {
    XmInstrument plain = RampInstrument(4), sustain = plain, loop = plain, broken = plain, full = plain;
    plain.volumeEnvelope = {{{0, 64}, {10, 0}}, 0, 1};
    plain.panningEnvelope = {{{0, 0}, {10, 64}}, 0, 1};
    sustain.volumeEnvelope = {{{0, 0}, {4, 64}, {8, 32}}, 1};
    sustain.panningEnvelope = {{{0, 16}, {4, 64}}, 0};
    loop.volumeEnvelope = {{{0, 0}, {10, 64}, {20, 0}}, 0, 0, 0, 1};
    loop.panningEnvelope = {{{0, 0}, {10, 64}, {20, 0}}, 0, 0, 1, 2};
    broken.volumeEnvelope = {{{0, 64}, {0, 64}, {5, 0}}, 200, 0, 0, 1}; // loop ends share an x
    broken.panningEnvelope = {std::vector<std::pair<int, int>>(12, {0, 8}), 12, 0, 255, 13};
    // Twelve points ending at 40, and a sustain index past them: the last point holds. The panning envelope's
    // first point (16) lies right after the twelfth in memory.
    for (int k = 0; k < 12; ++k)
        full.volumeEnvelope.points.push_back({k, k == 11 ? 40 : 64});
    full.volumeEnvelope.sustain = 12;
    full.panningEnvelope.points = {{0, 16}};
    XmSong song = Song(1, 1, 6);
    song.instruments = {plain, sustain, loop, broken, full};
    ASSERT_EQ(LoadXm("envelopes.xm", song), 0) << ModuleError();

    // (function, instrument, x, value): past the last point the defaults (0 and 0.5); sustain index 0 is always
    // the first point; loops fold x back by their length from the loop start on; loop ends that share an x, and
    // indices past the twelve points, hold the last point; instrument 5's sustain index 12 on twelve points holds
    // the twelfth, not the panning point behind it; instruments not there give the defaults.
    using Envelope = double (*)(int, int);
    const Envelope VP = VolumeEnvelopePlain, PP = PanningEnvelopePlain, VS = VolumeEnvelopeSustain,
                   PS = PanningEnvelopeSustain, VL = VolumeEnvelopeLoop, PL = PanningEnvelopeLoop;
    const struct {
        Envelope f;
        int instrument, x;
        double value;
    } points[] = {{VP, 1, 0, 1.0},   {VP, 1, 5, 0.5},   {VP, 1, 10, 0.0},  {PP, 1, 2, 0.2},
                  {PP, 1, 10, 0.5},  {VS, 2, 2, 0.5},   {VS, 2, 6, 1.0},   {VS, 2, 100000, 1.0},
                  {PS, 2, 3, 0.25},  {VL, 3, 15, 0.5},  {VL, 3, 10, 0.0},  {VL, 3, 27, 0.7},
                  {PL, 3, 5, 0.5},   {PL, 3, 25, 0.5},  {PL, 3, 12, 0.8},  {VL, 4, 2, 0.6},
                  {VS, 4, 3, 0.4},   {PS, 4, 3, 0.125}, {PL, 4, 300, 0.5}, {VS, 5, 1000, 40.0 / 64},
                  {VP, 200, 3, 0.0}, {PP, 0, 3, 0.5}};
    for (const auto& p : points)
        EXPECT_DOUBLE_EQ(p.f(p.instrument, p.x), p.value) << &p - points;
}
