// A small DEFLATE compressor with a zlib wrapper, plus the two checksums PNG and zlib need.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace makedata {

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);
uint32_t Adler32(std::span<const uint8_t> bytes);

// Raw DEFLATE: LZ77 over a 32 KiB window with hash chains, dynamic Huffman blocks.
// maxChain bounds the chain walk per position (more finds longer matches, slower).
std::vector<uint8_t> Deflate(std::span<const uint8_t> input, int maxChain = 128);

// zlib stream: 2-byte header, raw DEFLATE, Adler-32 of the input (big-endian).
std::vector<uint8_t> ZlibCompress(std::span<const uint8_t> input, int maxChain = 128);

} // namespace makedata
