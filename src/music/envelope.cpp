// Volume and panning envelopes: piecewise linear over up to 12 points, plain, looped or held at a sustain point.
#include "music/music.h"

namespace {

// Indices are bytes from the file; anything past the last point reads the last point.
int32_t PointIndex(int32_t index) {
    return index < 0 ? 0 : index > 11 ? 11 : index;
}

const Instrument* InstrumentAt(int32_t instrument) {
    const Module* module = player.module;
    if (!module || instrument < 1 || instrument > MaxInstruments)
        return nullptr;
    return &module->instruments[instrument];
}

// The first segment k in [0, lastSegment] with P[k].x <= t < P[k+1].x gives the value; none gives `fallback`.
bool SegmentValue(const EnvelopePoint* points, int32_t t, int32_t lastSegment, double& value) {
    for (int32_t k = 0; k <= lastSegment; ++k) {
        if (points[k].x <= t && t < points[k + 1].x) {
            double f = static_cast<double>(t - points[k].x) / static_cast<double>(points[k + 1].x - points[k].x);
            value = (points[k].y * (1.0 - f) + points[k + 1].y * f) / 64.0;
            return true;
        }
    }
    return false;
}

double Plain(const EnvelopePoint* points, int32_t t, double fallback) {
    double value;
    return SegmentValue(points, t, 10, value) ? value : fallback;
}

double Loop(const EnvelopePoint* points, int32_t loopStart, int32_t loopEnd, int32_t t, double fallback) {
    int32_t s = points[PointIndex(loopStart)].x;
    int32_t e = points[PointIndex(loopEnd)].x;
    // A loop whose ends share an x (or run backwards) has no length to fold into: it reads as unlooped.
    if (t > s && e > s)
        t = s + (t - s) % (e - s);
    return Plain(points, t, fallback);
}

double Sustain(const EnvelopePoint* points, int32_t sustain, int32_t t) {
    int32_t u = PointIndex(sustain);
    double value;
    if (u >= 1 && SegmentValue(points, t, u - 1, value))
        return value;
    return points[u].y / 64.0;
}

} // namespace

double VolumeEnvelopePlain(int32_t instrument, int32_t position) {
    const Instrument* in = InstrumentAt(instrument);
    return in ? Plain(in->volumePoints, position, 0.0) : 0.0;
}

double VolumeEnvelopeLoop(int32_t instrument, int32_t position) {
    const Instrument* in = InstrumentAt(instrument);
    return in ? Loop(in->volumePoints, in->volumeLoopStart, in->volumeLoopEnd, position, 0.0) : 0.0;
}

double VolumeEnvelopeSustain(int32_t instrument, int32_t position) {
    const Instrument* in = InstrumentAt(instrument);
    return in ? Sustain(in->volumePoints, in->volumeSustain, position) : 0.0;
}

double PanningEnvelopePlain(int32_t instrument, int32_t position) {
    const Instrument* in = InstrumentAt(instrument);
    return in ? Plain(in->panningPoints, position, 0.5) : 0.5;
}

double PanningEnvelopeLoop(int32_t instrument, int32_t position) {
    const Instrument* in = InstrumentAt(instrument);
    return in ? Loop(in->panningPoints, in->panningLoopStart, in->panningLoopEnd, position, 0.5) : 0.5;
}

double PanningEnvelopeSustain(int32_t instrument, int32_t position) {
    const Instrument* in = InstrumentAt(instrument);
    return in ? Sustain(in->panningPoints, in->panningSustain, position) : 0.5;
}
