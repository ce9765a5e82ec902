// The XM engine: one tick of row effects, per-channel updates and voice rendering, then the song position.
#include "music/music.h"

namespace {

constexpr int KeyOff = 97;
enum : uint8_t {
    Arpeggio = 0,
    PortaUp = 1,
    PortaDown = 2,
    TonePorta = 3,
    Vibrato = 4,
    TonePortaSlide = 5,
    VibratoSlide = 6,
    Tremolo = 7,
    SetPan = 8,
    SampleOffset = 9,
    VolumeSlide = 10,
    PositionJump = 11,
    SetVolume = 12,
    PatternBreak = 13,
    Extended = 14,
    SpeedTempo = 15,
};

// The current row's cells, one per channel; a jump or pattern loop refetches them mid-tick.
NoteCell rowCache[MaxChannels];

// Order entries naming a pattern the file does not have play as an empty pattern of 64 rows, as trackers do.
const Pattern emptyPattern = {{}, 64};
constexpr NoteCell emptyCell = {-1, 0, 0, 0, 0, 0, 0};

const Pattern& PatternAt(const Module* module, int32_t orderPosition) {
    int32_t index = module->orders[orderPosition & (MaxOrders - 1)];
    if (index < 0 || index >= module->patternCount || !module->patterns)
        return emptyPattern;
    return module->patterns[index];
}

// Rows past a pattern's end (a break to row 200, say) read as empty cells.
const NoteCell& CellAt(const Pattern& pattern, int32_t channel, int32_t row) {
    const NoteCell* cells = pattern.channelRows[channel];
    if (!cells || row < 0 || row >= pattern.rowCount)
        return emptyCell;
    return cells[row];
}

void FetchRow(const Module* module) {
    const Pattern& pattern = PatternAt(module, player.orderPosition);
    for (int32_t c = 0; c < player.channelCount; ++c)
        rowCache[c] = CellAt(pattern, c, player.row);
}

void AdvanceOrder(const Module* module) {
    if (++player.orderPosition >= module->songLength) {
        player.orderPosition = 0;
        player.songEnded = 1;
    }
}

// The instrument a channel plays, or null when that number names no instrument with samples.
const Instrument* SoundingInstrument(const Module* module, int32_t number) {
    if (number < 1 || number > MaxInstruments)
        return nullptr;
    const Instrument& instrument = module->instruments[number];
    return instrument.sampleCount > 0 && instrument.samples ? &instrument : nullptr;
}

// Volume-slide rule: only one of the two nibbles may be set; both or neither slide nothing.
int32_t SlideAmount(uint8_t param) {
    int32_t x = param >> 4, y = param & 15;
    if (y != 0 && x == 0)
        return -y;
    if (x != 0 && y == 0)
        return x;
    return 0;
}

int32_t Waveform(int32_t position) {
    int32_t p = position & 63;
    return p < 32 ? sineTable[p] : -sineTable[p - 32];
}

void RowStart(const Module* module, int32_t c) {
    Channel& ch = channels[c];
    ch.noteDelayTick = 0;
    ch.fineVolumeSlide = 0;
    ch.volumeSlide = 0;
    ch.noteCutTick = -1;

    // Each test reads the cache afresh: a jump or loop earlier in this list changes what later tests see.
    if (rowCache[c].effect == SpeedTempo) {
        uint8_t p = rowCache[c].param;
        if (p <= 32)
            player.speed = p;
        else
            SetEffectTempo(p);
    }
    if (rowCache[c].effect == PositionJump) {
        int32_t target = rowCache[c].param;
        // A jump past the song's last position ends the song, and it starts over at position 0.
        if (target >= module->songLength) {
            target = 0;
            player.songEnded = 1;
        }
        player.orderPosition = target;
        player.row = 0;
        player.patternLoopRow = 0;
        player.tick = 0;
        FetchRow(module);
    }
    if (rowCache[c].effect == Arpeggio) {
        ch.arpeggioStep = 0;
        ch.arpeggioX = rowCache[c].param >> 4;
        ch.arpeggioY = rowCache[c].param & 15;
    }
    if (rowCache[c].effect == SetPan)
        player.channelPan[c] = static_cast<float>(rowCache[c].param * static_cast<double>(0.003921569f));
    if (rowCache[c].effect == Vibrato) {
        uint8_t p = rowCache[c].param;
        if (p & 15)
            ch.vibratoDepth = p & 15;
        if (p >> 4)
            ch.vibratoSpeed = p >> 4;
        if (rowCache[c].note != -1)
            ch.vibratoPosition = 0;
    }
    if (rowCache[c].effect == Tremolo) {
        uint8_t p = rowCache[c].param;
        if (p & 15)
            ch.tremoloDepth = p & 15;
        if (p >> 4)
            ch.tremoloSpeed = p >> 4;
        if (rowCache[c].note != -1)
            ch.tremoloPosition = 0;
    }
    if (rowCache[c].effect == PortaUp && rowCache[c].param != 0)
        ch.portaUpSpeed = rowCache[c].param * 8;
    if (rowCache[c].effect == PortaDown && rowCache[c].param != 0)
        ch.portaDownSpeed = rowCache[c].param * 8;
    if (rowCache[c].effect == Extended) {
        int32_t x = rowCache[c].param >> 4, y = rowCache[c].param & 15;
        if (x == 6) {
            if (y == 0) {
                player.patternLoopRow = player.row;
            } else {
                player.patternLoopCount = player.patternLoopCount == 0 ? y : player.patternLoopCount - 1;
                if (player.patternLoopCount > 0)
                    player.row = player.patternLoopRow;
            }
            FetchRow(module);
        } else if (x == 8) {
            player.channelPan[c] = static_cast<float>(y * 0.0625);
        } else if (x == 10) {
            ch.fineVolumeSlide = y;
        } else if (x == 11) {
            ch.fineVolumeSlide = -y;
        } else if (x == 12) {
            ch.noteCutTick = y;
        } else if (x == 14) {
            if (player.patternDelay == 0)
                player.patternDelay = y;
        }
    }
    if (rowCache[c].effect == VibratoSlide)
        ch.volumeSlide = SlideAmount(rowCache[c].param);
}

void StartNote(const Module* module, Channel& ch, const NoteCell& cell) {
    const uint8_t effect = cell.effect;
    const bool portamento = effect == TonePorta || effect == TonePortaSlide;
    ch.fadeVolume = 65536;
    ch.volumeEnvelopePosition = 0;
    ch.panningEnvelopePosition = 0;
    ch.volumeSlide = 0;
    if (cell.instrument != 0)
        ch.instrument = cell.instrument;
    if (!portamento && player.patternDelay == 0)
        ch.position = 0.0f;
    const Instrument* instrument = SoundingInstrument(module, ch.instrument);
    // The map is indexed by the note itself; a map entry naming a sample the instrument lacks plays nothing.
    const int32_t mapped = instrument ? instrument->sampleMap[cell.note] : -1;
    const bool mappedExists = instrument && mapped >= 0 && mapped < instrument->sampleCount;
    if (cell.instrument != 0 && effect != TonePortaSlide && effect != VibratoSlide && player.patternDelay == 0 &&
        mappedExists)
        ch.volume = instrument->samples[mapped].volume;
    if (effect == SetVolume)
        ch.volume = cell.param;
    if (instrument) {
        ch.sampleIndex = mapped;
        if (mappedExists) {
            const Sample& sample = instrument->samples[mapped];
            ch.finetune = sample.finetune;
            ch.pitchNote = cell.note + sample.relativeNote;
            if (portamento) {
                ch.tonePortaTarget = AmigaPeriod(ch.pitchNote, ch.finetune);
            } else {
                ch.period = AmigaPeriod(ch.pitchNote, ch.finetune);
                ch.fadeoutStep = instrument->fadeout;
            }
        }
    }
    if (effect == TonePorta && ch.instrument > 0 && cell.param != 0)
        ch.tonePortaSpeed = cell.param * 8;
    if (effect == TonePortaSlide)
        ch.volumeSlide = SlideAmount(cell.param);
    if (cell.note == KeyOff) {
        ch.period = 0;
        ch.instrument = 0;
        ch.volume = 0;
    }
}

int32_t VibratoPitch(Channel& ch, int32_t pitch) {
    int32_t delta = Waveform(ch.vibratoPosition) * ch.vibratoDepth / 128;
    ch.vibratoPosition += ch.vibratoSpeed;
    return pitch + delta * 8;
}

void UpdateChannel(const Module* module, int32_t c) {
    Channel& ch = channels[c];
    const NoteCell& cell = rowCache[c];
    const int32_t tick = player.tick;
    ch.volumeEnvelopePosition += 1;
    ch.panningEnvelopePosition += 1;

    if (tick == 0) {
        ch.fadeVolume = ch.fadeVolume > ch.fadeoutStep ? ch.fadeVolume - ch.fadeoutStep : 0;
        if (cell.note == -1) {
            if (cell.effect == TonePorta && cell.param != 0)
                ch.tonePortaSpeed = cell.param * 8;
            if (cell.effect == TonePortaSlide)
                ch.volumeSlide = SlideAmount(cell.param);
        } else {
            StartNote(module, ch, cell);
        }
        if (cell.effect == SampleOffset)
            ch.position = static_cast<float>(cell.param * 256);
    }
    if (ch.noteCutTick != -1 && ch.noteCutTick == tick) {
        ch.volume = 0;
        ch.noteCutTick = -1;
    }
    if (cell.volumeColumn >= 0x10 && cell.volumeColumn <= 0x50)
        ch.volume = cell.volumeColumn - 0x10;

    const Instrument* instrument = SoundingInstrument(module, ch.instrument);
    if (ch.period == 0 || ch.instrument == 0 || !instrument || ch.sampleIndex < 0 ||
        ch.sampleIndex >= instrument->sampleCount || !instrument->samples[ch.sampleIndex].data) {
        RenderSilence(c);
        return;
    }

    static const int32_t minPeriod = AmigaPeriod(95, 0);
    static const int32_t maxPeriod = AmigaPeriod(0, 0);
    const uint8_t effect = cell.effect;
    const uint8_t param = cell.param;
    if (effect == Extended) {
        int32_t x = param >> 4, y = param & 15;
        if (x == 1) {
            if (tick == 0)
                ch.period -= y * 8;
            if (ch.period < minPeriod)
                ch.period = minPeriod;
        } else if (x == 2) {
            if (tick == 0)
                ch.period += y * 8;
            if (ch.period > maxPeriod)
                ch.period = maxPeriod;
        } else if (x == 8) {
            player.channelPan[c] = static_cast<float>(y * 0.0625);
        }
    }
    int32_t pitch = ch.period;
    if (effect == SetVolume)
        ch.volume = param;
    if (effect == VolumeSlide)
        ch.volumeSlide = SlideAmount(param);
    if (effect == Arpeggio && param != 0) {
        int32_t f = ch.finetune;
        if (ch.arpeggioStep == 1)
            f += ch.arpeggioX * 16;
        else if (ch.arpeggioStep == 2)
            f += ch.arpeggioY * 16;
        f = f < -128 ? -128 : f > 127 ? 127 : f;
        pitch = AmigaPeriod(ch.pitchNote, f);
        ch.arpeggioStep = ch.arpeggioStep >= 2 ? 0 : ch.arpeggioStep + 1;
    }
    if (effect == Vibrato)
        pitch = VibratoPitch(ch, pitch);
    if (effect == PortaUp) {
        if (tick > 0)
            ch.period -= ch.portaUpSpeed;
        if (ch.period < minPeriod)
            ch.period = minPeriod;
        pitch = ch.period;
    } else if (effect == PortaDown) {
        if (tick > 0)
            ch.period += ch.portaDownSpeed;
        if (ch.period > maxPeriod)
            ch.period = maxPeriod;
        pitch = ch.period;
    }
    if (effect == VibratoSlide)
        pitch = VibratoPitch(ch, pitch);
    if (effect == TonePorta || effect == TonePortaSlide) {
        if (tick > 0) {
            if (ch.period < ch.tonePortaTarget) {
                ch.period += ch.tonePortaSpeed;
                if (ch.period > ch.tonePortaTarget)
                    ch.period = ch.tonePortaTarget;
            } else if (ch.period > ch.tonePortaTarget) {
                ch.period -= ch.tonePortaSpeed;
                if (ch.period < ch.tonePortaTarget)
                    ch.period = ch.tonePortaTarget;
            }
        }
        pitch = ch.period;
    }
    int32_t tremoloDelta = 0;
    if (effect == Tremolo) {
        tremoloDelta = Waveform(ch.tremoloPosition) * ch.tremoloDepth / 64;
        ch.tremoloPosition += ch.tremoloSpeed;
    }
    ch.volume += tick == 0 ? ch.fineVolumeSlide : ch.volumeSlide;
    ch.volume = ch.volume < 0 ? 0 : ch.volume > 63 ? 63 : ch.volume;
    RenderVoice(c, pitch, tremoloDelta);
}

void AdvanceSong(const Module* module) {
    player.tick += 1;
    if (player.tick < player.speed)
        return;
    if (player.patternDelay != 0) {
        player.patternDelay -= 1;
    } else {
        bool broke = false;
        for (int32_t c = 0; c < player.channelCount; ++c) {
            const NoteCell& cell = CellAt(PatternAt(module, player.orderPosition), c, player.row);
            if (cell.effect == PatternBreak) {
                player.row = cell.param;
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
    if (player.row > PatternAt(module, player.orderPosition).rowCount - 1) {
        AdvanceOrder(module);
        player.row = 0;
        player.patternLoopRow = 0;
    }
}

} // namespace

void XmTick(Module* module) {
    player.channelCount = module->channelCount;
    module->linearFrequencies = 0;
    FetchRow(module);
    if (player.tick == 0) {
        for (int32_t c = 0; c < player.channelCount; ++c)
            RowStart(module, c);
    }
    if (player.tickBudget > 0) {
        for (int32_t c = 0; c < player.channelCount; ++c)
            UpdateChannel(module, c);
    }
    AdvanceSong(module);
    player.writePosition += player.samplesPerTick;
}
