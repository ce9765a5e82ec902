// Voice rendering: one XM channel for one tick, resampled with linear interpolation into its MixBuffer.
#include "music/music.h"
#include "music/voice_run.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace {

// 2^-22 = 1 / (65536 x 64): fade level 65536 and volume 64 together make 1.0 (2.3841858e-7f is exactly this).
constexpr double AmplitudeScale = static_cast<double>(2.3841858e-7f);
// 1/255 and 2^-22 are single-precision constants; the products themselves are formed in double.
constexpr double PanScale = static_cast<double>(0.003921569f);
constexpr double PeriodClock = 28634112.0;

int16_t* TickFrames(int32_t c) {
    return player.mixBuffers[player.mixBank][c] + 2 * player.writePosition;
}

const Sample* PlayingSample(const Channel& channel) {
    const Module* module = player.module;
    if (!module || channel.instrument < 1 || channel.instrument > MaxInstruments)
        return nullptr;
    const Instrument& instrument = module->instruments[channel.instrument];
    if (channel.sampleIndex < 0 || channel.sampleIndex >= instrument.sampleCount || !instrument.samples)
        return nullptr;
    const Sample* sample = &instrument.samples[channel.sampleIndex];
    return sample->data && sample->length > 0 ? sample : nullptr;
}

double VolumeEnvelope(const Channel& channel, int32_t type) {
    if (type & 2)
        return VolumeEnvelopeSustain(channel.instrument, channel.volumeEnvelopePosition);
    if (type & 4)
        return VolumeEnvelopeLoop(channel.instrument, channel.volumeEnvelopePosition);
    return VolumeEnvelopePlain(channel.instrument, channel.volumeEnvelopePosition);
}

double PanPosition(const Channel& channel, const Sample& sample, int32_t type, int32_t c) {
    // Panning type bits are tried sustain, on, loop; a type with none of them set but other bits is taken as
    // having no envelope.
    if (type & 2)
        return PanningEnvelopeSustain(channel.instrument, channel.panningEnvelopePosition);
    if (type & 1)
        return PanningEnvelopePlain(channel.instrument, channel.panningEnvelopePosition);
    if (type & 4)
        return PanningEnvelopeLoop(channel.instrument, channel.panningEnvelopePosition);
    return sample.panning * PanScale * static_cast<double>(player.channelPan[c]);
}

// The square-root pan law: equal steps of p near the middle move the sound further than near the edges.
float ShapedPan(double p) {
    double g = p >= 0.5 ? 0.5 + 0.5 * std::sqrt(2.0 * (p - 0.5)) : 0.5 - 0.5 * std::sqrt(2.0 * (0.5 - p));
    return static_cast<float>(g);
}

template <bool Audible> inline void PutFrame(int16_t* out, int32_t s0, int32_t s1, float frac, double amp, float g) {
    if constexpr (!Audible) {
        out[0] = out[1] = 0;
        return;
    }
    int32_t v = static_cast<int32_t>((s0 + static_cast<double>(frac) * (s1 - s0)) * amp);
    int32_t first = static_cast<int32_t>(v * static_cast<double>(g));
    out[0] = static_cast<int16_t>(first);
    out[1] = static_cast<int16_t>(v - first);
}

// The sample's loop as the renderer plays it. The loader keeps loops inside the data; this only restates that,
// and a loop without length plays as no loop.
struct PlayedLoop {
    int32_t start;
    int32_t length;
    int32_t type;
};

PlayedLoop LoopOf(const Sample& sample) {
    const bool fits = sample.loopStart >= 0 && sample.loopStart < sample.length && sample.loopLength > 0;
    if (!fits)
        return {sample.loopStart, sample.loopLength, 0};
    const int32_t room = sample.length - sample.loopStart;
    return {sample.loopStart, sample.loopLength > room ? room : sample.loopLength, sample.loopType};
}

// One frame the long way: turns at the loop's ends and the sample's end. Returns false, writing nothing, when a
// sample without loop has ended.
template <bool Audible>
bool OneFrame(const Sample& sample, const PlayedLoop& loop, float& pos, float step, double amp, float g, int16_t* out) {
    const int16_t* data = sample.data;
    const int32_t length = sample.length;
    const int32_t loopStart = loop.start;
    const int32_t loopLength = loop.length;
    // Re-basing the position on a frame that does not wrap gives exactly pos + step (i + frac is pos, without
    // rounding), so only a wrap pays for the remainder and the conversion.
    const int32_t i = static_cast<int32_t>(pos);
    if (loop.type == 1) {
        const float frac = pos - static_cast<float>(i);
        int32_t r = i;
        if (i - loopStart >= loopLength) {
            r = loopStart + (i - loopStart) % loopLength;
            pos = static_cast<float>(static_cast<double>(r) + frac + step);
        } else {
            pos = pos + step;
        }
        int32_t n = i + 1;
        if (n - loopStart >= loopLength)
            n = loopStart + (n - loopStart) % loopLength;
        const int32_t s0 = data[r];
        const int32_t s1 = n < length ? data[n] : s0;
        PutFrame<Audible>(out, s0, s1, frac, amp, g);
    } else if (loop.type == 2) {
        const int32_t period = 2 * loopLength;
        const float frac = pos - static_cast<float>(i);
        int32_t r = i;
        const int32_t d = i - loopStart;
        if (d > 0) {
            const int32_t u = d < period ? d : d % period;
            r = u < loopLength ? loopStart + u : loopStart + period - u;
            if (u != d)
                pos = static_cast<float>(static_cast<double>(loopStart + u) + frac + step);
            else
                pos = pos + step;
        } else {
            pos = pos + step;
        }
        int32_t n = i + 1;
        if (n > loopStart) {
            const int32_t u = n - loopStart < period ? n - loopStart : (n - loopStart) % period;
            n = u < loopLength ? loopStart + u : loopStart + period - u;
        }
        // The turn reads index loopStart + loopLength, one past the data when the loop ends with it: the last
        // frame stands in for it.
        if (r >= length)
            r = length - 1;
        const int32_t s0 = data[r];
        const int32_t s1 = n < length ? data[n] : s0;
        PutFrame<Audible>(out, s0, s1, frac, amp, g);
    } else {
        if (i >= length)
            return false;
        const float frac = pos - static_cast<float>(i);
        pos = pos + step;
        const int32_t s0 = data[i];
        const int32_t s1 = i + 1 < length ? data[i + 1] : s0;
        PutFrame<Audible>(out, s0, s1, frac, amp, g);
    }
    return true;
}

// An XM voice for one tick, as RenderVoiceTick runs it. Without `Audible` (an amplitude of 0, where every frame is
// exactly 0) the frames are zeros and only the position and the sample's end are followed.
template <bool AudibleVoice> struct XmVoice {
    static constexpr bool Audible = AudibleVoice;
    static constexpr int32_t MinRunFrames = 8; // runs shorter than this cost more than RenderPlainFrames
    const Sample& sample;
    PlayedLoop loop;
    const int16_t* data;
    int32_t dataLength;
    int32_t plainLimit;
    int32_t loopEnd;
    bool runsBack;
    float step;
    double amp;
    float g;

    RunSpan Span(float pos) const {
        const bool back = runsBack && pos >= static_cast<double>(loopEnd) + 1.0;
        return back ? RunSpan{loop.start + 2 * loop.length, 2 * loopEnd} : RunSpan{plainLimit, 0};
    }
    bool PastForwardLoop(float pos) const { return loop.type == 1 && pos >= loopEnd; }
    bool OneFrame(float& pos, int16_t* out) const { return ::OneFrame<Audible>(sample, loop, pos, step, amp, g, out); }
};

// One tick of resampling from `pos`; returns the frames rendered, fewer than `frames` when a sample without loop
// ended in this tick.
template <bool Audible>
int32_t Resample(const Sample& sample, int16_t* out, int32_t frames, float& pos, float step, double amp, float g) {
    const PlayedLoop loop = LoopOf(sample);
    // A run keeps i + 1 below the loop's end (the first turn of a ping-pong loop) or, without a loop, below the
    // sample's end. Only a loop that plays lies inside the data; the fields of one that doesn't may hold anything.
    const bool looped = loop.type == 1 || loop.type == 2;
    const int32_t loopEnd = looped ? loop.start + loop.length : sample.length;
    // In a forward loop, i + 1 may reach the loop's end, whose frame holds a copy of the loop's first (the loader
    // puts it there, one frame past the data when the loop ends with it).
    const int32_t runLimit = loop.type == 1 ? loopEnd + 1 : loopEnd;
    // The return half of a ping-pong loop, indices loopEnd + 1 up to the next turn, reads the data mirrored at
    // 2 x loopEnd; it is run too when those indices fit in 32 bits.
    const bool runsBack = loop.type == 2 && static_cast<int64_t>(loop.start) + 2 * static_cast<int64_t>(loop.length) <
                                                static_cast<int64_t>(INT32_MAX) / 2;
    const XmVoice<Audible> voice{sample, loop, sample.data, sample.length + 1, runLimit, loopEnd, runsBack, step,
                                 amp,    g};
    return RenderVoiceTick(voice, pos, step, amp, g, out, frames);
}

} // namespace

void RenderSilence(int32_t c) {
    // Only the frames below quietFrom need the zeros; once they reach it, the quiet frames start here.
    const int32_t from = player.writePosition;
    const int32_t to = from + player.samplesPerTick;
    int32_t& quiet = player.quietFrom[c];
    if (from >= quiet)
        return;
    std::memset(TickFrames(c), 0, 4 * static_cast<size_t>((to < quiet ? to : quiet) - from));
    if (to >= quiet)
        quiet = from;
}

int16_t* SoundingTickFrames(int32_t c) {
    const int32_t to = player.writePosition + player.samplesPerTick;
    if (player.quietFrom[c] < to)
        player.quietFrom[c] = to;
    return TickFrames(c);
}

void RenderVoice(int32_t c, int32_t pitch, int32_t tremoloDelta) {
    Channel& channel = channels[c];
    const Sample* sample = PlayingSample(channel);
    // A period of 0 or below has no frequency (a note past the table, or vibrato below the lowest period).
    if (!sample || pitch <= 0 || player.tick < channel.noteDelayTick) {
        RenderSilence(c);
        return;
    }
    const Instrument& instrument = player.module->instruments[channel.instrument];

    double frequency = PeriodClock / pitch;
    float step = static_cast<float>(frequency / static_cast<double>(player.ticksPerSecond) / player.samplesPerTick);

    int32_t level = channel.volume + tremoloDelta;
    level = level < 0 ? 0 : level > 63 ? 63 : level;
    // The base amplitude is held as a float; with a volume envelope, its product with the envelope's value is not.
    const float base = static_cast<float>(static_cast<double>(channel.fadeVolume) * level *
                                          static_cast<double>(player.masterVolume) * AmplitudeScale);
    double amp = base;
    if (instrument.volumeType != 0)
        amp = amp * VolumeEnvelope(channel, instrument.volumeType);
    float g = ShapedPan(PanPosition(channel, *sample, instrument.panningType, c));

    int16_t* out = SoundingTickFrames(c);
    const int32_t frames = player.samplesPerTick;
    float pos = channel.position;
    const int32_t done = amp != 0.0 ? Resample<true>(*sample, out, frames, pos, step, amp, g)
                                    : Resample<false>(*sample, out, frames, pos, step, amp, g);
    if (done < frames) {
        // The sample has ended: silent for the rest of this tick, and with period 0 from now on.
        std::memset(out + 2 * done, 0, 4 * static_cast<size_t>(frames - done));
        channel.period = 0;
    }
    channel.position = pos;
}
