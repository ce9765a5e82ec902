#pragma once
#include <cstdint>

// The show's timeline on a real display: within a run of flips that the script marks (a picture scene, from its
// first frame to its last), 60 flips a second of wall time, whatever the display's refresh rate. A display faster
// than that never speeds the show up: a flip that comes early waits for its time. On the platforms that can leave
// a frame out (SDL, the browser), nothing slows it down either: a flip late by a period or more (a display that
// cannot keep up, a thread the machine starved) is not shown, and the frames after it catch up, each drawn over
// the one before. Windows shows every frame: there a late flip is shown at once, and so are those after it, without
// waiting, until the flips are on time again; a flip more than MaxCatchUp late starts the count again from now.
// While the picture cannot be seen (a hidden page, a minimised window, a display that is not ours) nothing is shown,
// and the flips keep their times.

constexpr uint64_t PacingSecond = 1000000000; // the times are in nanoseconds
constexpr uint64_t PacingFlipsPerSecond = 60;
// The most a display that shows every frame catches up on: a few frames' hiccup is made good by flips that do not
// wait, a longer stall is not played back at speed.
constexpr uint64_t MaxCatchUp = PacingSecond / 4;

struct FlipPacing {
    bool started;    // false: the next flip is the first of a run, shown at once
    uint64_t anchor; // the time of the flip the count runs from
    uint64_t flips;  // flips since the anchor
};

struct FlipPlan {
    uint64_t showAt; // wait until then (now when the flip is on time or late)
    bool show;       // false: the frame is left out
};

// The time flip `flips` after the anchor is due.
inline uint64_t FlipDue(const FlipPacing& pacing, uint64_t flips) {
    return pacing.anchor + flips * PacingSecond / PacingFlipsPerSecond;
}

// What to do with the flip asked for at `now`. `visible`: the picture can be seen; `mayDrop`: the platform can leave
// a frame out. Moves the count on.
FlipPlan PlanFlip(FlipPacing* pacing, uint64_t now, bool visible, bool mayDrop);

// A performance-counter reading in nanoseconds.
inline uint64_t CounterNanoseconds(uint64_t counter, uint64_t frequency) {
    return counter / frequency * PacingSecond + counter % frequency * PacingSecond / frequency;
}
