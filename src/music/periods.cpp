// The Amiga period model: a note and a finetune give a period through a table of eight steps per semitone.
#include "music/music.h"

namespace {

// Indices -8..119 stored from 0, so basePeriods[k + 8] is index k. Index 8 is C, index 96 the B an octave
// above index 0. The entries after index 96 continue the octave halving and are never read by AmigaPeriod.
const int32_t basePeriods[128] = {
    15356, 15245, 15136, 15027, 14919, 14811, 14705, 14599, 14494, 14390, 14286, 14183, 14081, 13980, 13879, 13780,
    13680, 13582, 13484, 13387, 13291, 13195, 13100, 13006, 12913, 12820, 12727, 12636, 12545, 12455, 12365, 12276,
    12188, 12100, 12013, 11927, 11841, 11756, 11671, 11587, 11504, 11421, 11339, 11257, 11176, 11096, 11016, 10937,
    10858, 10780, 10702, 10625, 10549, 10473, 10398, 10323, 10249, 10175, 10102, 10029, 9957,  9885,  9814,  9743,
    9673,  9604,  9535,  9466,  9398,  9330,  9263,  9197,  9130,  9065,  8999,  8935,  8870,  8807,  8743,  8680,
    8618,  8556,  8494,  8433,  8373,  8312,  8253,  8193,  8134,  8076,  8018,  7960,  7903,  7846,  7789,  7733,
    7678,  7622,  7568,  7513,  7459,  7405,  7352,  7299,  7247,  7195,  7143,  7092,  7041,  6990,  6940,  6890,
    6840,  6790,  6741,  6692,  6643,  6594,  6546,  6498,  6450,  6402,  6355,  6308,  6261,  6215,  6169,  6123};

int32_t BasePeriod(int32_t index) {
    return basePeriods[index + 8];
}

} // namespace

int32_t periodTable[16][120];

const int32_t sineTable[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
                               255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

int32_t AmigaPeriod(int32_t note, int32_t finetune) {
    // A note below C-0 would index before the table, and from octave 31 on the divisor no longer fits: both have
    // no audible period, and 0 is what the engines treat as "silent".
    if (note < 0 || note / 12 > 30)
        return 0;
    if (finetune < -128)
        finetune = -128;
    if (finetune > 127)
        finetune = 127;
    int32_t octave = note / 12;
    int32_t n = note % 12;
    // The index rounds the finetune toward zero while the fraction wraps it into 0..15; for negative finetunes
    // the two disagree on purpose (finetune -1 interpolates from index n*8 with t = 15/16).
    int32_t base = n * 8 + finetune / 16;
    int32_t frac = (finetune + 128) % 16;
    double t = frac * 0.0625;
    int32_t p0, p1;
    if (octave <= 0) {
        p0 = BasePeriod(base) * 4;
        p1 = BasePeriod(base + 1) * 4;
    } else {
        int32_t d = 1 << (octave - 1);
        p0 = BasePeriod(base) * 2 / d;
        p1 = BasePeriod(base + 1) * 2 / d;
    }
    return static_cast<int32_t>((1.0 - t) * p0 + t * p1);
}

void FillPeriodTable() {
    for (int32_t r = 0; r < 16; ++r) {
        for (int32_t i = 0; i < 120; ++i)
            periodTable[r][i] = i < 108 ? AmigaPeriod(i, 8 * r - 64) / 4 : 0;
    }
}
