// wide.xm: an original song in A minor at 125 BPM, about 33 seconds before it loops. Eight channels:
// kick, snare, hats and crash, bass, lead, two pad voices and a pluck. Every sample is synthesized here.
#include "art.h"
#include "data_set.h"
#include "xm_writer.h"

#include <cstdio>
#include <cstdlib>

namespace makedata {
namespace {

enum Channel { kKickCh, kSnareCh, kHatCh, kBassCh, kLeadCh, kPadCh1, kPadCh2, kPluckCh };
enum Instrument { kKick = 1, kSnare, kHat, kCrash, kBass, kLead, kPad, kPluck };

// Effect numbers as the format numbers them.
constexpr int kArpeggio = 0x0, kPortaUp = 0x1, kPortaDown = 0x2, kTonePorta = 0x3, kVibrato = 0x4, kSetPanning = 0x8,
              kVolumeSlide = 0xA, kPatternBreak = 0xD, kExtended = 0xE;
constexpr int kKeyOff = 97;

// "A-4", "C#5" to note numbers (C-0 is 1).
int N(const char* name) {
    static const int semis[7] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    int s = semis[name[0] - 'A'];
    if (name[1] == '#')
        ++s;
    return (name[2] - '0') * 12 + s + 1;
}

int8_t ToSample(double v) {
    double s = v * 127.0 * 0.8; // 0.8 leaves headroom for eight channels in the mix
    int i = int(s >= 0 ? s + 0.5 : s - 0.5);
    return int8_t(std::clamp(i, -127, 127));
}

// Drums are sampled at 16744.036 Hz, the rate at which C-5 plays a sample with no relative note.
constexpr double kDrumRate = 16744.036;

std::vector<int8_t> Kick() {
    std::vector<int8_t> d(3600);
    double phase = 0;
    for (size_t i = 0; i < d.size(); ++i) {
        double t = i / kDrumRate;
        double f = 45 + 120 / (1 + t * 40); // the pitch falls quickly from 165 Hz to 45 Hz
        phase += f / kDrumRate;
        double env = 1 / (1 + t * 9) * (1 - Smooth(0.15, 0.215, t));
        double click = Rand2(int(i), 0, 1) * 2 - 1;
        d[i] = ToSample(0.95 * Sin(2 * kPi * phase) * env + click * 0.3 * (1 - Smooth(0, 0.004, t)));
    }
    return d;
}

std::vector<int8_t> Snare() {
    std::vector<int8_t> d(3300);
    double lp = 0;
    for (size_t i = 0; i < d.size(); ++i) {
        double t = i / kDrumRate;
        double noise = Rand2(int(i), 1, 2) * 2 - 1;
        lp += (noise - lp) * 0.55;
        double tone = Sin(2 * kPi * 185 * t) * 0.5 + Sin(2 * kPi * 330 * t) * 0.25;
        double env = (1 - Smooth(0, 0.19, t));
        d[i] = ToSample((lp * 0.8 * env * env + tone * (1 - Smooth(0, 0.06, t))) * 0.9);
    }
    return d;
}

// Noise through a simple high-pass (the difference of successive values), decaying over `length` samples.
std::vector<int8_t> Metal(size_t length, uint32_t seed, double level) {
    std::vector<int8_t> d(length);
    double previous = 0;
    for (size_t i = 0; i < length; ++i) {
        double t = double(i) / length;
        double noise = Rand2(int(i), 2, seed) * 2 - 1;
        double hp = noise - previous * 0.9;
        previous = noise;
        double env = (1 - t) * (1 - t) * (1 - t);
        d[i] = ToSample(hp * 0.5 * level * env);
    }
    return d;
}

// One loop of `length` samples holding detuned saws with `cycles` periods each, summed from their harmonics.
std::vector<int8_t> DetunedSaw(int length, std::initializer_list<int> cycles, int harmonics, double tilt) {
    std::vector<double> mix(length, 0);
    for (int c : cycles)
        for (int k = 1; k <= harmonics; ++k) {
            double amp = 1.0 / k;
            for (int t = 0; t < tilt; ++t)
                amp /= k; // tilt 1 gives a softer, triangle-like slope
            for (int i = 0; i < length; ++i)
                mix[i] += amp * Sin(2 * kPi * double(k) * c * i / length);
        }
    double peak = 0;
    for (double v : mix)
        peak = std::max(peak, std::abs(v));
    std::vector<int8_t> d(length);
    for (int i = 0; i < length; ++i)
        d[i] = ToSample(mix[i] / peak * 0.85);
    return d;
}

// One sample, played by every note.
XmInstrument Instrument(const char* name, std::vector<int8_t> data, int loopStart, int loopLength, int volume,
                        int panning, int relativeNote, int fadeout, XmEnvelope volumeEnvelope) {
    XmSample s{std::vector<int>(data.begin(), data.end()), loopStart, loopLength};
    s.volume = volume;
    s.panning = panning;
    s.relativeNote = relativeNote;
    return {name, {s}, std::vector<uint8_t>(96, 0), volumeEnvelope, {}, fadeout};
}

std::vector<XmInstrument> Instruments(size_t crashLength) {
    std::vector<XmInstrument> ins(8);
    // Drum envelopes (in ticks of 20 ms) shape the tails and end at zero, so a hit never rings on.
    ins[0] = Instrument("kick", Kick(), 0, 0, 64, 128, 0, 0, {{{0, 64}, {5, 56}, {11, 0}}, 0, 1});
    ins[1] = Instrument("snare", Snare(), 0, 0, 56, 128, 0, 0, {{{0, 64}, {5, 40}, {10, 0}}, 0, 1});
    ins[2] = Instrument("hat", Metal(1400, 3, 0.9), 0, 0, 40, 96, 0, 0, {{{0, 64}, {2, 32}, {5, 0}}, 0, 1});
    ins[3] = Instrument("crash", Metal(crashLength, 4, 0.8), 0, 0, 44, 160, 0, 0,
                        {{{0, 64}, {8, 40}, {int(crashLength / 335) + 1, 0}}, 0, 1});
    // Bass: one 128-sample period of a bright saw on a sine; relative note +24 makes the written pitch true.
    {
        std::vector<double> v(128);
        std::vector<int8_t> saw = DetunedSaw(128, {1}, 14, 0);
        std::vector<int8_t> d(128);
        for (int i = 0; i < 128; ++i)
            d[i] = ToSample(0.55 * saw[i] / 127.0 + 0.4 * Sin(2 * kPi * i / 128.0));
        ins[4] = Instrument("bass", d, 0, 128, 50, 128, 24, 0, {{{0, 0}, {1, 64}, {10, 44}}, 2, 3});
    }
    // Lead: three saws at 64, 65 and 63 periods per 4096 samples, a chorus of about 27 cents.
    ins[5] = Instrument("lead", DetunedSaw(4096, {64, 65, 63}, 9, 0), 0, 4096, 46, 128, 12, 500,
                        {{{0, 0}, {2, 64}, {24, 46}}, 2, 3});
    // Pad: softer slopes (1/k^2), two voices a few cents apart and an octave above, slow to rise.
    ins[6] =
        Instrument("pad", DetunedSaw(4096, {64, 65, 128}, 7, 1), 0, 4096, 40, 255, 12, 0, {{{0, 0}, {45, 64}}, 1, 3});
    // Pluck: one 32-sample period of a sine with two upper partials, dying away by itself.
    {
        std::vector<int8_t> d(32);
        for (int i = 0; i < 32; ++i) {
            double x = 2 * kPi * i / 32.0;
            d[i] = ToSample(0.6 * Sin(x) + 0.25 * Sin(2 * x) + 0.12 * Sin(3 * x + 0.5));
        }
        ins[7] = Instrument("pluck", d, 0, 32, 44, 255, 0, 0, {{{0, 64}, {4, 44}, {26, 0}}, 0, 1});
    }
    return ins;
}

XmPattern Empty(int rows = 64) {
    XmPattern p;
    p.rows = rows;
    p.cells.assign(size_t(rows) * p.channels, XmCell{});
    return p;
}

void Put(XmPattern& p, int row, int ch, int note, int ins, int vol = 0, int eff = 0, int par = 0) {
    p.At(row, ch) = {note, ins, vol ? 0x10 + vol : 0, eff, par};
}
void Fx(XmPattern& p, int row, int ch, int eff, int par) {
    p.At(row, ch).effect = eff;
    p.At(row, ch).param = par;
}

// The chords, one per bar: root of the bass and the pad's two upper voices.
struct Chord {
    const char *bass, *pad1, *pad2;
    const char* arp[4];
};
const Chord kAm = {"A-1", "C-4", "E-4", {"A-4", "C-5", "E-5", "A-5"}};
const Chord kF = {"F-1", "A-3", "C-4", {"F-4", "A-4", "C-5", "F-5"}};
const Chord kC = {"C-2", "G-3", "E-4", {"C-5", "E-5", "G-5", "C-6"}};
const Chord kG = {"G-1", "B-3", "D-4", {"G-4", "B-4", "D-5", "G-5"}};
const Chord kDm = {"D-2", "A-3", "F-4", {"D-5", "F-5", "A-5", "D-6"}};
const Chord kE = {"E-2", "G#3", "B-3", {"E-4", "G#4", "B-4", "E-5"}};

void Drums(XmPattern& p, int bar, bool full, bool fill) {
    int r = bar * 16;
    for (int b = 0; b < 4; ++b)
        if (full || b % 2 == 0)
            Put(p, r + b * 4, kKickCh, N("C-5"), kKick);
    if (full) {
        Put(p, r + 10, kKickCh, N("C-5"), kKick, 40); // a syncopated ghost kick
        Put(p, r + 4, kSnareCh, N("C-5"), kSnare);
        Put(p, r + 12, kSnareCh, N("C-5"), kSnare);
    }
    for (int s = 0; s < 16; s += 2)
        Put(p, r + s, kHatCh, N("C-5"), kHat, s % 4 == 2 ? 40 : 22);
    if (fill) // a snare roll into the next section, getting louder
        for (int s = 12; s < 16; ++s)
            Put(p, r + s, kSnareCh, N("C-5"), kSnare, 24 + (s - 12) * 10);
}

void Bass(XmPattern& p, int bar, const Chord& c) {
    static const int pattern[8] = {0, 0, 12, 0, 0, 12, 0, 7};
    for (int e = 0; e < 8; ++e)
        Put(p, bar * 16 + e * 2, kBassCh, N(c.bass) + pattern[e], kBass, e % 2 ? 36 : 48);
}

void Pads(XmPattern& p, int bar, const Chord& c, int vol, bool shimmer) {
    // Each pad voice carries its place in the stereo field on its note (see PlaceChannels).
    Put(p, bar * 16, kPadCh1, N(c.pad1), kPad, vol, kSetPanning, 0x50);
    Put(p, bar * 16, kPadCh2, N(c.pad2), kPad, vol, kSetPanning, 0xB0);
    if (shimmer) {
        // A fast wobble of an eighth and a quarter of a semitone: a chorus on the held chord.
        for (int s = 4; s < 16; ++s)
            Fx(p, bar * 16 + s, kPadCh2, kArpeggio, 0x12);
    }
}

void Arps(XmPattern& p, int bar, const Chord& c, int vol, bool pan) {
    static const int order[8] = {0, 1, 2, 3, 2, 1, 2, 0};
    for (int s = 0; s < 16; s += 2) {
        Put(p, bar * 16 + s, kPluckCh, N(c.arp[order[s / 2]]), kPluck, vol);
        if (pan) // pluck notes ping-pong between the two sides
            Fx(p, bar * 16 + s, kPluckCh, kExtended, 0x80 | (s % 4 ? 0x4 : 0xC));
        else
            Fx(p, bar * 16 + s, kPluckCh, kSetPanning, 0x80);
    }
}

// Stereo placement that reads the same in our player and in the usual trackers. Our player multiplies the
// sample's panning by the channel's (0.5 until an 8xx sets it), where other players let a note's sample panning
// replace the channel's. So the channels whose notes never carry a panning effect get 8FF once, on an intro row
// where they are silent, and take their place from the sample's panning (centre 128 for kick, snare, bass and
// lead, one side for the hats, the other for the crash); pads and plucks (sample panning 255) carry 8xx or E8x
// on every note. The hat channel's 8FF comes on row 1, after its first note.
void PlaceChannels(XmPattern& intro) {
    for (int ch : {kKickCh, kSnareCh, kBassCh, kLeadCh})
        Fx(intro, 0, ch, kSetPanning, 0xFF);
}

struct MelodyNote {
    int row;
    const char* note; // nullptr for key-off
    int vol;
    int eff, par;
};

void Melody(XmPattern& p, std::initializer_list<MelodyNote> notes, int transpose = 0) {
    for (const MelodyNote& m : notes) {
        if (!m.note) {
            Put(p, m.row, kLeadCh, kKeyOff, 0);
            continue;
        }
        bool glide = m.eff == kTonePorta;
        // A tone portamento keeps the instrument column empty, so the slide keeps the sounding note's volume.
        Put(p, m.row, kLeadCh, N(m.note) + transpose, glide ? 0 : kLead, m.vol, m.eff, m.par);
    }
}

XmSong Compose(size_t crashLength) {
    XmSong song;
    song.name = "wide";
    song.instruments = Instruments(crashLength);

    // 0: intro, two bars (the break cuts the pattern at row 31): pads, plucks and hats, the kick on bar 2.
    XmPattern intro = Empty();
    PlaceChannels(intro);
    Pads(intro, 0, kAm, 20, false);
    Fx(intro, 2, kPadCh1, kVolumeSlide, 0x20);
    Fx(intro, 2, kPadCh2, kVolumeSlide, 0x20);
    Pads(intro, 1, kG, 40, true);
    Arps(intro, 0, kAm, 24, false);
    Arps(intro, 1, kG, 34, false);
    Drums(intro, 1, false, true);
    for (int s = 0; s < 16; s += 2) {
        intro.At(s, kHatCh) = {};
        if (s % 4 == 0)
            Put(intro, s, kHatCh, N("C-5"), kHat, 18);
    }
    Fx(intro, 1, kHatCh, kSetPanning, 0xFF);
    Fx(intro, 31, kPluckCh, kPatternBreak, 0);

    // 1: the theme over Am F C G.
    XmPattern theme = Empty();
    const Chord* prog[4] = {&kAm, &kF, &kC, &kG};
    for (int bar = 0; bar < 4; ++bar) {
        Drums(theme, bar, true, bar == 3);
        Bass(theme, bar, *prog[bar]);
        Pads(theme, bar, *prog[bar], 26, bar % 2 == 1);
    }
    Put(theme, 0, kHatCh, N("C-5"), kCrash);
    Melody(theme, {{0, "A-4", 44, 0, 0},
                   {4, "C-5", 44, 0, 0},
                   {6, "E-5", 48, 0, 0},
                   {10, "D-5", 40, 0, 0},
                   {12, "C-5", 40, 0, 0},
                   {15, nullptr, 0, 0, 0},
                   {16, "A-4", 44, kVibrato, 0x42},
                   {22, "F-4", 40, 0, 0},
                   {24, "A-4", 40, 0, 0},
                   {26, "C-5", 44, kVibrato, 0x52},
                   {32, "G-4", 44, 0, 0},
                   {36, "E-5", 48, 0, 0},
                   {40, "D-5", 40, 0, 0},
                   {42, "C-5", 40, 0, 0},
                   {44, "D-5", 40, 0, 0},
                   {46, "E-5", 44, 0, 0},
                   {48, "D-5", 48, kVibrato, 0x42},
                   {56, "B-4", 40, 0, 0},
                   {60, "G-4", 40, kVolumeSlide, 0x04}});

    // 2: the answer, higher, with glides, a trill and a bass dive at the end.
    XmPattern answer = Empty();
    const Chord* prog2[4] = {&kAm, &kF, &kC, &kE};
    for (int bar = 0; bar < 4; ++bar) {
        Drums(answer, bar, true, bar == 3);
        Bass(answer, bar, *prog2[bar]);
        Pads(answer, bar, *prog2[bar], 24, bar % 2 == 0);
        Arps(answer, bar, *prog2[bar], 18, false);
    }
    Put(answer, 0, kHatCh, N("C-5"), kCrash);
    Melody(answer, {{0, "E-5", 46, 0, 0},
                    {4, "A-5", 0, kTonePorta, 0x20},
                    {10, "G-5", 44, 0, 0},
                    {12, "E-5", 44, 0, 0},
                    {16, "F-5", 46, 0, 0},
                    {20, "E-5", 42, 0, 0},
                    {22, "C-5", 42, 0, 0},
                    {26, "A-4", 42, 0, 0},
                    {28, "C-5", 42, kArpeggio, 0x08},
                    {32, "E-5", 46, 0, 0},
                    {36, "G-5", 48, kVibrato, 0x42},
                    {40, "E-5", 44, 0, 0},
                    {42, "D-5", 42, 0, 0},
                    {44, "C-5", 42, 0, 0},
                    {48, "B-4", 46, 0, 0},
                    {52, "D-5", 46, 0, 0},
                    {56, "G#5", 48, kVibrato, 0x42},
                    {60, nullptr, 0, 0, 0}});
    for (int s = 56; s < 64; ++s)
        Fx(answer, s, kBassCh, kPortaDown, 0x06);
    for (int s = 60; s < 64; ++s)
        Fx(answer, s, kLeadCh, kVolumeSlide, 0x08);

    // 3: the breakdown. Bars 3 and 4 repeat once (pattern loop); the lead rises back in with a slide up.
    XmPattern down = Empty();
    const Chord* prog3[4] = {&kDm, &kAm, &kF, &kE};
    for (int bar = 0; bar < 4; ++bar) {
        Pads(down, bar, *prog3[bar], 30, true);
        Arps(down, bar, *prog3[bar], 34, true);
        if (bar >= 2) {
            Drums(down, bar, false, bar == 3);
            Bass(down, bar, *prog3[bar]);
        }
    }
    Fx(down, 32, kHatCh, kExtended, 0x60); // loop start
    Fx(down, 63, kHatCh, kExtended, 0x61); // play bars 3 and 4 twice
    Melody(down, {{16, "E-5", 36, kVibrato, 0x32},
                  {28, "A-5", 0, kTonePorta, 0x10},
                  {40, "C-6", 36, kVibrato, 0x42},
                  {48, "B-5", 36, 0, 0},
                  {56, "E-5", 40, kPortaUp, 0x02},
                  {62, nullptr, 0, 0, 0}});

    // 4: the theme an octave up over the full beat, then back to the intro.
    XmPattern finale = Empty();
    for (int bar = 0; bar < 2; ++bar) {
        Drums(finale, bar, true, bar == 1);
        Bass(finale, bar, *prog[bar]);
        Pads(finale, bar, *prog[bar], 30, true);
        Arps(finale, bar, *prog[bar], 22, true);
    }
    Put(finale, 0, kHatCh, N("C-5"), kCrash);
    Melody(finale,
           {{0, "A-4", 42, 0, 0},
            {4, "C-5", 42, 0, 0},
            {6, "E-5", 46, 0, 0},
            {10, "D-5", 40, 0, 0},
            {12, "C-5", 40, 0, 0},
            {16, "A-4", 44, kVibrato, 0x42},
            {22, "F-4", 40, 0, 0},
            {24, "E-4", 40, 0, 0},
            {26, "E-4", 0, 0, 0}},
           12);
    for (int s = 26; s < 32; ++s)
        Fx(finale, s, kLeadCh, kVolumeSlide, 0x06);
    Fx(finale, 31, kPluckCh, kPatternBreak, 0);

    song.patterns = {intro, theme, answer, down, finale};
    song.orders = {0, 1, 2, 3, 4};
    return song;
}

} // namespace

std::vector<uint8_t> MakeSong(size_t size) {
    // The crash is the one sample whose length is free: start long and shorten it until the module fits,
    // then fill the rest with zero bytes after the last sample's data.
    for (size_t crash = 12000; crash >= 2000; crash -= 250) {
        std::vector<uint8_t> xm = WriteXm(Compose(crash));
        if (xm.size() <= size) {
            std::fprintf(stderr, "  crash of %zu samples, %zu bytes of padding\n", crash, size - xm.size());
            xm.resize(size, 0);
            return xm;
        }
    }
    std::fprintf(stderr, "make-data: the song does not fit in %zu bytes\n", size);
    std::exit(1);
}

} // namespace makedata
