#include "deflate_writer.h"

#include <zlib.h>

#include <algorithm>

void BitWriter::Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        pending |= ((value >> i) & 1) << used;
        if (++used == 8) {
            bytes.push_back(static_cast<uint8_t>(pending));
            pending = 0;
            used = 0;
        }
    }
}

void BitWriter::Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i)
        Bits((code >> i) & 1, 1);
}

void BitWriter::Align() {
    if (used)
        Bits(0, 8 - used);
}

void BitWriter::FixedSymbol(int symbol) {
    if (symbol < 144)
        Code(0x30 + symbol, 8);
    else if (symbol < 256)
        Code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        Code(symbol - 256, 7);
    else
        Code(0xC0 + symbol - 280, 8);
}

std::vector<uint8_t> BitWriter::Finish() {
    Align();
    return bytes;
}

std::vector<uint8_t> WrapZlib(const std::vector<uint8_t>& deflate, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(deflate.size() + 2);
    out[0] = 0x78;
    out[1] = 0x9C;
    std::copy(deflate.begin(), deflate.end(), out.begin() + 2);
    uLong adler = adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(adler >> shift));
    return out;
}

std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data, int level) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(length);
    compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()), level);
    out.resize(length);
    return out;
}
