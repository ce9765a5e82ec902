// Reading 31-sample MOD files (4, 6 or 8 channels) into a Module.
//
// The whole file is read into memory first and every field is taken from that buffer with its bounds checked,
// so a short or hostile file can never make us read past what is there. Values the engine indexes with are
// made safe here, once, instead of on every tick.
#include "music/music.h"

#include "app/bytes.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long HeaderBytes = 1084; // title, 31 sample headers, song length, restart, orders, signature
constexpr int ModRows = 64;

// The first k whose finetune-0 period, halved back to Amiga units, lies within 2 of the cell's period.
int16_t NoteIndexOf(int period) {
    for (int k = 0; k < 108; ++k) {
        int difference = period - periodTable[8][k] / 2;
        if (difference > -3 && difference < 3)
            return static_cast<int16_t>(k);
    }
    return -1;
}

void ReadSampleHeader(const uint8_t* at, Sample* sample) {
    memcpy(sample->name, at, 22);
    sample->length = int(ReadBe16(at + 22)) * 2;
    // Only the low nibble is a finetune; trackers ignore the rest of the byte, and so do we.
    int finetune = at[24] & 0x0F;
    sample->finetune = finetune < 8 ? finetune : finetune - 16;
    sample->volume = static_cast<int8_t>(at[25]);
    sample->loopStart = int(ReadBe16(at + 26)) * 2;
    sample->loopLength = int(ReadBe16(at + 28)) * 2;
    sample->data = nullptr;
}

// Keeps a loop inside the sample: a loop starting at or past the end is dropped, one running past the end is
// cut at the end. Lengths of 0 and 2 already mean "no loop" to the engine.
void ClampLoop(Sample* sample) {
    if (sample->loopLength <= 2)
        return;
    if (sample->loopStart >= sample->length) {
        sample->loopStart = 0;
        sample->loopLength = 0;
    } else if (sample->loopStart + sample->loopLength > sample->length) {
        sample->loopLength = sample->length - sample->loopStart;
        if (sample->loopLength <= 2)
            sample->loopLength = 0;
    }
}

void ConvertCell(const uint8_t* at, NoteCell* cell) {
    int sampleNumber = (at[0] & 0xF0) + (at[2] >> 4);
    int period = (at[0] & 0x0F) * 256 + at[1];
    // There are only 31 sample slots; a larger number is treated as no sample at all.
    cell->instrument = static_cast<uint8_t>(sampleNumber <= 31 ? sampleNumber : 0);
    cell->period = static_cast<int16_t>(period);
    cell->effect = static_cast<uint8_t>(at[2] & 0x0F);
    cell->param = at[3];
    cell->volumeColumn = 0;
    cell->note = NoteIndexOf(period);
    if (cell->note != -1)
        cell->extra = 8;
}

// Song length, the order table, and how many patterns the song plays and the file stores: those the order
// table names within the song, and those it names anywhere (trackers save both).
void ReadOrders(const uint8_t* file, Module* module, int* patternCount, int* storedPatterns) {
    // The order table holds 128 entries; a song length beyond it, or of 0, would play entries never read.
    int songLength = file[950];
    if (songLength < 1)
        songLength = 1;
    if (songLength > 128)
        songLength = 128;
    module->songLength = songLength;
    for (int i = 0; i < MaxOrders; ++i)
        module->orders[i] = i < 128 ? file[952 + i] : 0;
    *patternCount = 0;
    *storedPatterns = 0;
    for (int i = 0; i < 128; ++i) {
        if (i < songLength && module->orders[i] + 1 > *patternCount)
            *patternCount = module->orders[i] + 1;
        if (module->orders[i] + 1 > *storedPatterns)
            *storedPatterns = module->orders[i] + 1;
    }
}

// The patterns the song plays, 64 rows of `channelCount` cells each, from `at` on.
bool ReadPatterns(const uint8_t* at, const char* path, Module* module, int patternCount, int channelCount) {
    module->patternCount = patternCount;
    module->patterns = static_cast<Pattern*>(calloc(patternCount, sizeof(Pattern)));
    if (!module->patterns) {
        SetModuleError("%s: out of memory", path);
        return false;
    }
    for (int p = 0; p < patternCount; ++p) {
        Pattern* pattern = &module->patterns[p];
        pattern->rowCount = ModRows;
        pattern->storedRows = ModRows;
        for (int ch = 0; ch < channelCount; ++ch) {
            pattern->channelRows[ch] = static_cast<NoteCell*>(calloc(ModRows, sizeof(NoteCell)));
            if (!pattern->channelRows[ch]) {
                SetModuleError("%s: out of memory", path);
                return false;
            }
        }
        for (int row = 0; row < ModRows; ++row)
            for (int ch = 0; ch < channelCount; ++ch, at += 4)
                ConvertCell(at, &pattern->channelRows[ch][row]);
    }
    return true;
}

// The 31 samples' data, one after another from `at` on. Sample data cut short by the end of the file keeps what
// is there: the sample is shortened to the bytes present (and its loop kept inside them); samples wholly past
// the end become empty.
bool ReadSamples(const uint8_t* at, const uint8_t* end, const char* path, Module* module) {
    for (int n = 1; n <= 31; ++n) {
        Sample* sample = &module->modSamples[n];
        const long available = end - at;
        if (sample->length > available)
            sample->length = static_cast<int32_t>(available);
        ClampLoop(sample);
        if (sample->length == 0)
            continue;
        // Ten zeroed frames past the end let the engine read one frame beyond the last.
        sample->data = static_cast<int16_t*>(calloc(sample->length + 10, sizeof(int16_t)));
        if (!sample->data) {
            SetModuleError("%s: out of memory", path);
            return false;
        }
        for (int i = 0; i < sample->length; ++i)
            sample->data[i] = static_cast<int16_t>(static_cast<int8_t>(at[i]) * 128);
        // A looped sample never plays the frame after its loop's end: the last frame of the loop interpolates
        // towards the loop's first instead. That frame holds a copy of the first, so that the engine can read on
        // across the turn as if the data went straight on.
        if (sample->loopLength > 2)
            sample->data[sample->loopStart + sample->loopLength] = sample->data[sample->loopStart];
        at += sample->length;
    }
    return true;
}

bool ParseMod(const uint8_t* file, long size, const char* path, Module* module) {
    if (size < HeaderBytes) {
        SetModuleError("%s: truncated inside the MOD header (%ld of %ld bytes)", path, size, HeaderBytes);
        return false;
    }
    // Note indices are looked up in the period table; start-up fills it, but a loader must not depend on that.
    if (periodTable[8][0] == 0)
        FillPeriodTable();

    module->isXm = 0;
    memcpy(module->name, file, 20);
    for (int n = 1; n <= 31; ++n)
        ReadSampleHeader(file + 20 + (n - 1) * 30, &module->modSamples[n]);
    int patternCount = 0, storedPatterns = 0;
    ReadOrders(file, module, &patternCount, &storedPatterns);
    memcpy(module->tracker, file + 1080, 4);
    const int channelCount = file[1080] == '8' ? 8 : file[1080] == '6' ? 6 : 4;

    const long patternBytes = static_cast<long>(ModRows) * channelCount * 4;
    if (size < HeaderBytes + patternCount * patternBytes) {
        SetModuleError("%s: truncated inside the pattern data (%d patterns need %ld bytes, the file has %ld)", path,
                       patternCount, HeaderBytes + patternCount * patternBytes, size);
        return false;
    }
    if (!ReadPatterns(file + HeaderBytes, path, module, patternCount, channelCount))
        return false;
    const uint8_t* at = file + HeaderBytes + patternCount * patternBytes;

    // Patterns the order table names only after the song length are stored too when a tracker saved them; when
    // the file holds them, their bytes are not sample data: step over them.
    long sampleBytes = 0;
    for (int n = 1; n <= 31; ++n)
        sampleBytes += module->modSamples[n].length;
    const long extraBytes = (storedPatterns - patternCount) * patternBytes;
    if (extraBytes > 0 && (at - file) + extraBytes + sampleBytes <= size)
        at += extraBytes;
    if (!ReadSamples(at, file + size, path, module))
        return false;
    module->channelCount = channelCount;
    return true;
}

} // namespace

bool LoadModFile(const uint8_t* bytes, size_t size, const char* name, Module* module) {
    if (size > size_t(LONG_MAX)) {
        SetModuleError("%s: too large for a MOD file", name);
        return false;
    }
    return ParseMod(bytes, long(size), name, module);
}
