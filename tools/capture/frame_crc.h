#pragma once
#include <cstddef>
#include <cstdint>

// zlib's CRC-32 of `bytes` bytes, continuing from `crc` (0 to start), as crc32() computes it; several times faster
// than the table-driven Crc32 on processors with carry-less multiplication: the frame log takes one of every
// 1,228,800-byte frame.
uint32_t FrameCrc(uint32_t crc, const void* data, size_t bytes);
