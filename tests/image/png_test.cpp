// LoadPng against libpng on the corpus and on files libpng writes, and on hand-built files for the cases no
// writer makes (bad CRCs, odd filter bytes, missing chunks, alpha modes).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "deflate_writer.h"
#include "image/png.h"
#include "png_writer.h"
#include "test_temp.h"

#include <png.h>

namespace fs = std::filesystem;

namespace {

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

fs::path WriteTemp(const std::string& name, const Bytes& bytes) {
    fs::path path = TestTempDir() / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

struct Loaded {
    bool ok = false;
    Image image{};
    Bytes pixels;
    std::string error;
};

Loaded Load(const fs::path& path, int mode = 0) {
    Loaded l;
    l.ok = LoadPng(path.string().c_str(), &l.image, mode);
    if (l.ok) {
        size_t n = size_t(l.image.width) * l.image.height * (l.image.isGrey ? 1 : 4);
        l.pixels.assign(l.image.pixels, l.image.pixels + n);
        std::free(l.image.pixels);
        l.image.pixels = nullptr;
    } else {
        l.error = PngError();
        EXPECT_EQ(l.image.pixels, nullptr);
        EXPECT_NE(l.error.find(path.string()), std::string::npos) << "the reason should name the file: " << l.error;
    }
    return l;
}

Loaded LoadBytes(const std::string& name, const Bytes& file, int mode = 0) {
    return Load(WriteTemp(name, file), mode);
}

// What the picture must hold, from libpng's raw samples: grey stays one byte, RGB gains alpha 255, palette
// indices become opaque colours (entries the PLTE does not supply read as zeros), RGBA is kept.
Bytes Expected(const LibpngImage& p) {
    Bytes out;
    size_t count = size_t(p.width) * p.height;
    for (size_t i = 0; i < count; ++i) {
        switch (p.colourType) {
        case 0:
            out.push_back(p.samples[i]);
            break;
        case 2:
            out.insert(out.end(), {p.samples[3 * i], p.samples[3 * i + 1], p.samples[3 * i + 2], 255});
            break;
        case 3: {
            size_t e = size_t(p.samples[i]) * 3;
            for (int k = 0; k < 3; ++k)
                out.push_back(e + k < p.palette.size() ? p.palette[e + k] : 0);
            out.push_back(255);
            break;
        }
        case 6:
            out.insert(out.end(), p.samples.begin() + 4 * i, p.samples.begin() + 4 * i + 4);
            break;
        }
    }
    return out;
}

bool Supported(const Bytes& file) {
    if (file.size() < 33)
        return false;
    int depth = file[24], colour = file[25], interlace = file[28];
    uint32_t height = uint32_t(file[20]) << 24 | file[21] << 16 | file[22] << 8 | file[23];
    return depth == 8 && height <= 5551 && interlace == 0 && (colour == 0 || colour == 2 || colour == 3 || colour == 6);
}

TEST(LoadPng, CorpusMatchesLibpngOrIsRefused) {
    int matched = 0, refused = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(QUIMBLES_CORPUS_DIR) / "png")) {
        if (entry.path().extension() != ".png")
            continue;
        std::string name = entry.path().filename().string();
        SCOPED_TRACE(entry.path().string());
        Bytes file = ReadFile(entry.path());
        Loaded ours = Load(entry.path());
        LibpngImage theirs;
        bool libpngOk = ReadWithLibpng(entry.path().string(), &theirs);
        if (!Supported(file)) {
            EXPECT_FALSE(ours.ok) << "outside the supported subset but decoded";
            ++refused;
            continue;
        }
        if (!libpngOk) {
            // The one supported-subset file libpng refuses has a damaged IHDR CRC: no chunk after it is read,
            // so the 32x32 grey picture is all zero samples.
            EXPECT_EQ(name, "xhdn0g08.png");
            ASSERT_TRUE(ours.ok) << ours.error;
            EXPECT_EQ(ours.image.width, 32);
            EXPECT_EQ(ours.image.height, 32);
            EXPECT_EQ(ours.image.isGrey, 1);
            EXPECT_EQ(ours.pixels, Bytes(32 * 32, 0));
            ++matched;
            continue;
        }
        if (!ours.ok) {
            ADD_FAILURE() << ours.error;
            continue;
        }
        EXPECT_EQ(ours.image.width, int(theirs.width));
        EXPECT_EQ(ours.image.height, int(theirs.height));
        EXPECT_EQ(ours.image.isGrey, theirs.colourType == 0);
        EXPECT_EQ(ours.image.hasAlpha, theirs.colourType == 6);
        EXPECT_TRUE(ours.pixels == Expected(theirs)) << "pixels differ";
        ++matched;
    }
    std::printf("%d corpus files match libpng, %d refused as unsupported\n", matched, refused);
    EXPECT_GE(matched, 60);
    EXPECT_GE(refused, 100);
}

// Pixels of a test picture: smooth gradients with some noise, so every filter has work to do.
Bytes TestSamples(uint32_t width, uint32_t height, int channels, uint32_t seed) {
    Bytes s;
    uint32_t state = seed;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                state = state * 1664525u + 1013904223u;
                uint32_t noise = (state >> 24) & (x % 7 == 0 ? 0xFF : 0x07);
                s.push_back(static_cast<uint8_t>(x * (c + 1) + y * 3 + noise));
            }
    return s;
}

TEST(LoadPng, FilesWrittenByLibpngRoundTrip) {
    // Every colour type with every single filter and with libpng's adaptive choice; small IDAT buffers split the
    // data over many chunks.
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    const struct {
        int colourType;
        int channels;
    } kinds[] = {{0, 1}, {2, 3}, {3, 1}, {6, 4}};
    Bytes palette;
    for (int i = 0; i < 256; ++i)
        palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 5)});
    int n = 0;
    for (auto kind : kinds)
        for (int filter : filters)
            for (size_t idat : {size_t(64), size_t(1) << 16}) {
                uint32_t width = 37 + n % 5, height = 23;
                Bytes samples = TestSamples(width, height, kind.channels, n);
                fs::path path = TestTempDir() / ("libpng-" + std::to_string(n++) + ".png");
                ASSERT_TRUE(WriteWithLibpng(path.string(), width, height, kind.colourType, samples, palette, filter,
                                            idat, kind.colourType == 3));
                LibpngImage truth;
                truth.width = width, truth.height = height, truth.colourType = kind.colourType;
                truth.samples = samples;
                truth.palette = palette;
                SCOPED_TRACE(path.string());
                Loaded ours = Load(path);
                ASSERT_TRUE(ours.ok) << ours.error;
                EXPECT_EQ(ours.image.width, int(width));
                EXPECT_EQ(ours.image.height, int(height));
                EXPECT_EQ(ours.image.isGrey, kind.colourType == 0);
                EXPECT_EQ(ours.image.hasAlpha, kind.colourType == 6);
                // Palette pictures carry a tRNS chunk here: still opaque.
                EXPECT_TRUE(ours.pixels == Expected(truth));
                // An RGBA picture keeps its alpha whatever the mode.
                if (kind.colourType == 6) {
                    for (int mode : {1, 2, 3, 7})
                        EXPECT_TRUE(Load(path, mode).pixels == ours.pixels);
                }
            }
}

// A small RGB file of the given pixels, one row, filter 0.
Bytes RgbFile(const Bytes& rgb) {
    PngBuilder b;
    b.Header(static_cast<uint32_t>(rgb.size() / 3), 1, 8, 2);
    b.Chunk("IDAT", CompressRows({rgb}, {0}));
    b.End();
    return b.bytes;
}

uint8_t AlphaOf(const Bytes& rgb, int mode, Bytes* rgba = nullptr) {
    Loaded l = LoadBytes("alpha.png", RgbFile(rgb), mode);
    EXPECT_TRUE(l.ok) << l.error;
    if (rgba)
        *rgba = l.pixels;
    return l.pixels.size() == 4 ? l.pixels[3] : 0xEE;
}

TEST(LoadPng, AlphaModesOfRgbPixels) {
    for (int mode : {0, 6})
        EXPECT_EQ(AlphaOf({10, 20, 30}, mode), 255);
    EXPECT_EQ(AlphaOf({10, 20, 30}, 3), 128);
    EXPECT_EQ(AlphaOf({10, 20, 30}, 4), 70);
    EXPECT_EQ(AlphaOf({10, 20, 30}, 5), 150);
    // Dark key: R + G + B below 10.
    EXPECT_EQ(AlphaOf({3, 3, 3}, 1), 0);
    EXPECT_EQ(AlphaOf({4, 3, 3}, 1), 255);
    // Luminance key, by hand: (0, 128, 0) has L = 128 * 0.7 / 255 = 0.3514, (L - 0.2) * 510 = 77.2.
    EXPECT_EQ(AlphaOf({0, 0, 0}, 2), 0);
    EXPECT_EQ(AlphaOf({255, 255, 255}, 2), 255);
    EXPECT_EQ(AlphaOf({0, 128, 0}, 2), 77);
    // (255, 0, 0): L = 0.2 in single precision is 0.200000003 > 0.2, and (L - 0.2) * 510 truncates to 0.
    EXPECT_EQ(AlphaOf({255, 0, 0}, 2), 0);
    // (0, 75, 0) and (0, 80, 0): exactly 3 and 10 in rational arithmetic. With 0.2, 0.7, 0.1 and 1/255 as plain
    // doubles the products land just below and truncate to 2 and 9; with the single-precision constants they land
    // just above (worked out separately, outside this code), so 3 and 10.
    EXPECT_EQ(AlphaOf({0, 75, 0}, 2), 3);
    EXPECT_EQ(AlphaOf({0, 80, 0}, 2), 10);
    // Above 0.7 opaque: (255, 255, 0) has L = 0.9.
    EXPECT_EQ(AlphaOf({255, 255, 0}, 2), 255);
    Bytes rgba;
    // Magenta key: near-magenta pixels vanish entirely.
    EXPECT_EQ(AlphaOf({255, 0, 255}, 7, &rgba), 0);
    EXPECT_EQ(rgba, Bytes({0, 0, 0, 0}));
    EXPECT_EQ(AlphaOf({253, 2, 254}, 7, &rgba), 0);
    EXPECT_EQ(rgba, Bytes({0, 0, 0, 0}));
    EXPECT_EQ(AlphaOf({252, 0, 255}, 7, &rgba), 255);
    EXPECT_EQ(rgba, Bytes({252, 0, 255, 255}));
    // Only the low 8 bits select the mode; modes 8..255 give opaque pixels.
    EXPECT_EQ(AlphaOf({3, 3, 3}, 256 + 1), 0);
    EXPECT_EQ(AlphaOf({10, 20, 30}, 8), 255);
    EXPECT_EQ(AlphaOf({10, 20, 30}, 255), 255);
}

TEST(LoadPng, FilterBytesByHand) {
    // Two rows of three grey pixels. Row 0 raw 10 20 30; row 1 raw 1 2 3.
    auto decode = [](uint8_t f0, uint8_t f1) {
        PngBuilder b;
        b.Header(3, 2, 8, 0);
        b.Chunk("IDAT", CompressRows({{10, 20, 30}, {1, 2, 3}}, {f0, f1}));
        b.End();
        Loaded l = LoadBytes("filter.png", b.bytes);
        EXPECT_TRUE(l.ok) << l.error;
        return l.pixels;
    };
    EXPECT_EQ(decode(0, 0), Bytes({10, 20, 30, 1, 2, 3}));
    // Sub: 10, 30, 60; then 1, 3, 6.
    EXPECT_EQ(decode(1, 1), Bytes({10, 30, 60, 1, 3, 6}));
    // Up in row 0 is a copy; row 1: 11, 22, 33.
    EXPECT_EQ(decode(2, 2), Bytes({10, 20, 30, 11, 22, 33}));
    // Average: row 0: 10, 20 + 5 = 25, 30 + 12 = 42; row 1: 1 + 5 = 6, 2 + (6 + 25) / 2 = 17, 3 + (17 + 42) / 2 = 32.
    EXPECT_EQ(decode(3, 3), Bytes({10, 25, 42, 6, 17, 32}));
    // Paeth in row 0 equals Sub (10, 30, 60). Row 1: b = 10 -> 11; a = 11, b = 30, c = 10: p = 31, pa = 20,
    // pb = 1, pc = 21 -> b: 2 + 30 = 32; a = 32, b = 60, c = 30: p = 62, pa = 30, pb = 2, pc = 32 -> b: 63.
    EXPECT_EQ(decode(4, 4), Bytes({10, 30, 60, 11, 32, 63}));
    // Over (10, 20, 30): a = 11, b = 20, c = 10: p = 21, pa = 10, pb = 1, pc = 11 -> b: 22; then 33.
    EXPECT_EQ(decode(0, 4), Bytes({10, 20, 30, 11, 22, 33}));
    // Filter bytes above 4 are Paeth too.
    EXPECT_EQ(decode(7, 7), decode(4, 4));
    EXPECT_EQ(decode(0, 255), decode(0, 4));

    EXPECT_EQ(PaethPredictor(11, 20, 10), 20);
    EXPECT_EQ(PaethPredictor(10, 10, 10), 10);
    EXPECT_EQ(PaethPredictor(50, 60, 100), 50);  // p = 10: pa = 40, pb = 50, pc = 90
    EXPECT_EQ(PaethPredictor(100, 60, 50), 100); // p = 110: pa = 10, pb = 50, pc = 60
    EXPECT_EQ(PaethPredictor(50, 100, 60), 100); // p = 90: pa = 40, pb = 10, pc = 30
    EXPECT_EQ(PaethPredictor(60, 50, 55), 55);   // p = 55: pa = 5, pb = 5, pc = 0
    EXPECT_EQ(PaethPredictor(0, 255, 255), 0);
}

TEST(LoadPng, ChunkCrcMatchesZlib) {
    Bytes data = TestSamples(100, 3, 1, 9);
    for (size_t n : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(300)}) {
        const uint8_t type[4] = {'I', 'D', 'A', 'T'};
        uLong crc = crc32(crc32(0, nullptr, 0), type, 4);
        crc = crc32(crc, data.data(), static_cast<uInt>(n));
        EXPECT_EQ(ChunkCrc(type, data.data(), n), crc);
    }
}

TEST(LoadPng, ChunkRulesAndDamagedChunks) {
    Bytes rows = CompressRows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, {0, 0});
    const Bytes expected = {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255};
    {
        // Split over three IDATs with other chunks before, between and after; no IEND at all.
        PngBuilder b;
        b.Header(2, 2, 8, 2);
        b.Chunk("tEXt", {'a', 0, 'b'});
        b.Chunk("IDAT", Bytes(rows.begin(), rows.begin() + 5));
        b.Chunk("zzZz", Bytes(2000, 9));
        b.Chunk("IDAT", Bytes(rows.begin() + 5, rows.begin() + 9));
        b.Chunk("gAMA", {0, 0, 0, 1}, true); // a bad CRC on another chunk goes unnoticed
        b.Chunk("IDAT", Bytes(rows.begin() + 9, rows.end()));
        b.Chunk("tIME", Bytes(7, 1));
        Loaded l = LoadBytes("split.png", b.bytes);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.pixels, expected);
    }
    {
        // A damaged IDAT is dropped and the others still decode. Signature and first chunk type are not checked.
        PngBuilder b;
        b.bytes = Bytes(8, 'x');
        Bytes header = {0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 0, 0, 0};
        b.Chunk("HDRI", header);
        b.Chunk("IDAT", Bytes(40, 0xFF), true);
        b.Chunk("IDAT", rows);
        b.End();
        b.Chunk("IDAT", Bytes(40, 0xFF)); // after IEND: never read
        Loaded l = LoadBytes("damaged-idat.png", b.bytes);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.pixels, expected);
    }
    {
        // A bad IHDR CRC: no other chunk read, all samples zero, dimensions and flags set.
        PngBuilder b;
        b.Header(2, 2, 8, 2, 0, true);
        b.Chunk("IDAT", rows);
        b.End();
        Loaded l = LoadBytes("bad-ihdr-crc.png", b.bytes, 3);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.image.width, 2);
        EXPECT_EQ(l.image.height, 2);
        EXPECT_EQ(l.image.hasAlpha, 0);
        EXPECT_EQ(l.pixels, Bytes({0, 0, 0, 128, 0, 0, 0, 128, 0, 0, 0, 128, 0, 0, 0, 128}));
    }
    {
        // A stream that ends (validly) before the last row: the missing rows are zero samples.
        PngBuilder b;
        b.Header(2, 2, 8, 2);
        b.Chunk("IDAT", CompressRows({{1, 2, 3, 4, 5, 6}}, {0}));
        b.End();
        Loaded l = LoadBytes("short-stream.png", b.bytes);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.pixels, Bytes({1, 2, 3, 255, 4, 5, 6, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
    }
}

TEST(LoadPng, PalettesAndGrey) {
    Bytes indices = {0, 1, 2, 200};
    Bytes stream = CompressRows({indices}, {0});
    {
        // Two entries only: index 2 and 200 read zeros. A tRNS chunk changes nothing.
        PngBuilder b;
        b.Header(4, 1, 8, 3);
        b.Chunk("PLTE", {10, 20, 30, 40, 50, 60});
        b.Chunk("tRNS", {0, 0});
        b.Chunk("IDAT", stream);
        b.End();
        Loaded l = LoadBytes("short-palette.png", b.bytes);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.image.isGrey, 0);
        EXPECT_EQ(l.image.hasAlpha, 0);
        EXPECT_EQ(l.pixels, Bytes({10, 20, 30, 255, 40, 50, 60, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
    }
    {
        // A PLTE longer than 256 entries: the first 768 bytes count.
        Bytes plte;
        for (int i = 0; i < 300; ++i)
            plte.insert(plte.end(), {uint8_t(i), uint8_t(i + 1), uint8_t(i + 2)});
        PngBuilder b;
        b.Header(4, 1, 8, 3);
        b.Chunk("PLTE", plte);
        b.Chunk("IDAT", stream);
        b.End();
        Loaded l = LoadBytes("long-palette.png", b.bytes);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.pixels, Bytes({0, 1, 2, 255, 1, 2, 3, 255, 2, 3, 4, 255, 200, 201, 202, 255}));
    }
    {
        // No IDAT: index 0 everywhere, which is the first palette entry.
        PngBuilder b;
        b.Header(2, 1, 8, 3);
        b.Chunk("PLTE", {9, 8, 7});
        b.End();
        Loaded l = LoadBytes("no-idat.png", b.bytes);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.pixels, Bytes({9, 8, 7, 255, 9, 8, 7, 255}));
    }
    {
        PngBuilder b;
        b.Header(4, 1, 8, 0);
        b.Chunk("IDAT", stream);
        b.End();
        Loaded l = LoadBytes("grey.png", b.bytes, 7);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.image.isGrey, 1);
        EXPECT_EQ(l.pixels, indices);
    }
}

TEST(LoadPng, RefusalsNameTheFileAndLeaveNothing) {
    auto refused = [](const std::string& name, const Bytes& file, const char* reason) {
        SCOPED_TRACE(name);
        Loaded l = LoadBytes(name, file);
        EXPECT_FALSE(l.ok);
        EXPECT_NE(l.error.find(reason), std::string::npos) << l.error;
        EXPECT_EQ(l.image.width, 0);
    };
    Bytes rows = CompressRows({{1, 2, 3}}, {0});
    auto withHeader = [&](uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, uint8_t interlace) {
        PngBuilder b;
        b.Header(w, h, depth, colour, interlace);
        b.Chunk("IDAT", rows);
        b.End();
        return b.bytes;
    };
    refused("depth16.png", withHeader(1, 1, 16, 2, 0), "bit depth 16");
    refused("depth4.png", withHeader(1, 1, 4, 0, 0), "bit depth 4");
    refused("interlaced.png", withHeader(1, 1, 8, 2, 1), "interlaced");
    refused("colour4.png", withHeader(1, 1, 8, 4, 0), "colour type 4");
    refused("colour5.png", withHeader(1, 1, 8, 5, 0), "colour type 5");
    refused("zero-width.png", withHeader(0, 1, 8, 2, 0), "size");
    refused("too-tall.png", withHeader(1, 5552, 8, 2, 0), "size");
    refused("too-wide.png", withHeader(0x7FFFFFFF, 1, 8, 2, 0), "size");
    refused("negative.png", withHeader(0x80000000u, 1, 8, 2, 0), "size");
    refused("huge.png", withHeader(60000, 5000, 8, 6, 0), "size");

    Bytes good = withHeader(1, 1, 8, 2, 0);
    refused("short.png", Bytes(good.begin(), good.begin() + 20), "ends inside");
    refused("cut-chunk.png", Bytes(good.begin(), good.end() - 14), "runs past the end");
    refused("cut-crc.png", Bytes(good.begin(), good.end() - 2), "ends inside");
    {
        PngBuilder b;
        b.Header(1, 1, 8, 2);
        b.Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF});
        b.End();
        refused("garbage-stream.png", b.bytes, "malformed image data");
    }
    {
        PngBuilder b;
        b.Header(1, 1, 8, 2);
        b.Chunk("IDAT", Bytes(rows.begin(), rows.begin() + 6));
        b.End();
        refused("truncated-stream.png", b.bytes, "malformed image data");
    }
    Image image{reinterpret_cast<uint8_t*>(1), 5, 5, 1, 1};
    EXPECT_FALSE(LoadPng("/nonexistent/quimbles.png", &image, 0));
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_NE(std::string(PngError()).find("/nonexistent/quimbles.png"), std::string::npos);
}

} // namespace
