// Voice rendering and envelopes: frames worked out by hand from the resampling, level and pan rules.
#include "xm_writer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// 28634112 = 2^10 x 27963, so period 27963 plays 1024 Hz: at 8 ticks per second and 128 frames per tick the
// step is exactly 1.0, and period 2 x 27963 gives exactly 0.5.
constexpr int StepOne = 27963;
constexpr int StepHalf = 2 * 27963;
constexpr double FullAmp = 63.0 / 64.0; // volume 63, fade 65536, master 1.0

class Voice : public ::testing::Test {
protected:
    void SetUp() override { ResetMusicState(); }
    void TearDown() override { ResetMusicState(); }

    // Loads one instrument with one 16-bit sample of `values`, and sets channel 0 up to play it.
    void Prepare(const std::vector<int>& values, int loopType = 0, int loopStart = 0, int loopLength = 0,
                 int panning = 255, XmInstrumentSpec in = {}) {
        XmSampleSpec s;
        s.sixteenBit = true;
        s.values = values;
        s.loopType = loopType;
        s.loopStart = loopStart;
        s.loopLength = loopLength;
        s.panning = panning;
        in.samples = {s};
        XmSpec spec;
        spec.instruments = {in};
        ASSERT_EQ(LoadXm("voice.xm", spec), 0) << ModuleError();
        PrepareMusic();
        player.samplesPerTick = 128;
        player.ticksPerSecond = 8.0f;
        player.writePosition = 0;
        player.tick = 0;
        player.masterVolume = 1.0f;
        player.channelPan[0] = 1.0f;
        Channel& ch = channels[0];
        ch.instrument = 1;
        ch.sampleIndex = 0;
        ch.volume = 63;
        ch.fadeVolume = 65536;
        ch.position = 0.0f;
        ch.period = StepOne;
        ch.noteDelayTick = 0;
        ch.volumeEnvelopePosition = 0;
        ch.panningEnvelopePosition = 0;
    }
    int16_t First(int frame) const { return player.mixBuffers[0][0][2 * frame]; }
    int16_t Second(int frame) const { return player.mixBuffers[0][0][2 * frame + 1]; }
};

std::vector<int> Ramp(int n, int scale = 100, int offset = -3000) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i)
        v.push_back(offset + i * scale);
    return v;
}

int Level(double s, double amp = FullAmp) {
    return static_cast<int>(s * amp);
}

} // namespace

TEST_F(Voice, UnloopedSampleEndsAndFallsSilent) {
    std::vector<int> d = Ramp(100);
    Prepare(d);
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 100; ++k) {
        ASSERT_EQ(First(k), Level(d[k])) << k; // pan 1: everything in the first value
        ASSERT_EQ(Second(k), 0) << k;
    }
    for (int k = 100; k < 128; ++k)
        ASSERT_EQ(First(k) | Second(k), 0) << k;
    EXPECT_EQ(channels[0].period, 0);
    EXPECT_EQ(channels[0].position, 100.0f);

    // At half speed from frame 90 the last frame before the end interpolates toward itself, not toward 0.
    channels[0].period = StepHalf;
    channels[0].position = 90.0f;
    RenderVoice(0, StepHalf, 0);
    EXPECT_EQ(First(0), Level(d[90]));
    EXPECT_EQ(First(1), Level(d[90] + 0.5 * (d[91] - d[90])));
    EXPECT_EQ(First(17), Level(d[98] + 0.5 * (d[99] - d[98])));
    EXPECT_EQ(First(19), Level(d[99]));
    EXPECT_EQ(First(20), 0);
    EXPECT_EQ(channels[0].period, 0);
}

TEST_F(Voice, ForwardLoopWrapsToItsStart) {
    std::vector<int> d = Ramp(30);
    Prepare(d, 1, 10, 20);
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 128; ++k) {
        int r = k < 30 ? k : 10 + (k - 10) % 20;
        ASSERT_EQ(First(k), Level(d[r])) << k;
    }
    // The position stays inside the loop: 10 + (128 - 10) mod 20 = 28.
    EXPECT_EQ(channels[0].position, 28.0f);
    // Half speed across the end: index 29 interpolates toward index 10.
    channels[0].position = 29.0f;
    RenderVoice(0, StepHalf, 0);
    EXPECT_EQ(First(0), Level(d[29]));
    EXPECT_EQ(First(1), Level(d[29] + 0.5 * (d[10] - d[29])));
    EXPECT_EQ(First(2), Level(d[10]));
}

TEST_F(Voice, PingPongLoopTurnsAtBothEnds) {
    std::vector<int> d = Ramp(20);
    Prepare(d, 2, 10, 4);
    channels[0].position = 10.0f;
    RenderVoice(0, StepOne, 0);
    const int expected[] = {10, 11, 12, 13, 14, 13, 12, 11, 10, 11, 12};
    for (int k = 0; k < 11; ++k)
        ASSERT_EQ(First(k), Level(d[expected[k]])) << k;
    for (int k = 0; k < 128; ++k) {
        int u = k % 8;
        ASSERT_EQ(First(k), Level(d[10 + (u < 4 ? u : 8 - u)])) << k;
    }
}

TEST_F(Voice, PingPongTurnAtTheLastFrameStaysInsideTheData) {
    // Loop 10..13 ends with the data: the turn would read index 14; the last frame stands in for it.
    std::vector<int> d = Ramp(14);
    Prepare(d, 2, 10, 4);
    channels[0].position = 10.0f;
    RenderVoice(0, StepOne, 0);
    const int expected[] = {10, 11, 12, 13, 13, 13, 12, 11, 10, 11};
    for (int k = 0; k < 10; ++k)
        ASSERT_EQ(First(k), Level(d[expected[k]])) << k;
}

TEST_F(Voice, PanLawSplitsEachFrame) {
    std::vector<int> d = {-10000, 10000, 12345, -101};
    Prepare(d, 0, 0, 0, 0); // sample panning 0: p = 0, everything in the second value
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(First(k), 0);
        EXPECT_EQ(Second(k), Level(d[k]));
    }
    // Default channel pan 0.5 with a centred sample (128): p = 128 x (1/255 as a float) x 0.5, and
    // g = 0.5 - 0.5 sqrt(2 (0.5 - p)).
    TearDown();
    Prepare(d, 0, 0, 0, 128);
    player.channelPan[0] = 0.5f;
    RenderVoice(0, StepOne, 0);
    double p = 128 * static_cast<double>(0.003921569f) * 0.5;
    float g = static_cast<float>(0.5 - 0.5 * std::sqrt(2 * (0.5 - p)));
    for (int k = 0; k < 4; ++k) {
        int v = Level(d[k]);
        int first = static_cast<int>(v * static_cast<double>(g));
        EXPECT_EQ(First(k), first);
        EXPECT_EQ(Second(k), v - first);
    }
    // A flat panning envelope at 32 is exactly p = 0.5: (trunc(v/2), v - trunc(v/2)).
    TearDown();
    XmInstrumentSpec in;
    in.panningPoints = {{0, 32}, {100, 32}};
    in.panningType = 1;
    Prepare(d, 0, 0, 0, 0, in);
    RenderVoice(0, StepOne, 0);
    for (int k = 0; k < 4; ++k) {
        int v = Level(d[k]);
        EXPECT_EQ(First(k), v / 2) << k;
        EXPECT_EQ(Second(k), v - v / 2) << k;
    }
}

TEST_F(Voice, LevelFadeMasterAndEnvelopeScaleTheAmplitude) {
    std::vector<int> d(128, 20000);
    XmInstrumentSpec in;
    in.volumePoints = {{0, 64}, {10, 0}};
    in.volumeType = 1;
    Prepare(d, 0, 0, 0, 255, in);
    channels[0].volumeEnvelopePosition = 5; // envelope 0.5
    channels[0].volume = 40;
    channels[0].fadeVolume = 32768;
    player.masterVolume = 0.5f;
    RenderVoice(0, StepOne, 7); // tremolo adds 7: level 47
    // 32768 x 47 x 0.5 / 2^22 = 0.18359375, times 0.5.
    EXPECT_EQ(First(0), static_cast<int>(20000 * 0.091796875));
    // Level is clamped to 0..63 after the tremolo offset.
    channels[0].position = 0.0f;
    channels[0].volumeEnvelopePosition = 0;
    channels[0].fadeVolume = 65536;
    player.masterVolume = 1.0f;
    RenderVoice(0, StepOne, 30);
    EXPECT_EQ(First(0), Level(20000));
    channels[0].position = 0.0f;
    RenderVoice(0, StepOne, -100);
    EXPECT_EQ(First(0), 0);
    // Silence and the write position: frames below writePosition are left alone.
    player.writePosition = 10;
    player.mixBuffers[0][0][0] = 77;
    RenderSilence(0);
    EXPECT_EQ(player.mixBuffers[0][0][0], 77);
    for (int k = 10; k < 138; ++k)
        ASSERT_EQ(First(k) | Second(k), 0);
    // A period of 0 or below has no frequency: silence, no division.
    player.writePosition = 0;
    channels[0].position = 0.0f;
    RenderVoice(0, 0, 0);
    EXPECT_EQ(First(0), 0);
    RenderVoice(0, -5, 0);
    EXPECT_EQ(First(0), 0);
}

TEST_F(Voice, EnvelopesPlainSustainedAndLooped) {
    XmSpec spec;
    XmInstrumentSpec plain = RampInstrument(4);
    plain.volumePoints = {{0, 64}, {10, 0}};
    plain.panningPoints = {{0, 0}, {10, 64}};
    plain.volumeType = plain.panningType = 1;
    XmInstrumentSpec sustain = RampInstrument(4);
    sustain.volumePoints = {{0, 0}, {4, 64}, {8, 32}};
    sustain.volumeSustain = 1;
    sustain.panningPoints = {{0, 16}, {4, 64}};
    sustain.panningSustain = 0;
    XmInstrumentSpec loop = RampInstrument(4);
    loop.volumePoints = {{0, 0}, {10, 64}, {20, 0}};
    loop.volumeLoopStart = 0;
    loop.volumeLoopEnd = 1;
    loop.panningPoints = {{0, 0}, {10, 64}, {20, 0}};
    loop.panningLoopStart = 1;
    loop.panningLoopEnd = 2;
    XmInstrumentSpec broken = RampInstrument(4);
    broken.volumePoints = {{0, 64}, {0, 64}, {5, 0}};
    broken.volumeLoopStart = 0;
    broken.volumeLoopEnd = 1; // ends share an x
    broken.volumeSustain = 200;
    broken.panningSustain = 12;
    broken.panningLoopStart = 255;
    broken.panningLoopEnd = 13;
    spec.instruments = {plain, sustain, loop, broken};
    ASSERT_EQ(LoadXm("envelopes.xm", spec), 0) << ModuleError();

    EXPECT_DOUBLE_EQ(VolumeEnvelopePlain(1, 0), 1.0);
    EXPECT_DOUBLE_EQ(VolumeEnvelopePlain(1, 5), 0.5);
    EXPECT_DOUBLE_EQ(VolumeEnvelopePlain(1, 10), 0.0); // at the last point: the default
    EXPECT_DOUBLE_EQ(VolumeEnvelopePlain(1, 1000), 0.0);
    EXPECT_DOUBLE_EQ(PanningEnvelopePlain(1, 5), 0.5);
    EXPECT_DOUBLE_EQ(PanningEnvelopePlain(1, 2), 0.2);
    EXPECT_DOUBLE_EQ(PanningEnvelopePlain(1, 10), 0.5); // past the last point: the panning default

    EXPECT_DOUBLE_EQ(VolumeEnvelopeSustain(2, 2), 0.5);
    EXPECT_DOUBLE_EQ(VolumeEnvelopeSustain(2, 4), 1.0);
    EXPECT_DOUBLE_EQ(VolumeEnvelopeSustain(2, 6), 1.0);
    EXPECT_DOUBLE_EQ(VolumeEnvelopeSustain(2, 100000), 1.0);
    EXPECT_DOUBLE_EQ(PanningEnvelopeSustain(2, 3), 0.25); // sustain index 0: always the first point

    EXPECT_DOUBLE_EQ(VolumeEnvelopeLoop(3, 5), 0.5);
    EXPECT_DOUBLE_EQ(VolumeEnvelopeLoop(3, 15), 0.5); // 0 + 15 mod 10
    EXPECT_DOUBLE_EQ(VolumeEnvelopeLoop(3, 10), 0.0);
    EXPECT_DOUBLE_EQ(VolumeEnvelopeLoop(3, 27), 0.7);  // 0 + 27 mod 10 = 7
    EXPECT_DOUBLE_EQ(PanningEnvelopeLoop(3, 5), 0.5);  // before the loop start: not folded
    EXPECT_DOUBLE_EQ(PanningEnvelopeLoop(3, 25), 0.5); // 10 + 15 mod 10 = 15: halfway down from 64
    EXPECT_DOUBLE_EQ(PanningEnvelopeLoop(3, 12), 0.8); // 64 x 0.8 + 0 x 0.2

    // Loop ends sharing an x do not fold; indices past the 12 points read the last point.
    EXPECT_DOUBLE_EQ(VolumeEnvelopeLoop(4, 2), 0.6);
    EXPECT_DOUBLE_EQ(VolumeEnvelopeSustain(4, 3), 0.4);
    EXPECT_DOUBLE_EQ(PanningEnvelopeSustain(4, 3), 0.0);
    EXPECT_DOUBLE_EQ(PanningEnvelopeLoop(4, 300), 0.5);
    // Instrument numbers with no instrument behind them give the defaults.
    EXPECT_DOUBLE_EQ(VolumeEnvelopePlain(200, 3), 0.0);
    EXPECT_DOUBLE_EQ(PanningEnvelopePlain(0, 3), 0.5);
}
