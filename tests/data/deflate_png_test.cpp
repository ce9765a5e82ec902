// Our DEFLATE compressor and PNG writer, checked against zlib and libpng as independent decoders.
#include "deflate.h"
#include "png_writer.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>

using namespace makedata;

namespace {

std::vector<uint8_t> ZlibInflate(const std::vector<uint8_t>& z, size_t expected) {
    std::vector<uint8_t> out(expected + 16);
    uLongf size = uLongf(out.size());
    int rc = uncompress(out.data(), &size, z.data(), uLong(z.size()));
    EXPECT_EQ(rc, Z_OK);
    out.resize(size);
    return out;
}

struct Decoded {
    int width = 0, height = 0, colourType = -1;
    std::vector<uint8_t> rgba; // libpng's expansion to 8-bit RGBA
};

Decoded LibpngDecode(const std::vector<uint8_t>& file) {
    Decoded d;
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, file.data(), file.size()))
        return d;
    img.format = PNG_FORMAT_RGBA;
    d.rgba.resize(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, d.rgba.data(), 0, nullptr)) {
        d.rgba.clear();
        return d;
    }
    d.width = int(img.width);
    d.height = int(img.height);
    d.colourType = file.size() > 25 ? file[25] : -1;
    return d;
}

std::vector<uint8_t> Inputs(int kind, size_t n) {
    std::mt19937 rng(1234 + kind);
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        switch (kind) {
        case 0:
            v[i] = uint8_t(rng());
            break; // incompressible
        case 1:
            v[i] = uint8_t("the quick brown fox "[i % 20]);
            break; // long repeats
        case 2:
            v[i] = uint8_t(i / 1000);
            break; // long runs
        case 3:
            v[i] = uint8_t((rng() % 4) + (i % 251 == 0 ? 100 : 0));
            break; // skewed alphabet
        default:
            v[i] = uint8_t(i * i >> 7);
            break;
        }
    }
    return v;
}

} // namespace

TEST(Checksums, MatchZlib) {
    for (size_t n : {size_t(0), size_t(1), size_t(5551), size_t(5552), size_t(5553), size_t(100000)}) {
        std::vector<uint8_t> v = Inputs(0, n);
        EXPECT_EQ(Crc32(v), uint32_t(crc32(0, v.data(), uInt(n)))) << n;
        EXPECT_EQ(Adler32(v), uint32_t(adler32(1, v.data(), uInt(n)))) << n;
    }
    // All 0xFF bytes push Adler-32's sums hardest before each reduction.
    std::vector<uint8_t> ff(20000, 0xFF);
    EXPECT_EQ(Adler32(ff), uint32_t(adler32(1, ff.data(), uInt(ff.size()))));
    // The CRC-32 check value of "123456789".
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc32(check), 0xCBF43926u);
}

TEST(Deflate, ZlibInflatesWhatWeCompress) {
    for (int kind = 0; kind < 5; ++kind)
        for (size_t n : {size_t(0), size_t(1), size_t(3), size_t(258), size_t(40000), size_t(300000)}) {
            std::vector<uint8_t> in = Inputs(kind, n);
            std::vector<uint8_t> z = ZlibCompress(in);
            EXPECT_EQ(ZlibInflate(z, n), in) << "kind " << kind << " size " << n;
            if (kind == 1 && n >= 40000) {
                EXPECT_LT(z.size(), n / 50) << "repeats should compress well";
            }
            if (kind == 0 && n >= 40000) {
                EXPECT_LT(z.size(), n + n / 50) << "random data should not grow much";
            }
        }
    // Raw DEFLATE through zlib's inflate with a negative window (no wrapper).
    std::vector<uint8_t> in = Inputs(4, 70000);
    std::vector<uint8_t> raw = Deflate(in, 8);
    z_stream s{};
    ASSERT_EQ(inflateInit2(&s, -15), Z_OK);
    std::vector<uint8_t> out(in.size() + 10);
    s.next_in = raw.data();
    s.avail_in = uInt(raw.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    inflateEnd(&s);
    EXPECT_EQ(out, in);
}

TEST(PngWriter, LibpngReadsEveryColourTypeAndSplitIdat) {
    const int w = 37, h = 23;
    for (int type : {2, 3, 6}) {
        PngPicture p;
        p.width = w;
        p.height = h;
        p.colourType = type;
        int bpp = type == 6 ? 4 : type == 3 ? 1 : 3;
        std::mt19937 rng(type);
        for (int i = 0; i < w * h * bpp; ++i)
            p.samples.push_back(uint8_t(i % 7 == 0 ? rng() : (i * 3) & 0xFF));
        if (type == 3)
            for (int i = 0; i < 256 * 3; ++i)
                p.palette.push_back(uint8_t(i * 5));
        for (size_t split : {size_t(0), size_t(50)}) {
            std::vector<uint8_t> file = EncodePng(p, split);
            Decoded d = LibpngDecode(file);
            ASSERT_EQ(d.width, w);
            ASSERT_EQ(d.height, h);
            EXPECT_EQ(d.colourType, type);
            for (int i = 0; i < w * h; ++i) {
                uint8_t expect[4];
                if (type == 3) {
                    int idx = p.samples[i];
                    expect[0] = p.palette[idx * 3];
                    expect[1] = p.palette[idx * 3 + 1];
                    expect[2] = p.palette[idx * 3 + 2];
                    expect[3] = 255;
                } else {
                    for (int k = 0; k < 3; ++k)
                        expect[k] = p.samples[i * bpp + k];
                    expect[3] = type == 6 ? p.samples[i * 4 + 3] : 255;
                }
                ASSERT_EQ(0, std::memcmp(expect, &d.rgba[i * 4], 4)) << "type " << type << " pixel " << i;
            }
            // Padding to an exact size keeps the picture readable and identical.
            std::optional<std::vector<uint8_t>> padded = PadPng(file, file.size() + 1000);
            ASSERT_TRUE(padded);
            EXPECT_EQ(padded->size(), file.size() + 1000);
            EXPECT_EQ(LibpngDecode(*padded).rgba, d.rgba);
            EXPECT_TRUE(PadPng(file, file.size() + kMinPngPadding));
            EXPECT_FALSE(PadPng(file, file.size() + kMinPngPadding - 1));
        }
    }
}
