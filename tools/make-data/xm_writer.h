// A writer for XM modules: header, packed patterns, instruments with one 8-bit sample each.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace makedata {

struct XmCell {
    int note = 0; // 0 none, 1..96 C-0..B-7, 97 key-off
    int instrument = 0;
    int volume = 0; // volume column byte (0x10..0x50 sets volume), 0 for none
    int effect = 0;
    int param = 0;
    bool Empty() const { return !note && !instrument && !volume && !effect && !param; }
};

struct XmPattern {
    int rows = 64;
    int channels = 8;
    std::vector<XmCell> cells; // rows × channels
    XmCell& At(int row, int channel) { return cells[size_t(row) * channels + channel]; }
};

struct XmEnvelope {
    std::vector<std::pair<int, int>> points; // (tick, value 0..64), at most 12
    int sustain = 0;
    int type = 0; // bit 0 on, bit 1 sustain, bit 2 loop
};

struct XmInstrument {
    std::string name;
    std::vector<int8_t> data;          // signed 8-bit samples
    int loopStart = 0, loopLength = 0; // in samples; loopLength 0 for a one-shot
    int volume = 64;
    int panning = 255;
    int relativeNote = 0;
    int finetune = 0;
    int fadeout = 0;
    XmEnvelope volumeEnvelope;
};

struct XmSong {
    std::string name;
    int channels = 8;
    int speed = 6, bpm = 125;
    std::vector<int> orders;
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
};

std::vector<uint8_t> WriteXm(const XmSong& song);

} // namespace makedata
