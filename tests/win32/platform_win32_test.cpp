// The Windows platform's own decisions, checked apart from DirectDraw and DirectSound: what the display does after a
// Lock or Flip failed, and how far the play cursor went between two readings, which the underrun count rests on.
#include "app/window_win32.h"
#include "audio/sound_device.h"
#include "audio/sound_win32.h"

#include <ddraw.h>
#include <gtest/gtest.h>

namespace {

TEST(DisplayRecovery, FollowsTestCooperativeLevelAndTheDrawResult) {
    const struct {
        HRESULT level;
        DisplayRecovery recovery;
    } levels[] = {
        {DD_OK, RecoverRestoreSurfaces},             // the exclusive mode is ours: the surfaces need their memory back
        {S_FALSE, RecoverRestoreSurfaces},           // any success
        {DDERR_WRONGMODE, RecoverSetModeAndRestore}, // ours, but another mode was set meanwhile
        {DDERR_NOEXCLUSIVEMODE, RecoverLater},       // switched away from
        {DDERR_EXCLUSIVEMODEALREADYSET, RecoverLater}, // another program holds the display
        {E_FAIL, RecoverLater},
    };
    for (const auto& row : levels)
        EXPECT_EQ(ChooseDisplayRecovery(row.level), row.recovery) << std::hex << row.level;
    const struct {
        HRESULT result;
        bool lost;
    } draws[] = {{DD_OK, false},
                 {DDERR_WASSTILLDRAWING, false},
                 {DDERR_SURFACELOST, true},
                 {DDERR_NOEXCLUSIVEMODE, true},
                 {E_FAIL, true}};
    for (const auto& row : draws)
        EXPECT_EQ(DisplayLost(row.result), row.lost) << std::hex << row.result;
}

TEST(SoundAccounting, TheCursorGoesForwardAroundTheRing) {
    const uint32_t ring = StreamBufferBytes; // 112896 bytes, 28224 frames
    const struct {
        uint32_t last, cursor, frames;
    } readings[] = {
        {0, 0, 0},              // not moved
        {0, 4, 1},              // one frame
        {0, 14112, 3528},       // one chunk
        {ring - 4, 0, 1},       // across the end of the ring
        {ring - 400, 400, 200}, // across the end, further
        {4, 0, 28223},          // all the way round but one frame
        {56448, 56444, 28223},  // likewise from the middle
        {100000, 12892, (ring - 100000 + 12892) / 4},
    };
    for (const auto& row : readings)
        EXPECT_EQ(FramesPlayedBetween(row.last, row.cursor), row.frames) << row.last << " to " << row.cursor;
}

} // namespace
