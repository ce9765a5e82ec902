#pragma once
// Builds MOD files byte by byte for the tests, with every field where the format puts it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_temp.h"

struct ModCellSpec {
    int sample = 0;
    int period = 0;
    int effect = 0;
    int param = 0;
};

struct ModSampleSpec {
    int lengthWords = 0;
    int finetuneByte = 0;
    int volumeByte = 0;
    int loopStartWords = 0;
    int loopLengthWords = 0;
    std::vector<uint8_t> data; // written after the patterns; may be shorter than the length to cut the file
};

struct ModFile {
    std::string title = "test module";
    std::string signature = "M.K.";
    int songLength = 1;
    uint8_t orders[128] = {};
    ModSampleSpec samples[32]; // 1..31 used
    int patternsStored = 1;
    int channels = 4;
    std::vector<ModCellSpec> cells; // patternsStored x 64 x channels

    explicit ModFile(int channelCount = 4, int patterns = 1, const char* sig = "M.K.")
        : signature(sig), patternsStored(patterns), channels(channelCount) {
        cells.resize(static_cast<size_t>(patterns) * 64 * channelCount);
    }

    ModCellSpec& Cell(int pattern, int row, int channel) {
        return cells[(static_cast<size_t>(pattern) * 64 + row) * channels + channel];
    }

    // A sample of `frames` frames (an even number) whose bytes all hold `value`.
    void FlatSample(int n, int frames, int8_t value, int volume = 64, int finetuneByte = 0) {
        samples[n].lengthWords = frames / 2;
        samples[n].volumeByte = volume;
        samples[n].finetuneByte = finetuneByte;
        samples[n].data.assign(frames, static_cast<uint8_t>(value));
    }

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out(1084, 0);
        for (size_t i = 0; i < title.size() && i < 20; ++i)
            out[i] = static_cast<uint8_t>(title[i]);
        for (int n = 1; n <= 31; ++n) {
            uint8_t* h = &out[20 + (n - 1) * 30];
            std::string name = "sample " + std::to_string(n);
            for (size_t i = 0; i < name.size(); ++i)
                h[i] = static_cast<uint8_t>(name[i]);
            const ModSampleSpec& s = samples[n];
            h[22] = static_cast<uint8_t>(s.lengthWords >> 8);
            h[23] = static_cast<uint8_t>(s.lengthWords);
            h[24] = static_cast<uint8_t>(s.finetuneByte);
            h[25] = static_cast<uint8_t>(s.volumeByte);
            h[26] = static_cast<uint8_t>(s.loopStartWords >> 8);
            h[27] = static_cast<uint8_t>(s.loopStartWords);
            h[28] = static_cast<uint8_t>(s.loopLengthWords >> 8);
            h[29] = static_cast<uint8_t>(s.loopLengthWords);
        }
        out[950] = static_cast<uint8_t>(songLength);
        out[951] = 127;
        for (int i = 0; i < 128; ++i)
            out[952 + i] = orders[i];
        for (int i = 0; i < 4; ++i)
            out[1080 + i] = static_cast<uint8_t>(signature[i]);
        for (const ModCellSpec& c : cells) {
            out.push_back(static_cast<uint8_t>((c.sample & 0xF0) | ((c.period >> 8) & 0x0F)));
            out.push_back(static_cast<uint8_t>(c.period & 0xFF));
            out.push_back(static_cast<uint8_t>(((c.sample & 0x0F) << 4) | (c.effect & 0x0F)));
            out.push_back(static_cast<uint8_t>(c.param));
        }
        for (int n = 1; n <= 31; ++n)
            out.insert(out.end(), samples[n].data.begin(), samples[n].data.end());
        return out;
    }
};
