#include "xm_writer.h"

#include <algorithm>

namespace makedata {
namespace {

void Put16(std::vector<uint8_t>& out, int v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 0; s < 32; s += 8)
        out.push_back(uint8_t(v >> s));
}
void PutText(std::vector<uint8_t>& out, const std::string& text, size_t size) {
    for (size_t i = 0; i < size; ++i)
        out.push_back(i < text.size() ? uint8_t(text[i]) : 0);
}

std::vector<uint8_t> PackPattern(const XmPattern& p) {
    std::vector<uint8_t> out;
    for (const XmCell& c : p.cells) {
        uint8_t fields[5] = {uint8_t(c.note), uint8_t(c.instrument), uint8_t(c.volume), uint8_t(c.effect),
                             uint8_t(c.param)};
        uint8_t mask = 0x80;
        for (int k = 0; k < 5; ++k)
            if (fields[k])
                mask |= uint8_t(1 << k);
        if (mask == 0x9F) {
            // Every field present: the unpacked form, one byte shorter.
            out.insert(out.end(), fields, fields + 5);
            continue;
        }
        out.push_back(mask);
        for (int k = 0; k < 5; ++k)
            if (fields[k])
                out.push_back(fields[k]);
    }
    return out;
}

} // namespace

std::vector<uint8_t> WriteXm(const XmSong& song) {
    std::vector<uint8_t> out;
    PutText(out, "Extended Module: ", 17);
    PutText(out, song.name, 20);
    out.push_back(0x1A);
    PutText(out, "make-data", 20);
    Put16(out, 0x0104);
    Put32(out, 276); // header size counted from this field: 4 + 16 + 256 order bytes
    Put16(out, int(song.orders.size()));
    Put16(out, song.restart);
    Put16(out, song.channels);
    Put16(out, int(song.patterns.size()));
    Put16(out, int(song.instruments.size()));
    Put16(out, song.flags);
    Put16(out, song.speed);
    Put16(out, song.bpm);
    for (int i = 0; i < 256; ++i)
        out.push_back(i < int(song.orders.size()) ? uint8_t(song.orders[i]) : 0);

    for (const XmPattern& p : song.patterns) {
        std::vector<uint8_t> packed = p.packed ? *p.packed : PackPattern(p);
        Put32(out, 9);
        out.push_back(0);
        Put16(out, p.rows);
        Put16(out, int(packed.size()));
        out.insert(out.end(), packed.begin(), packed.end());
    }

    for (const XmInstrument& ins : song.instruments) {
        const size_t start = out.size();
        Put32(out, 263);
        PutText(out, ins.name, 22);
        out.push_back(0);
        Put16(out, int(ins.samples.size()));
        Put32(out, 40);
        for (int n = 0; n < 96; ++n)
            out.push_back(ins.sampleMap[n]);
        // Unused points: (0, 0) for volume, centred (0, 32) for panning.
        for (const XmEnvelope* e : {&ins.volumeEnvelope, &ins.panningEnvelope}) {
            for (int k = 0; k < 12; ++k) {
                bool used = k < int(e->points.size());
                Put16(out, used ? e->points[k].first : 0);
                Put16(out, used ? e->points[k].second : e == &ins.volumeEnvelope ? 0 : 32);
            }
        }
        const XmEnvelope &v = ins.volumeEnvelope, &p = ins.panningEnvelope;
        for (int b : {int(v.points.size()), int(p.points.size()), v.sustain, v.loopStart, v.loopEnd, p.sustain,
                      p.loopStart, p.loopEnd, v.type, p.type})
            out.push_back(uint8_t(b));
        for (int k = 0; k < 4; ++k)
            out.push_back(0); // vibrato type, sweep, depth, rate
        Put16(out, ins.fadeout);
        Put16(out, 0);
        while (out.size() < start + 263)
            out.push_back(0);
        for (const XmSample& s : ins.samples) {
            const int bytes = s.sixteenBit ? 2 : 1;
            Put32(out, uint32_t(s.data.size() * bytes));
            Put32(out, uint32_t(s.loopStart * bytes));
            Put32(out, uint32_t(s.loopLength * bytes));
            out.push_back(uint8_t(s.volume));
            out.push_back(uint8_t(int8_t(s.finetune)));
            int type = s.loopType >= 0 ? s.loopType : s.loopLength > 0 ? 1 : 0;
            out.push_back(uint8_t(type | (s.sixteenBit ? 0x10 : 0)));
            out.push_back(uint8_t(s.panning));
            out.push_back(uint8_t(int8_t(s.relativeNote)));
            out.push_back(0);
            PutText(out, ins.name, 22);
        }
        // Sample data as differences from the previous sample.
        for (const XmSample& s : ins.samples) {
            int previous = 0;
            for (int v : s.data) {
                if (s.sixteenBit)
                    Put16(out, v - previous);
                else
                    out.push_back(uint8_t(v - previous));
                previous = v;
            }
        }
    }
    return out;
}

} // namespace makedata
