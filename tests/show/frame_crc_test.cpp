// The frame log's CRC against zlib's crc32 on every length around the folding's block sizes, from any starting
// value, and on whole frames.
#include "frame_crc.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

uint32_t Zlib(uint32_t crc, const std::vector<uint8_t>& bytes, size_t offset, size_t count) {
    return static_cast<uint32_t>(crc32(crc, bytes.data() + offset, static_cast<uInt>(count)));
}

TEST(FrameCrc, AgreesWithZlib) {
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(640 * 480 * 4 + 64);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    for (size_t count = 0; count < 300; ++count)
        for (size_t offset : {0u, 1u, 13u}) {
            const uint32_t start = count % 3 == 0 ? 0u : static_cast<uint32_t>(random());
            ASSERT_EQ(FrameCrc(start, bytes.data() + offset, count), Zlib(start, bytes, offset, count))
                << count << " bytes at offset " << offset;
        }
    EXPECT_EQ(FrameCrc(0, bytes.data(), 640 * 480 * 4), Zlib(0, bytes, 0, 640 * 480 * 4));
    EXPECT_EQ(FrameCrc(0, bytes.data() + 3, 640 * 480 * 4 + 61), Zlib(0, bytes, 3, 640 * 480 * 4 + 61));
    // A frame of zero words and one of all ones: the register starts from the inverted value, not from the data.
    for (uint8_t fill : {0x00, 0xFF}) {
        const std::vector<uint8_t> frame(640 * 480 * 4, fill);
        EXPECT_EQ(FrameCrc(0, frame.data(), frame.size()), Zlib(0, frame, 0, frame.size())) << int(fill);
    }
}

} // namespace
