// The show's timeline on real displays: each decision (wait, show, leave out) by hand, then whole runs on simulated
// displays of 30 to 240 Hz whose vertical blank holds a shown frame back, and a hidden page.
#include "app/pacing.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t Ms = 1000000;
constexpr uint64_t Period = PacingSecond / 60; // 16.67 ms

// Flip k's time from an anchor, to the nanosecond as the timeline counts it.
uint64_t Due(uint64_t anchor, uint64_t k) {
    return anchor + k * PacingSecond / 60;
}

TEST(Pacing, WaitShowOrLeaveOut) {
    FlipPacing p{};
    const uint64_t t0 = 1000 * Ms;
    auto plan = [&](uint64_t now, bool visible = true, bool mayDrop = true) {
        return PlanFlip(&p, now, visible, mayDrop);
    };
    auto expect = [](FlipPlan got, uint64_t showAt, bool show) {
        EXPECT_EQ(got.showAt, showAt);
        EXPECT_EQ(got.show, show);
    };
    expect(plan(t0), t0, true);                                               // the first flip: at once
    expect(plan(t0 + 5 * Ms), Due(t0, 1), true);                              // early: waits for its time
    expect(plan(t0 + 2 * Period + 10 * Ms), t0 + 2 * Period + 10 * Ms, true); // late by less than a period: now
    // Late by a period or more (a slow display, a starved thread): left out, and so are the flips after it until
    // one is on time again.
    expect(plan(t0 + 5 * Period), t0 + 5 * Period, false);
    expect(plan(t0 + 5 * Period + 2 * Ms), t0 + 5 * Period + 2 * Ms, false);
    expect(plan(t0 + 5 * Period + 3 * Ms), t0 + 5 * Period + 3 * Ms, true);
    expect(plan(t0 + 5 * Period + 4 * Ms), Due(t0, 6), true);
    // A new run (the script's next scene) starts from now, however late the old one would be.
    p.started = false;
    const uint64_t t1 = t0 + 20 * Period;
    expect(plan(t1), t1, true);
    expect(plan(t1 + 2 * Ms), Due(t1, 1), true);
    // A hidden page shows nothing and keeps the times.
    expect(plan(t1 + Period + 1 * Ms, false), Due(t1, 2), false);
    // Where no frame may be left out (Windows), a late one is shown at once, and so are the next ones until the
    // flips are on time again; one late by more than a quarter of a second starts the count from now.
    expect(plan(t1 + 5 * Period, true, false), t1 + 5 * Period, true);
    expect(plan(t1 + 5 * Period + 1 * Ms, true, false), t1 + 5 * Period + 1 * Ms, true);
    expect(plan(t1 + 5 * Period + 2 * Ms, true, false), t1 + 5 * Period + 2 * Ms, true);
    expect(plan(t1 + 5 * Period + 3 * Ms, true, false), Due(t1, 6), true);
    const uint64_t t2 = t1 + 7 * Period + 300 * Ms;
    expect(plan(t2, true, false), t2, true);
    expect(plan(t2 + 1 * Ms, true, false), Due(t2, 1), true);
}

// 600 flips (10 s of the timeline) composed in 2 ms each, on a display that holds a shown frame until its next
// vertical blank; returns the frames shown and the time the flips took.
std::pair<int, uint64_t> RunFlips(int hertz, bool visible) {
    FlipPacing p{};
    const uint64_t blank = PacingSecond / uint64_t(hertz), start = 5 * PacingSecond + 3 * Ms;
    uint64_t now = start;
    int shown = 0;
    for (int flip = 0; flip < 600; ++flip) {
        const FlipPlan plan = PlanFlip(&p, now, visible, true);
        now = plan.showAt > now ? plan.showAt : now;
        if (plan.show) {
            ++shown;
            now = (now / blank + 1) * blank;
        }
        now += 2 * Ms;
    }
    return {shown, now - start};
}

TEST(Pacing, SixtyFlipsASecondOnEveryDisplay) {
    const struct {
        int hertz, shownAtLeast, shownAtMost;
    } displays[] = {{60, 600, 600},  {75, 600, 600}, {120, 600, 600}, {144, 600, 600},
                    {240, 600, 600}, {43, 420, 440}, {30, 290, 310}};
    for (const auto& d : displays) {
        const auto [shown, took] = RunFlips(d.hertz, true);
        EXPECT_GE(shown, d.shownAtLeast) << d.hertz << " Hz";
        EXPECT_LE(shown, d.shownAtMost) << d.hertz << " Hz";
        EXPECT_NEAR(double(took), 10.0 * PacingSecond, 2.0 * Period) << d.hertz << " Hz";
    }
    const auto [shown, took] = RunFlips(60, false);
    EXPECT_EQ(shown, 0);
    EXPECT_NEAR(double(took), 10.0 * PacingSecond, 2.0 * Period);
}

} // namespace
