// The row rules both engines share: what a row does on tick 0 before the channels play, and the move on to the next
// row. Each test reads the row afresh: a jump or a loop earlier on changes what later tests see.
#include "music/row_effects.h"

NoteCell rowCells[MaxChannels];

namespace {

constexpr NoteCell EmptyCell = {-1, 0, 0, 0, 0, 0, 0};

} // namespace

void FetchRow(const Module* module, const FormatRules& rules) {
    for (int32_t c = 0; c < player.channelCount; ++c) {
        const NoteCell* cell = rules.cellAt(module, player.orderPosition, player.row, c);
        rowCells[c] = cell ? *cell : EmptyCell;
    }
}

void StartRow(const Module* module, int32_t c, const FormatRules& rules) {
    Channel& ch = channels[c];
    ch.noteDelayTick = 0;
    ch.fineVolumeSlide = 0;
    ch.volumeSlide = 0;
    ch.noteCutTick = -1;

    const NoteCell& cell = rowCells[c];
    if (cell.effect == SpeedTempo) {
        if (cell.param <= 32)
            player.speed = cell.param;
        else
            SetEffectTempo(cell.param);
    }
    if (cell.effect == PositionJump) {
        int32_t target = cell.param;
        if (rules.jumpPastEndRestarts && target >= module->songLength) {
            target = 0;
            player.songEnded = 1;
        }
        JumpToOrder(target);
        FetchRow(module, rules);
    }
    if (cell.effect == Arpeggio) {
        ch.arpeggioStep = 0;
        ch.arpeggioX = cell.param >> 4;
        ch.arpeggioY = cell.param & 15;
    }
    if (rules.panCommands && cell.effect == SetPan)
        player.channelPan[c] = static_cast<float>(cell.param * static_cast<double>(0.003921569f));
    if (cell.effect == Vibrato) {
        if (cell.param & 15)
            ch.vibratoDepth = cell.param & 15;
        if (cell.param >> 4)
            ch.vibratoSpeed = cell.param >> 4;
        if (cell.note != -1)
            ch.vibratoPosition = 0;
    }
    if (cell.effect == Tremolo) {
        if (cell.param & 15)
            ch.tremoloDepth = cell.param & 15;
        if (cell.param >> 4)
            ch.tremoloSpeed = cell.param >> 4;
        if (cell.note != -1)
            ch.tremoloPosition = 0;
    }
    if (cell.effect == PortaUp && cell.param != 0)
        ch.portaUpSpeed = cell.param * rules.portaScale;
    if (cell.effect == PortaDown && cell.param != 0)
        ch.portaDownSpeed = cell.param * rules.portaScale;
    if (cell.effect == Extended) {
        // One command of the high nibble, with the value it had before any refetch.
        const int32_t x = cell.param >> 4, y = cell.param & 15;
        if (x == PatternLoop) {
            ApplyPatternLoop(y);
            FetchRow(module, rules);
        } else if (x == SetPanCoarse) {
            if (rules.panCommands)
                player.channelPan[c] = static_cast<float>(y * 0.0625);
        } else if (x == FineVolumeUp) {
            ch.fineVolumeSlide = y;
        } else if (x == FineVolumeDown) {
            ch.fineVolumeSlide = -y;
        } else if (x == NoteCut) {
            ch.noteCutTick = y;
        } else if (x == PatternDelay) {
            if (player.patternDelay == 0)
                player.patternDelay = y;
        } else if (x == FinePortaUp) {
            if (rules.finePortaMemories)
                ch.portaUpSpeed = y;
        } else if (x == FinePortaDown) {
            if (rules.finePortaMemories)
                ch.portaDownSpeed = y;
        }
    }
    if (cell.effect == VibratoSlide)
        ch.volumeSlide = SlideAmount(cell.param);
}

void AdvanceSong(const Module* module, const FormatRules& rules) {
    player.tick += 1;
    if (player.tick < player.speed)
        return;
    if (player.patternDelay != 0) {
        player.patternDelay -= 1;
    } else {
        bool broke = false;
        for (int32_t c = 0; c < player.channelCount; ++c) {
            // The cell where the scan has got to: a break before this one may have moved the position.
            const NoteCell* cell = rules.cellAt(module, player.orderPosition, player.row, c);
            if (cell && cell->effect == PatternBreak) {
                player.row = rules.breakRowFromRowStart ? rowCells[c].param : cell->param;
                AdvanceOrder(module);
                player.tick = 0;
                broke = true;
            }
        }
        if (!broke) {
            player.row += 1;
            player.tick = 0;
        }
    }
    if (player.row > rules.rowCount(module, player.orderPosition) - 1) {
        AdvanceOrder(module);
        player.row = 0;
        player.patternLoopRow = 0;
    }
}
