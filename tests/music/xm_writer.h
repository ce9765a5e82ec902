#pragma once
// Writes small XM files byte by byte for the tests, following the file layout field by field.
#include "music/music.h"
#include "audio/mixer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "test_temp.h"

struct XmCell {
    int note = 0; // 0: none (written as a packed cell without note)
    int instrument = 0;
    int volume = 0;
    int effect = 0;
    int param = 0;
};

struct XmSampleSpec {
    std::vector<int> values;      // decoded values: -128..127 for 8-bit, -32768..32767 for 16-bit
    std::vector<uint8_t> rawData; // when not empty, written as the data block instead of encoding `values`
    bool sixteenBit = false;
    int type = -1; // full type byte; -1: from loopType and sixteenBit
    int loopType = 0;
    uint32_t lengthBytes = UINT32_MAX;      // UINT32_MAX: from the data
    uint32_t loopStart = 0, loopLength = 0; // in frames
    int volume = 64, finetune = 0, panning = 128, relativeNote = 0;
};

struct XmInstrumentSpec {
    uint32_t headerSize = 263;
    uint32_t sampleHeaderSize = 40;
    std::vector<XmSampleSpec> samples;
    std::vector<uint8_t> sampleMap = std::vector<uint8_t>(96, 0);
    std::vector<std::pair<int, int>> volumePoints, panningPoints;
    int volumeSustain = 0, volumeLoopStart = 0, volumeLoopEnd = 0;
    int panningSustain = 0, panningLoopStart = 0, panningLoopEnd = 0;
    int volumeType = 0, panningType = 0;
    int fadeout = 0;
};

struct XmPatternSpec {
    int rows = 64;
    std::vector<std::vector<XmCell>> cells; // [row][channel]; missing rows or channels are empty
    uint32_t headerLength = 9;
    bool unpacked = false;        // write every cell as five plain bytes
    std::vector<uint8_t> rawData; // with useRaw or when not empty, the packed data as is
    bool useRaw = false;
};

struct XmSpec {
    int channels = 1;
    int songLength = 1;
    std::vector<int> orders = {0};
    int restart = 0;
    int flags = 1;
    int speed = 6;
    int bpm = 125;
    uint32_t headerSize = 276;
    std::vector<XmPatternSpec> patterns = {XmPatternSpec{}};
    std::vector<XmInstrumentSpec> instruments;
    int patternCountOverride = -1, instrumentCountOverride = -1, channelCountOverride = -1;
};

inline void Put8(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
}
inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
    Put8(out, v);
    Put8(out, v >> 8);
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v);
    Put16(out, v >> 16);
}
inline void PutText(std::vector<uint8_t>& out, const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i)
        out.push_back(i < std::strlen(text) ? static_cast<uint8_t>(text[i]) : 0);
}

inline std::vector<uint8_t> PackPattern(const XmPatternSpec& p, int channels) {
    std::vector<uint8_t> data;
    for (int r = 0; r < p.rows; ++r) {
        for (int c = 0; c < channels; ++c) {
            XmCell cell;
            if (r < static_cast<int>(p.cells.size()) && c < static_cast<int>(p.cells[r].size()))
                cell = p.cells[r][c];
            if (p.unpacked) {
                for (int v : {cell.note, cell.instrument, cell.volume, cell.effect, cell.param})
                    Put8(data, v);
                continue;
            }
            uint8_t mask = 0x80 | (cell.note ? 1 : 0) | (cell.instrument ? 2 : 0) | (cell.volume ? 4 : 0) |
                           (cell.effect ? 8 : 0) | (cell.param ? 16 : 0);
            Put8(data, mask);
            if (cell.note)
                Put8(data, cell.note);
            if (cell.instrument)
                Put8(data, cell.instrument);
            if (cell.volume)
                Put8(data, cell.volume);
            if (cell.effect)
                Put8(data, cell.effect);
            if (cell.param)
                Put8(data, cell.param);
        }
    }
    return data;
}

inline std::vector<uint8_t> BuildXm(const XmSpec& spec) {
    std::vector<uint8_t> out;
    PutText(out, "Extended Module: ", 17);
    PutText(out, "test song", 20);
    Put8(out, 0x1A);
    PutText(out, "byte writer", 20);
    Put16(out, 0x0104);
    Put32(out, spec.headerSize);
    Put16(out, spec.songLength);
    Put16(out, spec.restart);
    Put16(out, spec.channelCountOverride >= 0 ? spec.channelCountOverride : spec.channels);
    Put16(out, spec.patternCountOverride >= 0 ? spec.patternCountOverride : spec.patterns.size());
    Put16(out, spec.instrumentCountOverride >= 0 ? spec.instrumentCountOverride : spec.instruments.size());
    Put16(out, spec.flags);
    Put16(out, spec.speed);
    Put16(out, spec.bpm);
    for (int i = 0; i < 256; ++i)
        Put8(out, i < static_cast<int>(spec.orders.size()) ? spec.orders[i] : 0);
    for (const XmPatternSpec& p : spec.patterns) {
        std::vector<uint8_t> data = p.useRaw || !p.rawData.empty() ? p.rawData : PackPattern(p, spec.channels);
        Put32(out, p.headerLength);
        Put8(out, 0);
        Put16(out, p.rows);
        Put16(out, data.size());
        for (uint32_t k = 9; k < p.headerLength; ++k)
            Put8(out, 0xEE);
        out.insert(out.end(), data.begin(), data.end());
    }
    for (const XmInstrumentSpec& in : spec.instruments) {
        size_t start = out.size();
        Put32(out, in.headerSize);
        PutText(out, "instrument", 22);
        Put8(out, 0);
        Put16(out, in.samples.size());
        if (in.samples.empty()) {
            while (out.size() < start + in.headerSize)
                Put8(out, 0xEE);
            continue;
        }
        Put32(out, in.sampleHeaderSize);
        for (int k = 0; k < 96; ++k)
            Put8(out, in.sampleMap[k]);
        for (const auto* points : {&in.volumePoints, &in.panningPoints}) {
            for (int k = 0; k < 12; ++k) {
                Put16(out, k < static_cast<int>(points->size()) ? (*points)[k].first : 0);
                Put16(out, k < static_cast<int>(points->size()) ? (*points)[k].second : 0);
            }
        }
        for (int v : {static_cast<int>(in.volumePoints.size()), static_cast<int>(in.panningPoints.size()),
                      in.volumeSustain, in.volumeLoopStart, in.volumeLoopEnd, in.panningSustain, in.panningLoopStart,
                      in.panningLoopEnd, in.volumeType, in.panningType, 0, 0, 0, 0})
            Put8(out, v);
        Put16(out, in.fadeout);
        Put16(out, 0);
        while (out.size() < start + in.headerSize)
            Put8(out, 0xEE);
        for (const XmSampleSpec& s : in.samples) {
            size_t frameBytes = s.sixteenBit ? 2 : 1;
            uint32_t bytes = s.lengthBytes != UINT32_MAX ? s.lengthBytes
                             : !s.rawData.empty()        ? s.rawData.size()
                                                         : s.values.size() * frameBytes;
            Put32(out, bytes);
            Put32(out, s.loopStart * frameBytes);
            Put32(out, s.loopLength * frameBytes);
            Put8(out, s.volume);
            Put8(out, s.finetune);
            Put8(out, s.type >= 0 ? s.type : (s.loopType & 3) | (s.sixteenBit ? 0x10 : 0));
            Put8(out, s.panning);
            Put8(out, s.relativeNote);
            Put8(out, 0);
            PutText(out, "sample", 22);
            for (uint32_t k = 40; k < in.sampleHeaderSize; ++k)
                Put8(out, 0xEE);
        }
        for (const XmSampleSpec& s : in.samples) {
            if (!s.rawData.empty()) {
                out.insert(out.end(), s.rawData.begin(), s.rawData.end());
                continue;
            }
            int previous = 0;
            for (int v : s.values) {
                if (s.sixteenBit)
                    Put16(out, static_cast<uint16_t>(v - previous));
                else
                    Put8(out, static_cast<uint8_t>(v - previous));
                previous = v;
            }
        }
    }
    return out;
}

inline int LoadXm(const std::string& name, const XmSpec& spec) {
    return LoadModule(WriteTempFile(name, BuildXm(spec)).c_str());
}

// Empties the player between tests: no modules, fresh channels, the values of program start.
inline void ResetMusicState() {
    ReleaseMusic();
    std::memset(channels, 0, sizeof channels);
    player.channelCount = 4;
    player.ticksPerSecond = 50.0f;
    player.samplesPerTick = 882;
    player.masterVolume = 1.0f;
    player.speed = 6;
    player.tick = player.row = player.orderPosition = 0;
    player.patternLoopCount = player.patternLoopRow = player.patternDelay = 0;
    player.songEnded = 0;
    player.writePosition = 0;
    player.blockFrames = BlockFrames;
    SetFadeMode(-1);
    SetRepeatMode(0);
    BuildPeriodTables();
}

// A plain instrument with one 8-bit sample of `frames` frames of a ramp, mapped to every note.
inline XmInstrumentSpec RampInstrument(int frames, int volume = 64) {
    XmInstrumentSpec in;
    XmSampleSpec s;
    for (int i = 0; i < frames; ++i)
        s.values.push_back((i % 200) - 100);
    s.volume = volume;
    in.samples.push_back(s);
    return in;
}
