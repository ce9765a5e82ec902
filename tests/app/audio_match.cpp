// audio-match REFERENCE.raw RECORDING.raw [MIN_CORRELATION [FRAMES]]
// Both files 16-bit little-endian stereo at 44100 Hz. Finds where the reference begins in the recording (the
// recording starts earlier and holds silence before the music), then measures the normalised correlation over
// everything the two share. Prints the offset, the correlation and the share of bit-identical samples; exits 0
// when the correlation reaches MIN_CORRELATION (default 0.99). FRAMES limits the comparison to the first FRAMES
// frames of the reference (those that were played before the stream stopped).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

static std::vector<int16_t> Read(const char* path) {
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

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: audio-match REFERENCE.raw RECORDING.raw [MIN_CORRELATION [FRAMES]]\n");
        return 2;
    }
    const double wanted = argc > 3 ? atof(argv[3]) : 0.99;
    const std::vector<int16_t> ref = Read(argv[1]), rec = Read(argv[2]);
    size_t refFrames = ref.size() / 2;
    const size_t recFrames = rec.size() / 2;
    if (argc > 4 && size_t(atoll(argv[4])) < refFrames)
        refFrames = size_t(atoll(argv[4]));
    const size_t window = 4096; // frames of the reference's left channel used to find the offset
    if (refFrames < window || recFrames < window) {
        fprintf(stderr, "audio-match: too little audio (reference %zu, recording %zu frames)\n", refFrames, recFrames);
        return 1;
    }
    // The offset is found with a window one second into the reference (past whatever start-up differs), searched
    // over the first ten seconds of the recording.
    const size_t start = refFrames >= window + 44100 ? 44100 : 0;
    size_t best = 0;
    double bestScore = -1;
    for (size_t at = 0; at + window <= recFrames && at <= 10 * 44100 + start; ++at) {
        int64_t dot = 0, energy = 0;
        for (size_t i = 0; i < window; i += 4) { // every fourth frame is plenty for music or noise
            dot += int64_t(ref[2 * (start + i)]) * rec[2 * (at + i)];
            energy += int64_t(rec[2 * (at + i)]) * rec[2 * (at + i)];
        }
        // Normalised, so that a louder stretch of the recording does not win by loudness alone.
        const double score = energy > 0 ? double(dot) / std::sqrt(double(energy)) : -1;
        if (score > bestScore) {
            bestScore = score;
            best = at;
        }
    }
    // Compare everything from the window on: reference frame start + i against recording frame best + i.
    double sxy = 0, sxx = 0, syy = 0;
    size_t same = 0, count = 0;
    for (size_t i = 0; start + i < refFrames && best + i < recFrames; ++i)
        for (int c = 0; c < 2; ++c) {
            const double x = ref[2 * (start + i) + c], y = rec[2 * (best + i) + c];
            sxy += x * y;
            sxx += x * x;
            syy += y * y;
            same += ref[2 * (start + i) + c] == rec[2 * (best + i) + c];
            ++count;
        }
    const double r = sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
    printf(
        "reference frame %zu at recording frame %zu, compared %zu frames, correlation %.6f, identical samples %.4f\n",
        start, best, count / 2, r, count ? double(same) / double(count) : 0.0);
    return r >= wanted ? 0 : 1;
}
