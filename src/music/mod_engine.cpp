// The MOD playback engine: advances a MOD module by one tick and renders its channels itself (no instruments,
// envelopes or panning; every channel keeps the pan the player reset gave it).
//
// Periods here are in periodTable units, twice the Amiga period, so every slide moves by twice its parameter.
#include "music/music.h"
#include "music/row_effects.h"
#include "music/voice_run.h"

namespace {

const NoteCell* PatternCell(const Module* module, int32_t orderPosition, int32_t row, int32_t ch) {
    // The loader keeps order entries within the song pointing at patterns it read; the checks here only keep
    // out-of-range positions (never produced for a well-formed song) from reading past an array.
    if (orderPosition < 0 || orderPosition >= module->songLength || orderPosition >= MaxOrders)
        return nullptr;
    int index = module->orders[orderPosition];
    if (index < 0 || index >= module->patternCount)
        return nullptr;
    const Pattern* pattern = &module->patterns[index];
    if (row < 0 || row >= pattern->rowCount || !pattern->channelRows[ch])
        return nullptr;
    return &pattern->channelRows[ch][row];
}

int32_t RowCount(const Module*, int32_t) {
    return 64;
}

// A MOD order table ends with the song: a jump past its last position ends the song, which starts over. Portamento
// speeds are kept as parameters (the slides below double them into periods), and the fine portamentos set them too;
// the panning commands are not the MOD's. A break's row comes from the row the tick started with.
constexpr FormatRules ModRules = {PatternCell, RowCount, 1, false, true, true, true};

// The period of a note; note indices come from the loader (0..107) but the channel may carry a stale value from
// the other engine, so the index is kept inside the table.
int TablePeriod(int finetuneRow, int note) {
    if (finetuneRow < 0)
        finetuneRow = 0;
    if (finetuneRow > 15)
        finetuneRow = 15;
    if (note < 0 || note >= 120)
        return 0;
    return periodTable[finetuneRow][note];
}

// A MOD voice for one tick, as RenderVoiceTick runs it: linear interpolation, a loop of more than two frames played
// forwards, and a centred channel split by halving, which is exactly trunc(value x 0.5).
template <bool Looped, bool Centred> struct ModVoice {
    static constexpr bool Audible = true;
    static constexpr int32_t MinRunFrames = 8; // runs from eight frames on pay for their set-up here
    const int16_t* data;
    int32_t dataLength;
    int32_t plainLimit;
    int length;
    int loopStart;
    int loopLength;
    int loopEnd;
    float step;
    double amp;
    double pan;

    RunSpan Span(float) const { return {plainLimit, 0}; }
    // Past the loop's end, the next frame goes back into the loop, where a run may start again.
    bool PastForwardLoop(float pos) const { return Looped && pos >= loopEnd; }
    bool OneFrame(float& pos, int16_t* out) const {
        int i = static_cast<int>(pos);
        double frac = static_cast<double>(pos) - i;
        pos = pos + step;
        int j;
        if (Looped) {
            // Folding an index inside the loop changes nothing (the re-based position is the one just summed),
            // so only indices past the loop's end are folded back.
            if (i >= loopEnd) {
                // A position just past the end, as at every turn, goes back one loop length without a division.
                i = i - loopLength < loopEnd ? i - loopLength : loopStart + (i - loopStart) % loopLength;
                pos = static_cast<float>(i + frac + step);
            }
            j = i + 1;
            if (j >= loopEnd)
                j = loopStart;
            if (j >= length)
                j -= 1;
        } else {
            // Index `length` is still played: it reads the zero padding after the data.
            if (i > length)
                return false;
            j = i + 1;
            if (j >= length)
                j -= 1;
        }
        int value = static_cast<int>((data[i] + frac * (data[j] - data[i])) * amp);
        int first = Centred ? value / 2 : static_cast<int>(value * pan);
        out[0] = static_cast<int16_t>(first);
        out[1] = static_cast<int16_t>(value - first);
        return true;
    }
};

// Resamples one tick of a voice; returns the number of frames written, fewer than `frames` only when a sample
// without loop has ended.
template <bool Looped, bool Centred>
int Resample(const Sample* sample, float& pos, float step, double amp, double pan, int16_t* out, int frames) {
    const int loopEnd = sample->loopStart + sample->loopLength;
    // Straight runs keep i + 1 below the data's end, or in a loop at most at the loop's end, whose frame holds a
    // copy of the loop's first (the loader puts it there); the frames around them go one by one.
    const ModVoice<Looped, Centred> voice{sample->data,
                                          Looped ? sample->length + 1 : sample->length,
                                          Looped ? loopEnd + 1 : sample->length,
                                          sample->length,
                                          sample->loopStart,
                                          sample->loopLength,
                                          loopEnd,
                                          step,
                                          amp,
                                          Centred ? 0.5 : pan};
    return RenderVoiceTick(voice, pos, step, amp, Centred ? 0.5 : pan, out, frames);
}

void RenderChannel(int ch, int pitch, int tremolo) {
    Channel* c = &channels[ch];
    const Sample* sample = &player.module->modSamples[c->instrument];
    // A vibrato deep enough to push a very high note's period through zero has no frequency: silence the tick.
    if (player.tick < c->noteDelayTick || pitch <= 0) {
        RenderSilence(ch);
        return;
    }
    float step = static_cast<float>(14318181.0 / (2.0 * pitch) / static_cast<double>(player.ticksPerSecond) /
                                    static_cast<double>(player.samplesPerTick));
    int level = c->volume + tremolo;
    if (level < 0)
        level = 0;
    if (level > 63)
        level = 63;
    level = static_cast<int>(static_cast<double>(level) * static_cast<double>(player.masterVolume));
    if (level < 0)
        level = 0;
    if (level > 63)
        level = 63;
    double amp = level * 0.015625;
    double pan = player.channelPan[ch];

    float pos = c->position;
    int16_t* out = SoundingTickFrames(ch);
    const int frames = player.samplesPerTick;
    const bool looped = sample->loopLength != 0 && sample->loopLength != 2;
    // A centred channel (every MOD channel, unless something else set its pan) splits by halving, which is
    // exactly trunc(value x 0.5).
    int f;
    if (looped)
        f = pan == 0.5 ? Resample<true, true>(sample, pos, step, amp, pan, out, frames)
                       : Resample<true, false>(sample, pos, step, amp, pan, out, frames);
    else
        f = pan == 0.5 ? Resample<false, true>(sample, pos, step, amp, pan, out, frames)
                       : Resample<false, false>(sample, pos, step, amp, pan, out, frames);
    if (f < frames)
        c->period = 0; // a sample without loop has ended
    for (; f < frames; ++f)
        out[2 * f] = out[2 * f + 1] = 0;
    c->position = pos;
}

// Tick 0: what the cell's note and sample number do to the channel.
void StartNote(Module* module, Channel* c, const NoteCell* cell) {
    int e = cell->effect, p = cell->param;
    if (cell->note == -1 && cell->instrument == 0) {
        if (e == TonePorta && p != 0)
            c->tonePortaSpeed = p;
        if (e == TonePortaSlide)
            c->volumeSlide = SlideAmount(p);
        return;
    }
    c->volumeSlide = 0;
    if (cell->instrument != 0) {
        c->instrument = cell->instrument;
        if (cell->note != -1)
            c->cellPeriod = cell->period;
    }
    bool tonePorta = e == TonePorta || e == TonePortaSlide;
    if (!tonePorta && player.patternDelay == 0)
        c->position = 0;
    c->vibratoSpeed = 0;
    c->vibratoDepth = 0;
    c->vibratoPosition = 0;
    if (cell->instrument != 0 && e != TonePortaSlide && e != VibratoSlide && player.patternDelay == 0)
        c->volume = module->modSamples[cell->instrument].volume;
    if (e == SetVolume)
        c->volume = p;
    if (c->instrument > 0 && c->instrument <= 31) {
        c->finetune = module->modSamples[c->instrument].finetune + 8;
        if (cell->note != -1)
            c->pitchNote = cell->note;
        if (tonePorta) {
            c->tonePortaTarget = TablePeriod(c->finetune, c->pitchNote);
            if (e == TonePorta && p != 0)
                c->tonePortaSpeed = p;
            if (e == TonePortaSlide)
                c->volumeSlide = SlideAmount(p);
        } else {
            c->period = TablePeriod(c->finetune, c->pitchNote);
        }
    }
}

// The note delay (EDy): on tick 0 the new note's volume, position and period are put aside and the channel is
// silenced; on tick y they come back.
void DelayNote(Channel* c, int y, int tick) {
    if (tick == 0) {
        c->delayedVolume = c->volume;
        c->delayedPosition = static_cast<int32_t>(c->position);
        c->delayedPeriod = c->period;
        c->volume = 0;
        c->noteDelayTick = y;
    } else if (tick == c->noteDelayTick) {
        c->volume = c->delayedVolume;
        c->position = static_cast<float>(c->delayedPosition);
        c->period = c->delayedPeriod;
        c->noteDelayTick = -1;
    }
}

// Periods the slides keep within: those of the highest and the lowest note of the table.
int LowestPeriod() {
    return periodTable[15][71];
}
int HighestPeriod() {
    return periodTable[0][0];
}

// Fine portamento (on tick 0 only, but the limits hold on every tick) and the finetune command, which changes
// the sample itself.
void ApplyExtended(Module* module, Channel* c, int x, int y, int tick) {
    if (x == FinePortaUp) {
        if (tick == 0)
            c->period -= 2 * y;
        if (c->period < LowestPeriod())
            c->period = LowestPeriod();
    }
    if (x == FinePortaDown) {
        if (tick == 0)
            c->period += 2 * y;
        if (c->period > HighestPeriod())
            c->period = HighestPeriod();
    }
    if (x == SetFinetune)
        module->modSamples[c->instrument].finetune = y < 8 ? y : y - 16;
}

// The period this tick sounds at after arpeggio, vibrato and the portamentos, which also move the channel's own.
int PitchThisTick(Channel* c, int e, int p, int tick) {
    int pitch = c->period;
    if (e == Arpeggio && p != 0) {
        int offset = c->arpeggioStep == 0 ? 0 : c->arpeggioStep == 1 ? c->arpeggioX : c->arpeggioY;
        c->period = pitch = TablePeriod(c->finetune + offset, c->pitchNote);
        c->arpeggioStep = c->arpeggioStep == 2 ? 0 : c->arpeggioStep + 1;
    }
    if (e == Vibrato || e == VibratoSlide) {
        // The division truncates toward zero, so a negative swing is as deep as a positive one.
        int w = Waveform(c->vibratoPosition) * c->vibratoDepth / 256;
        pitch = c->period + 2 * w;
        c->vibratoPosition += c->vibratoSpeed;
    }
    if (e == PortaUp) {
        if (tick > 0)
            c->period -= 2 * c->portaUpSpeed;
        if (c->period < LowestPeriod())
            c->period = LowestPeriod();
        pitch = c->period;
    }
    if (e == PortaDown) {
        if (tick > 0)
            c->period += 2 * c->portaDownSpeed;
        if (c->period > HighestPeriod())
            c->period = HighestPeriod();
        pitch = c->period;
    }
    if (e == TonePorta || e == TonePortaSlide) {
        if (tick > 0)
            c->period = SlideToward(c->period, c->tonePortaTarget, 2 * c->tonePortaSpeed);
        pitch = c->period;
    }
    return pitch;
}

void UpdateChannel(Module* module, int ch) {
    Channel* c = &channels[ch];
    const NoteCell* cell = &rowCells[ch];
    const int e = cell->effect, p = cell->param;
    const int x = p >> 4, y = p & 0x0F;
    const int tick = player.tick;

    if (tick == 0) {
        StartNote(module, c, cell);
        if (e == SampleOffset)
            c->position = static_cast<float>(p * 256);
    }
    if (c->noteCutTick != -1 && c->noteCutTick == tick) {
        c->volume = 0;
        c->noteCutTick = -1;
    }
    if (e == Extended && x == NoteDelay)
        DelayNote(c, y, tick);
    // Stale instrument numbers from the other engine are out of this engine's range: silent.
    if (c->period == 0 || c->instrument <= 0 || c->instrument > 31 || !module->modSamples[c->instrument].data) {
        RenderSilence(ch);
        return;
    }
    if (e == Extended)
        ApplyExtended(module, c, x, y, tick);
    if (e == SetVolume)
        c->volume = p;
    if (e == VolumeSlide)
        c->volumeSlide = SlideAmount(p);
    const int pitch = PitchThisTick(c, e, p, tick);
    int tremolo = 0;
    if (e == Tremolo) {
        tremolo = Waveform(c->tremoloPosition) * c->tremoloDepth / 64;
        c->tremoloPosition += c->tremoloSpeed;
    }
    c->volume += tick == 0 ? c->fineVolumeSlide : c->volumeSlide;
    if (c->volume < 0)
        c->volume = 0;
    if (c->volume > 63)
        c->volume = 63;
    RenderChannel(ch, pitch, tremolo);
}

} // namespace

void ModTick(Module* module) {
    player.channelCount = module->channelCount;
    FetchRow(module, ModRules);
    if (player.tick == 0)
        for (int ch = 0; ch < player.channelCount; ++ch)
            StartRow(module, ch, ModRules);
    if (player.tickBudget > 0)
        for (int ch = 0; ch < player.channelCount; ++ch)
            UpdateChannel(module, ch);
    AdvanceSong(module, ModRules);
    player.writePosition += player.samplesPerTick;
}
