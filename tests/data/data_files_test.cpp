// The committed data set: exact sizes, byte-for-byte reproduction by make-data, and decoding of every file
// by decoders that are not ours (libpng, OpenJPEG, libxmp).
#include "data_set.h"

#include <gtest/gtest.h>
#include <openjpeg.h>
#include <png.h>
#include <xmp.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

namespace {

const std::string kDataDir = std::string(QUIMBLES_SOURCE_DIR) + "/data/";

std::vector<uint8_t> ReadFile(const std::string& name) {
    std::ifstream f(kDataDir + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}
int Le16(const uint8_t* p) {
    return p[0] | p[1] << 8;
}

// The sizes the show expects, written out here rather than taken from the tool's table.
const std::map<std::string, size_t> kExpectedSizes = {
    {"wide.xm", 40420},           {"textes.png", 68264},    {"le_poilu.png", 133299}, {"garbet_he.png", 143543},
    {"tabi_feno.png", 125658},    {"vacances.png", 117741}, {"tabi.movie", 360063},   {"rocu.movie", 316964},
    {"rocu_mange.movie", 109422}, {"quimbles.png", 164266}};

struct PngInfo {
    int width = 0, height = 0, colourType = -1, idatChunks = 0;
    bool endsWithIend = false;
    std::vector<uint8_t> rgba;
};

PngInfo ReadPng(const std::vector<uint8_t>& file) {
    PngInfo info;
    // Walk the chunks ourselves: count IDAT chunks and check that IEND closes the file exactly.
    size_t at = 8;
    while (at + 12 <= file.size()) {
        uint32_t len = Be32(&file[at]);
        std::string type(file.begin() + at + 4, file.begin() + at + 8);
        if (type == "IHDR")
            info.colourType = file[at + 8 + 9];
        if (type == "IDAT")
            ++info.idatChunks;
        at += 12 + len;
        if (type == "IEND") {
            info.endsWithIend = at == file.size();
            break;
        }
    }
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&img, file.data(), file.size())) {
        img.format = PNG_FORMAT_RGBA;
        info.rgba.resize(PNG_IMAGE_SIZE(img));
        if (png_image_finish_read(&img, nullptr, info.rgba.data(), 0, nullptr)) {
            info.width = int(img.width);
            info.height = int(img.height);
        }
    }
    return info;
}

} // namespace

TEST(DataFiles, HaveTheirExactSizes) {
    for (const auto& [name, size] : kExpectedSizes)
        EXPECT_EQ(ReadFile(name).size(), size) << name;
}

TEST(DataFiles, MakeDataReproducesThemByteForByte) {
    for (const auto& [name, size] : kExpectedSizes) {
        std::vector<uint8_t> made = makedata::MakeDataFile(name);
        EXPECT_EQ(made.size(), size) << name;
#ifdef _WIN32
        // The movie frames come out of OpenJPEG's floating-point encoder, and the Windows build links its own
        // compile of it: the committed movies are those of Debian's library, so here only their sizes must agree.
        if (std::string_view(name).ends_with(".movie"))
            continue;
#endif
        EXPECT_TRUE(made == ReadFile(name)) << name << " differs from the committed file";
    }
}

TEST(DataFiles, PicturesDecodeAt640x480WithRealContent) {
    std::set<int> types;
    int splitFiles = 0;
    for (const char* name : {"le_poilu.png", "garbet_he.png", "tabi_feno.png", "vacances.png", "quimbles.png"}) {
        PngInfo p = ReadPng(ReadFile(name));
        ASSERT_EQ(p.width, 640) << name;
        ASSERT_EQ(p.height, 480) << name;
        EXPECT_TRUE(p.endsWithIend) << name;
        EXPECT_TRUE(p.colourType == 2 || p.colourType == 3) << name;
        types.insert(p.colourType);
        splitFiles += p.idatChunks > 1;
        // A picture, not a test card: many colours, and every quarter of it busy.
        std::set<uint32_t> colours;
        for (size_t i = 0; i < p.rgba.size(); i += 4)
            colours.insert(uint32_t(p.rgba[i]) << 16 | p.rgba[i + 1] << 8 | p.rgba[i + 2]);
        EXPECT_GT(colours.size(), 200u) << name;
        for (int q = 0; q < 4; ++q) {
            std::set<uint32_t> local;
            for (int y = (q / 2) * 240; y < (q / 2) * 240 + 240; ++y)
                for (int x = (q % 2) * 320; x < (q % 2) * 320 + 320; ++x) {
                    const uint8_t* px = &p.rgba[(size_t(y) * 640 + x) * 4];
                    local.insert(uint32_t(px[0]) << 16 | px[1] << 8 | px[2]);
                }
            EXPECT_GT(local.size(), 40u) << name << " quarter " << q;
        }
    }
    EXPECT_TRUE(types.count(2)) << "RGB pictures";
    EXPECT_TRUE(types.count(3)) << "at least one palette picture";
    EXPECT_GE(splitFiles, 1) << "at least one picture over several IDAT chunks";
}

TEST(DataFiles, TextStripHasFourLinesOfCoverage) {
    PngInfo p = ReadPng(ReadFile("textes.png"));
    ASSERT_EQ(p.width, 380);
    ASSERT_EQ(p.height, 288);
    EXPECT_EQ(p.colourType, 6);
    for (int line = 0; line < 4; ++line) {
        int covered = 0, clear = 0, partial = 0;
        int top = 72, bottom = -1;
        for (int y = 0; y < 72; ++y)
            for (int x = 0; x < 380; ++x) {
                int a = p.rgba[(size_t(line * 72 + y) * 380 + x) * 4 + 3];
                covered += a == 255;
                clear += a == 0;
                partial += a > 0 && a < 255;
                if (a > 128) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        // Anti-aliased text: solid strokes, soft edges, lots of empty space, kept inside its own band.
        EXPECT_GT(covered, 1500) << "line " << line;
        EXPECT_GT(partial, 1000) << "line " << line;
        EXPECT_GT(clear, 380 * 72 / 3) << "line " << line;
        EXPECT_GT(top, 2) << "line " << line;
        EXPECT_LT(bottom, 69) << "line " << line;
    }
}

namespace {

struct ReadState {
    const uint8_t* data;
    size_t size, at;
};
OPJ_SIZE_T ReadIn(void* buffer, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<ReadState*>(user);
    if (s->at >= s->size)
        return OPJ_SIZE_T(-1);
    n = std::min<OPJ_SIZE_T>(n, s->size - s->at);
    std::memcpy(buffer, s->data + s->at, n);
    s->at += n;
    return n;
}
OPJ_OFF_T SkipIn(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<ReadState*>(user);
    s->at += size_t(n);
    return n;
}
OPJ_BOOL SeekIn(OPJ_OFF_T n, void* user) {
    static_cast<ReadState*>(user)->at = size_t(n);
    return OPJ_TRUE;
}

// Decodes one codestream into RGB bytes; false when OpenJPEG refuses it or it is not 3 × 8-bit components.
bool DecodeJ2k(const uint8_t* data, size_t size, int& w, int& h, std::vector<uint8_t>& rgb) {
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_setup_decoder(codec, &params);
    ReadState state{data, size, 0};
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_TRUE);
    opj_stream_set_user_data(stream, &state, nullptr);
    opj_stream_set_user_data_length(stream, size);
    opj_stream_set_read_function(stream, ReadIn);
    opj_stream_set_skip_function(stream, SkipIn);
    opj_stream_set_seek_function(stream, SeekIn);
    opj_image_t* image = nullptr;
    bool ok =
        opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) && opj_end_decompress(codec, stream);
    if (ok && image->numcomps == 3) {
        w = int(image->x1 - image->x0);
        h = int(image->y1 - image->y0);
        rgb.resize(size_t(w) * h * 3);
        for (int k = 0; k < 3; ++k) {
            ok = ok && image->comps[k].prec == 8 && !image->comps[k].sgnd && image->comps[k].dx == 1 &&
                 image->comps[k].dy == 1;
            for (int i = 0; ok && i < w * h; ++i)
                rgb[size_t(i) * 3 + k] = uint8_t(std::clamp(image->comps[k].data[i], 0, 255));
        }
    } else {
        ok = false;
    }
    if (image)
        opj_image_destroy(image);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    return ok;
}

double MeanAbsDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

} // namespace

TEST(DataFiles, EveryMovieFrameDecodesAndTheLoopsCloseSmoothly) {
    for (const char* name : {"tabi.movie", "rocu.movie", "rocu_mange.movie"}) {
        std::vector<uint8_t> file = ReadFile(name);
        ASSERT_GT(file.size(), 9u);
        int32_t count = int32_t(Le32(&file[5]));
        ASSERT_GE(count, 12) << name;
        size_t at = 9;
        std::vector<std::vector<uint8_t>> frames;
        double stepSum = 0;
        for (int i = 0; i < count; ++i) {
            ASSERT_LE(at + 4, file.size()) << name << " frame " << i;
            uint32_t len = Le32(&file[at]);
            ASSERT_LE(at + 4 + len, file.size()) << name << " frame " << i;
            const uint8_t* cs = &file[at + 4];
            ASSERT_GE(len, 4u);
            EXPECT_EQ(0, std::memcmp(cs, "\xFF\x4F\xFF\x51", 4)) << name << " frame " << i;
            int w = 0, h = 0;
            std::vector<uint8_t> rgb;
            ASSERT_TRUE(DecodeJ2k(cs, len, w, h, rgb)) << name << " frame " << i;
            EXPECT_GE(w, 2);
            EXPECT_GE(h, 2);
            if (!frames.empty()) {
                ASSERT_EQ(rgb.size(), frames.back().size());
                double step = MeanAbsDiff(rgb, frames.back());
                EXPECT_GT(step, 0.2) << name << " frame " << i << " does not move";
                stepSum += step;
            }
            frames.push_back(std::move(rgb));
            at += 4 + len;
        }
        // Everything after the last record is padding of zeros.
        for (size_t k = at; k < file.size(); ++k)
            ASSERT_EQ(file[k], 0) << name << " byte " << k;
        // The show plays each movie twice: the jump from the last frame back to the first should look like
        // any other step of the animation, not a cut.
        double wrap = MeanAbsDiff(frames.front(), frames.back());
        EXPECT_LT(wrap, 2.5 * stepSum / (count - 1)) << name;
    }
}

TEST(DataFiles, SongIsAWellFormedXmThatPlaysWithoutGaps) {
    std::vector<uint8_t> xm = ReadFile("wide.xm");
    ASSERT_EQ(xm.size(), 40420u);
    // Walk the file as the format lays it out, to find where the last sample's data ends.
    ASSERT_EQ(0, std::memcmp(xm.data(), "Extended Module: ", 17));
    EXPECT_EQ(Le32(&xm[60]), 276u);
    const int songLength = Le16(&xm[64]), channels = Le16(&xm[68]), patterns = Le16(&xm[70]),
              instruments = Le16(&xm[72]);
    EXPECT_EQ(channels, 8);
    EXPECT_GE(instruments, 6);
    EXPECT_GE(songLength, 3);
    std::set<int> effects, extended;
    size_t at = 336;
    for (int p = 0; p < patterns; ++p) {
        uint32_t headerLength = Le32(&xm[at]);
        int rows = Le16(&xm[at + 5]), packed = Le16(&xm[at + 7]);
        EXPECT_LE(rows, 256);
        size_t q = at + headerLength, end = q + packed;
        ASSERT_LE(end, xm.size());
        while (q < end) {
            uint8_t b = xm[q++];
            uint8_t f[5] = {0, 0, 0, 0, 0};
            for (int k = 0; k < 5; ++k)
                if (!(b & 0x80) || (b & (1 << k)))
                    f[k] = k == 0 && !(b & 0x80) ? b : xm[q++];
            if (f[3] || f[4])
                effects.insert(f[3]);
            if (f[3] == 0xE)
                extended.insert(f[4] >> 4);
        }
        at = end;
    }
    for (int i = 0; i < instruments; ++i) {
        uint32_t size = Le32(&xm[at]);
        int samples = Le16(&xm[at + 27]);
        ASSERT_EQ(samples, 1);
        uint32_t sampleHeader = Le32(&xm[at + 29]);
        EXPECT_NE(xm[at + 233], 0) << "instrument " << i + 1 << " has a volume envelope";
        size_t sh = at + size;
        uint32_t length = Le32(&xm[sh]), loopStart = Le32(&xm[sh + 4]), loopLength = Le32(&xm[sh + 8]);
        if (xm[sh + 14] & 3) {
            EXPECT_GT(loopLength, 0u);
            EXPECT_LE(loopStart + loopLength, length);
        }
        at = sh + sampleHeader + length;
        ASSERT_LE(at, xm.size());
    }
    // The rest is padding: zeros after the last sample's data.
    for (size_t k = at; k < xm.size(); ++k)
        ASSERT_EQ(xm[k], 0) << "byte " << k;
    // Arpeggio, portamento up, down and to note, vibrato, panning, volume slide, break, extended commands.
    for (int e : {0x0, 0x1, 0x2, 0x3, 0x4, 0x8, 0xA, 0xD, 0xE})
        EXPECT_TRUE(effects.count(e)) << "effect " << e;
    EXPECT_TRUE(extended.count(0x6)) << "pattern loop";
    EXPECT_TRUE(extended.count(0x8)) << "fine panning";

    // Render 34 seconds with libxmp and look for silent stretches of a quarter second or more.
    xmp_context ctx = xmp_create_context();
    ASSERT_EQ(xmp_load_module_from_memory(ctx, xm.data(), long(xm.size())), 0);
    xmp_module_info info;
    xmp_get_module_info(ctx, &info);
    EXPECT_EQ(info.mod->chn, 8);
    ASSERT_EQ(xmp_start_player(ctx, 44100, 0), 0);
    std::vector<int16_t> block(44100 / 4 * 2);
    int quiet = 0;
    double loudest = 0;
    for (int k = 0; k < 34 * 4; ++k) {
        ASSERT_EQ(xmp_play_buffer(ctx, block.data(), int(block.size() * 2), 0), 0);
        double sum = 0;
        for (int16_t v : block)
            sum += double(v) * v;
        double rms = std::sqrt(sum / double(block.size()));
        loudest = std::max(loudest, rms);
        quiet += rms < 300;
    }
    xmp_end_player(ctx);
    xmp_release_module(ctx);
    xmp_free_context(ctx);
    EXPECT_EQ(quiet, 0) << "quarter seconds of near silence";
    EXPECT_GT(loudest, 2000);
}
