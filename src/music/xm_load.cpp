// XM loader: header, packed patterns, instruments with their sample headers and delta-coded sample data.
#include "music/music.h"

#include "app/bytes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The file is parsed front to back from memory, never seeking back. The readers cannot leave the data: a read
// past its end gives zeros and marks the reader cut, and each record is checked against the end before it is read,
// so a short file is refused at the record where it ends.
struct XmReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool cut; // a read went past the end
};

bool Has(const XmReader& in, uint64_t count) {
    return count <= in.size - in.pos;
}

uint8_t Byte(XmReader& in) {
    if (in.pos >= in.size) {
        in.cut = true;
        return 0;
    }
    return in.data[in.pos++];
}

uint16_t Word(XmReader& in) {
    const uint16_t low = Byte(in);
    return static_cast<uint16_t>(low | Byte(in) << 8);
}

uint32_t Dword(XmReader& in) {
    const uint32_t low = Word(in);
    return low | uint32_t(Word(in)) << 16;
}

void Skip(XmReader& in, uint64_t count) {
    if (!Has(in, count)) {
        in.pos = in.size;
        in.cut = true;
        return;
    }
    in.pos += size_t(count);
}

// `count` bytes into `out`, zeros for those past the end.
void CopyBytes(XmReader& in, void* out, size_t count) {
    for (size_t i = 0; i < count; ++i)
        static_cast<uint8_t*>(out)[i] = Byte(in);
}

constexpr int KeyOff = 97;
constexpr int MapNotes = 120; // entries of an instrument's sample map

bool ReadPattern(XmReader& in, const char* path, Module* module, int32_t index) {
    if (!Has(in, 9)) {
        SetModuleError("%s: truncated inside the header of pattern %d", path, index);
        return false;
    }
    uint32_t headerLength = Dword(in);
    Byte(in); // packing type
    int32_t rows = Word(in);
    uint32_t packedSize = Word(in);
    if (headerLength < 9) {
        SetModuleError("%s: pattern %d has a header length of %u, below its 9 bytes", path, index, headerLength);
        return false;
    }
    Skip(in, headerLength - 9);
    if (in.cut) {
        SetModuleError("%s: truncated inside the header of pattern %d", path, index);
        return false;
    }
    if (!Has(in, packedSize)) {
        SetModuleError("%s: truncated inside the data of pattern %d", path, index);
        return false;
    }

    // Every cell takes at least one byte of the packed data, so only the rows those bytes can reach are held;
    // the rest of a pattern (all of it when the data is empty) reads as empty cells. This keeps what a file can
    // make the player allocate in proportion to its size, whatever its row and pattern counts say.
    Pattern& pattern = module->patterns[index];
    pattern.rowCount = rows;
    const uint32_t reachable = (packedSize + module->channelCount - 1) / module->channelCount;
    pattern.storedRows = rows < static_cast<int32_t>(reachable) ? rows : static_cast<int32_t>(reachable);
    for (int32_t ch = 0; ch < module->channelCount && pattern.storedRows > 0; ++ch) {
        NoteCell* cells = static_cast<NoteCell*>(std::calloc(pattern.storedRows, sizeof(NoteCell)));
        if (!cells) {
            SetModuleError("%s: out of memory in pattern %d", path, index);
            return false;
        }
        for (int32_t r = 0; r < pattern.storedRows; ++r)
            cells[r].note = -1;
        pattern.channelRows[ch] = cells;
    }

    size_t end = in.pos + packedSize;
    int32_t ch = 0, row = 0;
    while (in.pos < end && row < pattern.storedRows) {
        NoteCell& cell = pattern.channelRows[ch][row];
        uint8_t lead = Byte(in);
        // An unpacked cell is a note followed by all four fields; a packed one says which fields follow.
        uint8_t mask = lead & 0x80 ? lead : 0x1E;
        if (!(lead & 0x80))
            cell.note = lead;
        if (mask & 0x01 && in.pos < end)
            cell.note = Byte(in);
        if (mask & 0x02 && in.pos < end)
            cell.instrument = Byte(in);
        if (mask & 0x04 && in.pos < end)
            cell.volumeColumn = Byte(in);
        if (mask & 0x08 && in.pos < end)
            cell.effect = Byte(in);
        if (mask & 0x10 && in.pos < end)
            cell.param = Byte(in);
        // Notes index the 120-entry sample map; a byte past it would read beyond, and is taken as key-off.
        if (cell.note >= MapNotes)
            cell.note = KeyOff;
        if (++ch == module->channelCount) {
            ch = 0;
            ++row;
        }
    }
    in.pos = end;
    return true;
}

void ReadEnvelope(XmReader& in, EnvelopePoint* points) {
    for (int k = 0; k < 12; ++k) {
        points[k].x = Word(in);
        points[k].y = static_cast<int16_t>(Word(in));
    }
}

// A loop that reaches past the data is cut at its end, and a loop with nothing left in it plays as no loop,
// the way trackers load such samples. Loops inside the data are kept as they are.
void FitLoop(Sample& sample, uint32_t loopStart, uint32_t loopLength) {
    uint32_t length = static_cast<uint32_t>(sample.length);
    if (sample.loopType != 0) {
        if (loopStart >= length || loopLength == 0) {
            sample.loopType = 0;
        } else if (loopLength > length - loopStart) {
            loopLength = length - loopStart;
        }
    }
    sample.loopStart = static_cast<int32_t>(loopStart);
    sample.loopLength = static_cast<int32_t>(loopLength);
}

// Decodes one delta-coded data block. When the file ends inside it, the sample keeps the frames that are there
// and `cutShort` tells the caller that nothing follows.
bool ReadSampleData(XmReader& in, const char* path, Sample& sample, uint32_t loopStart, uint32_t loopLength,
                    bool& cutShort) {
    uint64_t frameBytes = sample.is16Bit ? 2 : 1;
    uint64_t frames = static_cast<uint32_t>(sample.length);
    if (!Has(in, frames * frameBytes)) {
        frames = (in.size - in.pos) / frameBytes;
        cutShort = true;
    }
    sample.length = static_cast<int32_t>(frames);
    FitLoop(sample, loopStart, loopLength);
    if (frames == 0) {
        if (cutShort)
            in.pos = in.size;
        return true;
    }
    // One frame more than the data: see below.
    sample.data = static_cast<int16_t*>(std::malloc((frames + 1) * sizeof(int16_t)));
    if (!sample.data) {
        SetModuleError("%s: out of memory for sample data", path);
        return false;
    }
    if (sample.is16Bit) {
        uint16_t previous = 0;
        for (uint64_t i = 0; i < frames; ++i) {
            previous = static_cast<uint16_t>(previous + Word(in));
            sample.data[i] = static_cast<int16_t>(previous);
        }
    } else {
        uint8_t previous = 0;
        for (uint64_t i = 0; i < frames; ++i) {
            previous = static_cast<uint8_t>(previous + Byte(in));
            sample.data[i] = static_cast<int16_t>(static_cast<int8_t>(previous) * 256);
        }
    }
    // A forward loop never plays the frame after its end: the loop's last frame interpolates towards its first
    // instead. That frame holds a copy of the first, so that the renderer can read on across the turn as if the data
    // went straight on; without a forward loop, the frame after the data is 0.
    sample.data[frames] = 0;
    if (sample.loopType == 1)
        sample.data[sample.loopStart + sample.loopLength] = sample.data[sample.loopStart];
    if (cutShort)
        in.pos = in.size;
    return true;
}

// The rest of an instrument header that has samples: the sample map, both envelopes with their points, sustain
// and loop indices, the auto-vibrato and the fade-out. `headerSize` is at least 243 here.
void ReadInstrumentFields(XmReader& in, Instrument& instrument, uint32_t headerSize) {
    for (int k = 0; k < 96; ++k)
        instrument.sampleMap[k] = Byte(in);
    ReadEnvelope(in, instrument.volumePoints);
    ReadEnvelope(in, instrument.panningPoints);
    instrument.volumePointCount = Byte(in);
    instrument.panningPointCount = Byte(in);
    instrument.volumeSustain = Byte(in);
    instrument.volumeLoopStart = Byte(in);
    instrument.volumeLoopEnd = Byte(in);
    instrument.panningSustain = Byte(in);
    instrument.panningLoopStart = Byte(in);
    instrument.panningLoopEnd = Byte(in);
    instrument.volumeType = Byte(in);
    instrument.panningType = Byte(in);
    instrument.vibratoType = Byte(in);
    instrument.vibratoSweep = Byte(in);
    instrument.vibratoDepth = Byte(in);
    instrument.vibratoRate = Byte(in);
    instrument.fadeout = Word(in);
    Skip(in, 2 + (headerSize - 243));
}

// One sample header; the loop is returned in frames, held unsigned until the data is read (FitLoop and the data
// block bring it into range).
void ReadSampleHeader(XmReader& in, uint32_t sampleHeaderSize, Sample& sample, uint32_t* loop) {
    uint32_t length = Dword(in);
    uint32_t loopStart = Dword(in);
    uint32_t loopLength = Dword(in);
    sample.volume = Byte(in);
    sample.finetune = static_cast<int8_t>(Byte(in));
    const uint8_t type = Byte(in);
    sample.panning = Byte(in);
    sample.relativeNote = static_cast<int8_t>(Byte(in));
    Byte(in); // reserved
    CopyBytes(in, sample.name, 22);
    Skip(in, sampleHeaderSize - 40);
    sample.loopType = (type & 3) == 0 ? 0 : (type & 1) ? 1 : 2;
    sample.is16Bit = type & 0x10 ? 1 : 0;
    if (sample.is16Bit) {
        length >>= 1;
        loopStart >>= 1;
        loopLength >>= 1;
    }
    sample.length = static_cast<int32_t>(length > 0x7FFFFFFFu ? 0x7FFFFFFFu : length);
    loop[0] = loopStart;
    loop[1] = loopLength;
}

// The sample headers of an instrument, then the samples' data; once the data runs into the end of the file
// (`cutShort`), the samples after it are empty.
bool ReadSamples(XmReader& in, const char* path, Instrument& instrument, int32_t index, uint32_t sampleHeaderSize,
                 uint32_t* loops, bool& cutShort) {
    for (int32_t s = 0; s < instrument.sampleCount; ++s) {
        if (!Has(in, sampleHeaderSize)) {
            SetModuleError("%s: truncated inside sample header %d of instrument %d", path, s, index);
            return false;
        }
        ReadSampleHeader(in, sampleHeaderSize, instrument.samples[s], &loops[2 * s]);
        if (in.cut) {
            SetModuleError("%s: truncated inside sample header %d of instrument %d", path, s, index);
            return false;
        }
    }
    for (int32_t s = 0; s < instrument.sampleCount; ++s) {
        Sample& sample = instrument.samples[s];
        if (cutShort) {
            sample.length = 0;
            sample.loopType = 0;
            continue;
        }
        if (!ReadSampleData(in, path, sample, loops[2 * s], loops[2 * s + 1], cutShort))
            return false;
    }
    return true;
}

// Returns false when the file is refused; sets `cutShort` when the sample data ran into the end of the file.
bool ReadInstrument(XmReader& in, const char* path, Instrument& instrument, int32_t index, bool& cutShort) {
    if (!Has(in, 29)) {
        SetModuleError("%s: truncated inside the header of instrument %d", path, index);
        return false;
    }
    const uint32_t headerSize = Dword(in);
    CopyBytes(in, instrument.name, 22);
    Byte(in); // instrument type
    const int32_t sampleCount = Word(in);
    if (headerSize < 29 || (sampleCount > 0 && headerSize < 243)) {
        SetModuleError("%s: instrument %d has a header size of %u, too small for its fields", path, index, headerSize);
        return false;
    }
    if (!Has(in, headerSize - 29)) {
        SetModuleError("%s: truncated inside the header of instrument %d", path, index);
        return false;
    }
    if (sampleCount == 0) {
        Skip(in, headerSize - 29);
        return true;
    }
    const uint32_t sampleHeaderSize = Dword(in);
    if (sampleHeaderSize < 40) {
        SetModuleError("%s: instrument %d has a sample header size of %u, below its 40 bytes", path, index,
                       sampleHeaderSize);
        return false;
    }
    ReadInstrumentFields(in, instrument, headerSize);
    if (in.cut) {
        SetModuleError("%s: truncated inside the header of instrument %d", path, index);
        return false;
    }

    instrument.samples = static_cast<Sample*>(std::calloc(sampleCount, sizeof(Sample)));
    if (!instrument.samples) {
        SetModuleError("%s: out of memory in instrument %d", path, index);
        return false;
    }
    instrument.sampleCount = sampleCount;
    // Every header comes before the first sample's data; each sample's loop waits here until its data is read.
    uint32_t* loops = static_cast<uint32_t*>(std::malloc(2 * sizeof(uint32_t) * size_t(sampleCount)));
    if (!loops) {
        SetModuleError("%s: out of memory in instrument %d", path, index);
        return false;
    }
    const bool read = ReadSamples(in, path, instrument, index, sampleHeaderSize, loops, cutShort);
    std::free(loops);
    return read;
}

// Everything after the file is in memory; the reader checks every field against the end.
bool ParseXm(XmReader& in, const char* path, Module* module) {
    module->isXm = 1;
    if (!Has(in, 336)) {
        SetModuleError("%s: truncated inside the XM header (%zu of 336 bytes)", path, in.size);
        return false;
    }
    Skip(in, 17);
    CopyBytes(in, module->name, 20);
    Skip(in, 1); // 0x1A
    CopyBytes(in, module->tracker, 20);
    module->formatVersion = Word(in);
    Skip(in, 4); // header size
    int32_t songLength = Word(in);
    module->restartPosition = Word(in);
    module->channelCount = Word(in);
    module->patternCount = Word(in);
    module->instrumentCount = Word(in);
    module->linearFrequencies = Word(in) & 1;
    module->defaultSpeed = Word(in);
    module->defaultBpm = Word(in);
    for (int k = 0; k < MaxOrders; ++k)
        module->orders[k] = Byte(in);
    if (in.cut) {
        SetModuleError("%s: truncated inside the XM header", path);
        return false;
    }
    // The song position wraps when it reaches songLength, so it must lie within the order table.
    module->songLength = songLength < 1 ? 1 : songLength > MaxOrders ? MaxOrders : songLength;

    if (module->channelCount < 1 || module->channelCount > MaxChannels) {
        SetModuleError("%s: %d channels, outside 1..%d", path, module->channelCount, MaxChannels);
        return false;
    }
    if (module->instrumentCount > MaxInstruments) {
        SetModuleError("%s: %d instruments, more than %d", path, module->instrumentCount, MaxInstruments);
        return false;
    }

    if (module->patternCount > 0) {
        module->patterns = static_cast<Pattern*>(std::calloc(module->patternCount, sizeof(Pattern)));
        if (!module->patterns) {
            SetModuleError("%s: out of memory", path);
            return false;
        }
    }
    for (int32_t p = 0; p < module->patternCount; ++p) {
        if (!ReadPattern(in, path, module, p))
            return false;
    }

    bool cutShort = false;
    for (int32_t i = 1; i <= module->instrumentCount && !cutShort; ++i) {
        if (!ReadInstrument(in, path, module->instruments[i], i, cutShort))
            return false;
    }
    return true;
}

} // namespace

bool LoadXmFile(const uint8_t* bytes, size_t size, const char* name, Module* module) {
    XmReader in{bytes, size, 0, false};
    return ParseXm(in, name, module);
}
