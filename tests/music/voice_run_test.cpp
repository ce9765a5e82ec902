// Straight runs against the frame-by-frame definition: the position grows by one float addition per frame, and
// each frame is trunc((s0 + frac x (s1 - s0)) x amp) split by trunc(v x pan).
#include "music/voice_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Case {
    std::vector<int16_t> data;
    float pos;
    float step;
    int32_t limit;
    int32_t mirror;
    int32_t frames;
    double amp;
    double pan;
};

// What the one-by-one renderer produces for the first `frames` frames, and the position after them. Returns false
// if a frame would read outside what a run may read.
bool Serial(const Case& c, int32_t frames, std::vector<int16_t>& out, float& pos) {
    pos = c.pos;
    out.clear();
    for (int32_t k = 0; k < frames; ++k) {
        const int32_t i = static_cast<int32_t>(pos);
        if (i < 0 || i + 1 >= c.limit)
            return false;
        const int64_t size = static_cast<int64_t>(c.data.size());
        if (c.mirror ? c.mirror - i - 1 < 0 || c.mirror - i >= size : i + 1 >= size)
            return false;
        const float frac = pos - static_cast<float>(i);
        const int32_t s0 = c.mirror ? c.data[c.mirror - i] : c.data[i];
        const int32_t s1 = c.mirror ? c.data[c.mirror - i - 1] : c.data[i + 1];
        const int32_t v = static_cast<int32_t>((s0 + static_cast<double>(frac) * (s1 - s0)) * c.amp);
        const int32_t left = static_cast<int32_t>(v * c.pan);
        out.push_back(static_cast<int16_t>(left));
        out.push_back(static_cast<int16_t>(v - left));
        pos = pos + c.step;
    }
    return true;
}

float Spacing(float x) {
    return std::nextafter(x, INFINITY) - x;
}

Case MakeCase(std::mt19937& random, int kind) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Case c{};
    const int32_t loopStart = static_cast<int32_t>(random() % 3000);
    const int32_t loopLength = 2 + static_cast<int32_t>(random() % 60000);
    const int32_t loopEnd = loopStart + loopLength;
    const bool backward = random() % 4 == 0;
    c.limit = backward ? loopStart + 2 * loopLength : loopEnd;
    c.mirror = backward ? 2 * loopEnd : 0;
    c.data.resize(static_cast<size_t>(backward ? loopEnd + 1 : loopEnd));
    for (int16_t& v : c.data)
        v = static_cast<int16_t>(random());
    const float low = backward ? static_cast<float>(loopEnd + 1) : 0.0f;
    c.pos = low + unit(random) * static_cast<float>(c.limit - low);
    c.step = 0.01f + 4.0f * unit(random);
    switch (kind) {
    case 1: // just below a power of two
        c.pos = std::ldexp(1.0f, 1 + static_cast<int>(random() % 15)) - Spacing(c.pos) * (random() % 2000);
        break;
    case 2: // a step exactly halfway between two spacings: additions round to even, alternately up and down
        c.step = Spacing(c.pos) * (static_cast<float>(random() % 50000) + 0.5f);
        break;
    case 3: // a step so small that the position never moves
        c.step = Spacing(c.pos) * 0.25f;
        break;
    case 4: // a position starting at 0 or in the first few units, where each addition may change the spacing
        c.pos = random() % 2 ? 0.0f : unit(random) * 4.0f;
        break;
    default:
        break;
    }
    if (c.pos < low) { // moved before the return half: read forwards
        c.limit = loopEnd;
        c.mirror = 0;
    }
    c.frames = 1 + static_cast<int32_t>(random() % 3000);
    c.amp = random() % 8 == 0 ? 3.5 : unit(random);
    c.pan = random() % 3 == 0 ? 0.5 : unit(random);
    return c;
}

TEST(VoiceRun, EveryPathGivesTheFramesOfTheSerialDefinition) {
    std::mt19937 random(20261207);
    int64_t runFrames = 0;
    int32_t ties = 0;
    for (int n = 0; n < 6000; ++n) {
        const Case c = MakeCase(random, n % 5);
        const StraightRun run = FindStraightRun(c.pos, c.step, c.limit, c.frames);
        ASSERT_LE(run.frames, c.frames);
        if (run.frames == 0) {
            EXPECT_GE(run.retry, 1);
            ties += n % 5 == 2;
            continue;
        }
        std::vector<int16_t> expected;
        float after;
        ASSERT_TRUE(Serial(c, run.frames, expected, after))
            << "a run of " << run.frames << " frames from " << c.pos << " reads past limit " << c.limit;
        EXPECT_EQ(static_cast<float>(c.pos + run.frames * run.advance), after) << "case " << n;
        runFrames += run.frames;
        for (int path : {0, 1, 2}) {
            VoiceRunPath = path;
            std::vector<int16_t> out(2 * static_cast<size_t>(run.frames) + 2, 0x5A5A);
            RenderStraightRun(c.data.data(), c.mirror, c.pos, run.advance, run.frames, c.amp, c.pan, out.data());
            EXPECT_EQ(out[out.size() - 1], 0x5A5A) << "wrote past the run";
            out.resize(out.size() - 2);
            ASSERT_EQ(out, expected) << "case " << n << ", path " << path << ", pos " << c.pos << ", step " << c.step;
        }
    }
    VoiceRunPath = 2;
    // The cases must exercise the runs, and steps exactly halfway are turned down.
    EXPECT_GT(runFrames, 3000000);
    EXPECT_GT(ties, 1000);
}

TEST(VoiceRun, RunsStopAtThePowerOfTwoAndAtTheLimit) {
    // From 1000 by 0.25 the positions are exact; index 1022 is the last whose next sample lies below 1024.
    StraightRun run = FindStraightRun(1000.0f, 0.25f, 1024, 1000);
    EXPECT_EQ(run.frames, 92); // positions 1000 .. 1022.75
    EXPECT_EQ(run.advance, 0.25);
    // Below 512 the spacing is 2^-15. The frame at 511.75, whose addition reaches 512, is left out: from there the
    // spacing doubles.
    run = FindStraightRun(500.0f, 0.25f, 100000, 1000);
    EXPECT_EQ(run.frames, 47); // 500 .. 511.5
    // A run shorter than eight frames is left to the frame-by-frame renderer: 4 frames, then the one at the limit.
    run = FindStraightRun(1021.0f, 0.25f, 1023, 1000);
    EXPECT_EQ(run.frames, 0);
    EXPECT_EQ(run.retry, 5);
    // Negative, zero and infinite positions never start a run.
    EXPECT_EQ(FindStraightRun(-1.0f, 0.25f, 1024, 1000).frames, 0);
    EXPECT_EQ(FindStraightRun(0.0f, 0.25f, 1024, 1000).frames, 0);
    EXPECT_EQ(FindStraightRun(INFINITY, 0.25f, 1024, 1000).frames, 0);
    // With runs switched off every frame goes one by one.
    VoiceRunPath = -1;
    run = FindStraightRun(1000.0f, 0.25f, 1024, 600);
    VoiceRunPath = 2;
    EXPECT_EQ(run.frames, 0);
    EXPECT_EQ(run.retry, 600);
}

} // namespace
