// Tiny helpers to write DEFLATE streams bit by bit, for streams no encoder would make.
#pragma once

#include <cstdint>
#include <vector>

struct BitWriter {
    std::vector<uint8_t> bytes;
    uint32_t pending = 0;
    int used = 0;

    // Value bits, least significant first (header fields, extra bits).
    void Bits(uint32_t value, int count);
    // A Huffman code, most significant bit first.
    void Code(uint32_t code, int length);
    // Pads with zero bits to the next byte boundary.
    void Align();
    // Fixed-code literal or end-of-block (0..287), by the fixed code table.
    void FixedSymbol(int symbol);
    std::vector<uint8_t> Finish();
};

// A zlib stream: header 78 9C, the DEFLATE body, the Adler-32 of data (from zlib) big-endian.
std::vector<uint8_t> WrapZlib(const std::vector<uint8_t>& deflate, const std::vector<uint8_t>& data);

// zlib's own compress2 at the given level.
std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data, int level);
