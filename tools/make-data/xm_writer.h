// A writer for XM modules: header, packed patterns, instruments with their samples. make-data writes the song
// with it, and the tests write their small modules with it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace makedata {

struct XmCell {
    int note = 0; // 0 none, 1..96 C-0..B-7, 97 key-off
    int instrument = 0;
    int volume = 0; // volume column byte (0x10..0x50 sets volume), 0 for none
    int effect = 0;
    int param = 0;
};

struct XmPattern {
    int rows = 64;
    int channels = 8;
    std::vector<XmCell> cells;                  // rows × channels
    std::optional<std::vector<uint8_t>> packed; // when set, written as the pattern data instead of the cells
    XmCell& At(int row, int channel) { return cells[size_t(row) * channels + channel]; }
};

struct XmEnvelope {
    std::vector<std::pair<int, int>> points; // (tick, value 0..64), at most 12
    int sustain = 0;
    int type = 0; // bit 0 on, bit 1 sustain, bit 2 loop
    int loopStart = 0, loopEnd = 0;
};

struct XmSample {
    std::vector<int> data;             // -128..127, or -32768..32767 when sixteenBit
    int loopStart = 0, loopLength = 0; // in samples; loopLength 0 for a one-shot
    int loopType = -1;                 // type bits 0..1; -1: forward when loopLength > 0
    bool sixteenBit = false;
    int volume = 64;
    int panning = 255;
    int relativeNote = 0;
    int finetune = 0;
};

struct XmInstrument {
    std::string name;
    std::vector<XmSample> samples;
    std::vector<uint8_t> sampleMap = std::vector<uint8_t>(96, 0); // sample of each note
    XmEnvelope volumeEnvelope, panningEnvelope;
    int fadeout = 0;
};

struct XmSong {
    std::string name;
    int channels = 8;
    int flags = 0; // bit 0: linear frequency table
    int restart = 0;
    int speed = 6, bpm = 125;
    std::vector<int> orders;
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
};

std::vector<uint8_t> WriteXm(const XmSong& song);

} // namespace makedata
