// The XM engine: one tick of row effects, per-channel updates and voice rendering, then the song position.
#include "music/music.h"
#include "music/row_effects.h"

namespace {

constexpr int KeyOff = 97;

// Order entries naming a pattern the file does not have play as an empty pattern of 64 rows, as trackers do.
const Pattern emptyPattern = {{}, 64, 0};

const Pattern& PatternAt(const Module* module, int32_t orderPosition) {
    int32_t index = module->orders[orderPosition & (MaxOrders - 1)];
    if (index < 0 || index >= module->patternCount || !module->patterns)
        return emptyPattern;
    return module->patterns[index];
}

// Rows past a pattern's end (a break to row 200, say), and rows the pattern's data never reached, read as empty
// cells.
const NoteCell* CellAt(const Module* module, int32_t orderPosition, int32_t row, int32_t channel) {
    const Pattern& pattern = PatternAt(module, orderPosition);
    const NoteCell* cells = pattern.channelRows[channel];
    if (!cells || row < 0 || row >= pattern.storedRows)
        return nullptr;
    return &cells[row];
}

int32_t RowCount(const Module* module, int32_t orderPosition) {
    return PatternAt(module, orderPosition).rowCount;
}

// The order table holds 256 stored entries, so a position jump may go to any of them, also past the song's length;
// the song ends when the position moves on from there. A portamento speed is kept as the period step it makes, eight
// times the parameter.
constexpr FormatRules XmRules = {CellAt, RowCount, 8, true, false, false, false};

// The instrument a channel plays, or null when that number names no instrument with samples.
const Instrument* SoundingInstrument(const Module* module, int32_t number) {
    if (number < 1 || number > MaxInstruments)
        return nullptr;
    const Instrument& instrument = module->instruments[number];
    return instrument.sampleCount > 0 && instrument.samples ? &instrument : nullptr;
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

// Tick 0 of a row: the fade-out moves on, the note starts (without a note, a portamento still takes its speed
// and slide from the cell), and a sample offset moves the position.
void StartRowOnChannel(const Module* module, Channel& ch, const NoteCell& cell) {
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

// Periods the portamentos keep within: those of the highest and the lowest note.
int32_t MinPeriod() {
    static const int32_t period = AmigaPeriod(95, 0);
    return period;
}
int32_t MaxPeriod() {
    static const int32_t period = AmigaPeriod(0, 0);
    return period;
}

// Fine portamento (on tick 0 only, but the limits hold on every tick) and coarse panning.
void ApplyExtended(Channel& ch, int32_t c, uint8_t param, int32_t tick) {
    const int32_t x = param >> 4, y = param & 15;
    if (x == FinePortaUp) {
        if (tick == 0)
            ch.period -= y * 8;
        if (ch.period < MinPeriod())
            ch.period = MinPeriod();
    } else if (x == FinePortaDown) {
        if (tick == 0)
            ch.period += y * 8;
        if (ch.period > MaxPeriod())
            ch.period = MaxPeriod();
    } else if (x == SetPanCoarse) {
        player.channelPan[c] = static_cast<float>(y * 0.0625);
    }
}

// The period this tick sounds at after arpeggio, vibrato and the portamentos, which also move the channel's own.
int32_t PitchThisTick(Channel& ch, uint8_t effect, uint8_t param, int32_t tick) {
    int32_t pitch = ch.period;
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
        if (ch.period < MinPeriod())
            ch.period = MinPeriod();
        pitch = ch.period;
    } else if (effect == PortaDown) {
        if (tick > 0)
            ch.period += ch.portaDownSpeed;
        if (ch.period > MaxPeriod())
            ch.period = MaxPeriod();
        pitch = ch.period;
    }
    if (effect == VibratoSlide)
        pitch = VibratoPitch(ch, pitch);
    if (effect == TonePorta || effect == TonePortaSlide) {
        if (tick > 0)
            ch.period = SlideToward(ch.period, ch.tonePortaTarget, ch.tonePortaSpeed);
        pitch = ch.period;
    }
    return pitch;
}

void UpdateChannel(const Module* module, int32_t c) {
    Channel& ch = channels[c];
    const NoteCell& cell = rowCells[c];
    const int32_t tick = player.tick;
    ch.volumeEnvelopePosition += 1;
    ch.panningEnvelopePosition += 1;

    if (tick == 0)
        StartRowOnChannel(module, ch, cell);
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

    const uint8_t effect = cell.effect;
    const uint8_t param = cell.param;
    if (effect == Extended)
        ApplyExtended(ch, c, param, tick);
    if (effect == SetVolume)
        ch.volume = param;
    if (effect == VolumeSlide)
        ch.volumeSlide = SlideAmount(param);
    const int32_t pitch = PitchThisTick(ch, effect, param, tick);
    int32_t tremoloDelta = 0;
    if (effect == Tremolo) {
        tremoloDelta = Waveform(ch.tremoloPosition) * ch.tremoloDepth / 64;
        ch.tremoloPosition += ch.tremoloSpeed;
    }
    ch.volume += tick == 0 ? ch.fineVolumeSlide : ch.volumeSlide;
    ch.volume = ch.volume < 0 ? 0 : ch.volume > 63 ? 63 : ch.volume;
    RenderVoice(c, pitch, tremoloDelta);
}

} // namespace

void XmTick(Module* module) {
    player.channelCount = module->channelCount;
    module->linearFrequencies = 0;
    FetchRow(module, XmRules);
    if (player.tick == 0) {
        for (int32_t c = 0; c < player.channelCount; ++c)
            StartRow(module, c, XmRules);
    }
    if (player.tickBudget > 0) {
        for (int32_t c = 0; c < player.channelCount; ++c)
            UpdateChannel(module, c);
    }
    AdvanceSong(module, XmRules);
    player.writePosition += player.samplesPerTick;
}
