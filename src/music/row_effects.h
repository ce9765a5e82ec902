#pragma once
// What the XM and MOD engines share: the effect column's commands, numbered as both formats store them, and the
// rules that are the same in both: the parameter memories and song commands at the start of a row, and the move to
// the next row at the end of a tick (row_effects.cpp). Each engine keeps its own units (MOD periods move by twice
// the parameter, XM periods by eight times), its note and channel rules, and says in its FormatRules where the
// shared ones differ for it.
#include "music/music.h"

enum Effect : uint8_t {
    Arpeggio = 0x0,
    PortaUp = 0x1,
    PortaDown = 0x2,
    TonePorta = 0x3,
    Vibrato = 0x4,
    TonePortaSlide = 0x5, // tone portamento going on, with a volume slide
    VibratoSlide = 0x6,   // vibrato going on, with a volume slide
    Tremolo = 0x7,
    SetPan = 0x8,
    SampleOffset = 0x9,
    VolumeSlide = 0xA,
    PositionJump = 0xB,
    SetVolume = 0xC,
    PatternBreak = 0xD,
    Extended = 0xE, // the parameter's high nibble says which of ExtendedEffect, the low one is its value
    SpeedTempo = 0xF,
};

enum ExtendedEffect : uint8_t {
    FinePortaUp = 0x1,
    FinePortaDown = 0x2,
    SetFinetune = 0x5,
    PatternLoop = 0x6,
    SetPanCoarse = 0x8,
    FineVolumeUp = 0xA,
    FineVolumeDown = 0xB,
    NoteCut = 0xC,
    NoteDelay = 0xD,
    PatternDelay = 0xE,
};

// Vibrato and tremolo waveform: the sine table's positive half, then the same half negated; 64 steps a period.
inline int32_t Waveform(int32_t position) {
    const int32_t p = position & 63;
    return p < 32 ? sineTable[p] : -sineTable[p - 32];
}

// A volume slide's step: -y when only the low nibble is set, +x when only the high one is, otherwise nothing.
inline int32_t SlideAmount(int32_t param) {
    const int32_t x = param >> 4, y = param & 15;
    if (y != 0 && x == 0)
        return -y;
    if (x != 0 && y == 0)
        return x;
    return 0;
}

// Tone portamento: moves `period` by `speed` toward `target`, never past it.
inline int32_t SlideToward(int32_t period, int32_t target, int32_t speed) {
    if (period < target)
        return period + speed > target ? target : period + speed;
    if (period > target)
        return period - speed < target ? target : period - speed;
    return period;
}

// Pattern loop with value y: 0 marks the loop's start row; otherwise the first time sets the count to y, later
// times count down, and while the count is not 0 the row goes back to the mark. The caller refetches the row.
inline void ApplyPatternLoop(int32_t y) {
    if (y == 0) {
        player.patternLoopRow = player.row;
        return;
    }
    player.patternLoopCount = player.patternLoopCount == 0 ? y : player.patternLoopCount - 1;
    if (player.patternLoopCount > 0)
        player.row = player.patternLoopRow;
}

// The next order position; past the song's last one the song has ended and starts over at position 0.
inline void AdvanceOrder(const Module* module) {
    if (++player.orderPosition >= module->songLength) {
        player.orderPosition = 0;
        player.songEnded = 1;
    }
}

// Position jump to order position `target`, row 0. The caller refetches the row.
inline void JumpToOrder(int32_t target) {
    player.orderPosition = target;
    player.row = 0;
    player.patternLoopRow = 0;
    player.tick = 0;
}

// Where a format departs from the rules both engines share.
struct FormatRules {
    // The cell of `channel` at a song position, or null where the format plays an empty cell.
    const NoteCell* (*cellAt)(const Module* module, int32_t orderPosition, int32_t row, int32_t channel);
    // Rows of the pattern at a song position.
    int32_t (*rowCount)(const Module* module, int32_t orderPosition);
    int32_t portaScale;       // a portamento's parameter times this is its speed in the format's periods
    bool panCommands;         // 8xx and E8x set the channel's pan (XM; MOD ignores both)
    bool finePortaMemories;   // E1x and E2x also set the portamento speeds (MOD)
    bool jumpPastEndRestarts; // a jump at or past the song's length starts the song over (MOD)
    // A break takes its row from the row as the tick started it, even when an earlier break in the same scan has
    // moved the position on (MOD); otherwise from the cell at the position the scan has reached (XM).
    bool breakRowFromRowStart;
};

// The current row, one cell per channel; a position jump or a pattern loop at the row's start refetches it, and
// everything after reads the new row.
extern NoteCell rowCells[MaxChannels];
void FetchRow(const Module* module, const FormatRules& rules);

// Tick 0 of a row, channel by channel before any channel plays: the row's resets, and the commands that act on the
// song (speed and tempo, position jump, pattern loop and delay) or on the channel's memories (arpeggio, vibrato,
// tremolo, portamento speeds, fine volume slides, note cut, volume slide with vibrato).
void StartRow(const Module* module, int32_t c, const FormatRules& rules);

// The end of a tick: the next tick, and once the row's ticks are done (and any pattern delay), the next row; a
// pattern break moves to the next order position at the row it names, and past a pattern's last row the song goes
// on with the next order position.
void AdvanceSong(const Module* module, const FormatRules& rules);
