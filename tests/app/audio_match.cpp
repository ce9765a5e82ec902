// audio-match REFERENCE.raw RECORDING.raw [MIN_CORRELATION [FRAMES]]
// Both files 16-bit little-endian stereo at 44100 Hz. Finds where the reference begins in the recording (which
// starts earlier, with silence before the music), then checks the reference second by second: a window at the
// start of every second must be found in the recording, in order, with a normalised correlation of at least
// MIN_CORRELATION (default 0.99). A recorder that drops audio under load shifts the rest of the recording earlier,
// a server that plays silence when its client is late shifts it later; such a gap is searched for, counted and
// reported, not taken for a mismatch. FRAMES limits the check to the
// first FRAMES frames of the reference (those played before the stream stopped). Exit 0 when every window matched.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::vector<int16_t> ref, rec;
constexpr long Window = 4096; // frames compared per second of reference
constexpr long Second = 44100;

std::vector<int16_t> Read(const char* path) {
    std::vector<int16_t> data;
    FILE* f = fopen(path, "rb");
    if (!f)
        return data;
    int16_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 2, 4096, f)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    fclose(f);
    return data;
}

// Normalised correlation of the reference window at `at` with the recording at `at + lag`, both channels, and
// how many samples are identical.
double Correlate(long at, long lag, long& identical) {
    double sxy = 0, sxx = 0, syy = 0;
    identical = 0;
    for (long i = 0; i < Window; ++i)
        for (int c = 0; c < 2; ++c) {
            const int16_t x = ref[size_t(2 * (at + i) + c)], y = rec[size_t(2 * (at + lag + i) + c)];
            sxy += double(x) * y;
            sxx += double(x) * x;
            syy += double(y) * y;
            identical += x == y;
        }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : (sxx == syy ? 1.0 : 0.0);
}

// The lag in [from, to] whose recording window looks most like the reference window at `at` (left channel,
// every fourth frame, normalised by the recording's energy so loudness alone does not win).
long Search(long at, long from, long to, long recFrames) {
    long best = from;
    double bestScore = -1e300;
    for (long lag = from; lag <= to; ++lag) {
        if (at + lag < 0 || at + lag + Window > recFrames)
            continue;
        int64_t dot = 0, energy = 0;
        for (long i = 0; i < Window; i += 4) {
            const int64_t y = rec[size_t(2 * (at + lag + i))];
            dot += int64_t(ref[size_t(2 * (at + i))]) * y;
            energy += y * y;
        }
        const double score = energy > 0 ? double(dot) / std::sqrt(double(energy)) : -1e299;
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: audio-match REFERENCE.raw RECORDING.raw [MIN_CORRELATION [FRAMES]]\n");
        return 2;
    }
    const double wanted = argc > 3 ? atof(argv[3]) : 0.99;
    ref = Read(argv[1]);
    rec = Read(argv[2]);
    long refFrames = long(ref.size() / 2);
    const long recFrames = long(rec.size() / 2);
    if (argc > 4 && atol(argv[4]) < refFrames)
        refFrames = atol(argv[4]);
    // Start a second into the reference, past whatever start-up differs.
    const long start = refFrames >= Window + Second ? Second : 0;
    if (refFrames < start + Window || recFrames < Window) {
        fprintf(stderr, "audio-match: too little audio (reference %ld, recording %ld frames)\n", refFrames, recFrames);
        return 1;
    }
    long lag = Search(start, -start, 10 * Second, recFrames);
    const long firstLag = lag;
    long windows = 0, failed = 0, gaps = 0, identical = 0, samples = 0;
    double worst = 1.0;
    for (long at = start; at + Window <= refFrames; at += Second) {
        if (at + lag + Window > recFrames) {
            ++failed; // the recording ended early
            break;
        }
        long same = 0;
        double r = -1;
        // A gap may fall inside the window itself; then a window further into the same second tells.
        for (long pos = at; pos < at + Second - Window && pos + lag + Window <= recFrames && pos + Window <= refFrames;
             pos += 2 * Window) {
            r = Correlate(pos, lag, same);
            if (r >= wanted)
                break;
            // A gap since the last window: audio the recorder dropped (the rest comes earlier) or silence the
            // server played in between (the rest comes later). Look 3 s either way.
            const long found = Search(pos, lag - 3 * Second, lag + 3 * Second, recFrames);
            long sameThere = 0;
            const double there = Correlate(pos, found, sameThere);
            if (there >= wanted) {
                ++gaps;
                lag = found;
                r = there;
                same = sameThere;
                break;
            }
        }
        ++windows;
        if (r < wanted)
            ++failed;
        if (r < worst)
            worst = r;
        identical += same;
        samples += 2 * Window;
    }
    printf("reference frame %ld at recording frame %ld, %ld one-second windows, %ld failed, worst correlation %.6f, "
           "identical samples %.4f, %ld gaps in the recording (net %ld frames inserted)\n",
           start, start + firstLag, windows, failed, worst, samples ? double(identical) / double(samples) : 0.0, gaps,
           lag - firstLag);
    return failed == 0 && windows > 0 ? 0 : 1;
}
