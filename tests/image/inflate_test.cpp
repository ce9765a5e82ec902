// Inflate against zlib on the corpus streams, and on hand-built streams for the cases no encoder makes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/inflate.h"
#include "test_temp.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Writes DEFLATE streams bit by bit, for the streams no encoder would make.
struct BitWriter {
    Bytes bytes;
    int used = 0;
    void Bits(uint32_t value, int count) { // least significant bit first (header fields, extra bits)
        for (int i = 0; i < count; ++i, used = (used + 1) % 8) {
            if (used == 0)
                bytes.push_back(0);
            bytes.back() |= uint8_t(((value >> i) & 1) << used);
        }
    }
    void Code(uint32_t code, int length) { // a Huffman code, most significant bit first
        for (int i = length - 1; i >= 0; --i)
            Bits((code >> i) & 1, 1);
    }
    void Fixed(std::initializer_list<int> symbols) { // by the fixed code table
        for (int s : symbols)
            s < 144   ? Code(0x30 + s, 8)
            : s < 256 ? Code(0x190 + s - 144, 9)
            : s < 280 ? Code(s - 256, 7)
                      : Code(0xC0 + s - 280, 8);
    }
    // A dynamic block header whose code-length code gives symbols 0..18 five bits each (code = symbol), then
    // literal/length lengths: 'a' `a` bits, end of block `end` bits, the rest zero, and one distance length 0.
    void Dynamic(int a, int end, int hlit = 257) {
        Bits(1, 1), Bits(2, 2), Bits(hlit - 257, 5), Bits(0, 5), Bits(19 - 4, 4);
        for (int i = 0; i < 19; ++i)
            Bits(5, 3);
        Code(18, 5), Bits(97 - 11, 7), Code(a, 5);                                   // symbols 0..96 zero, then 'a'
        Code(18, 5), Bits(138 - 11, 7), Code(18, 5), Bits(20 - 11, 7), Code(end, 5); // zero up to 255, then 256
    }
};

// A zlib stream: header 78 9C, the DEFLATE body, zlib's Adler-32 of data big-endian.
Bytes WrapZlib(const BitWriter& w, const Bytes& data) {
    Bytes out = {0x78, 0x9C};
    out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    uLong adler = adler32(adler32(0, nullptr, 0), data.data(), uInt(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(adler >> shift));
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
Bytes Prefix(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.begin() + long(n));
}

// Runs Inflate on an exact-size copy of the stream into a buffer of limit bytes plus a guard zone, checks that
// nothing was written past the returned position, and gives the position (-1 refused) and the buffer.
std::pair<int64_t, Bytes> Decode(const Bytes& stream, uint32_t limit, const Bytes& history = {}) {
    Bytes input(stream), buffer(size_t(limit) + 64, 0xA5);
    std::copy(history.begin(), history.end(), buffer.begin());
    OutputLimit = limit;
    const int64_t end = Inflate(input.data(), input.size(), buffer.data(), uint32_t(history.size()));
    for (size_t i = end < 0 ? limit : size_t(end); i < buffer.size(); ++i)
        if (buffer[i] != 0xA5) {
            ADD_FAILURE() << "byte " << i << " written beyond position " << end << " (limit " << limit << ")";
            break;
        }
    if (end < 0)
        EXPECT_STRNE(InflateError(), "");
    buffer.resize(limit);
    return {end, buffer};
}

// zlib's verdict: true when it decodes the whole stream into at most `size` bytes (given in *out).
bool ZlibInflate(const Bytes& stream, Bytes* out, size_t size = 1 << 16) {
    out->resize(size + 1);
    uLongf n = uLongf(out->size());
    const bool ok = uncompress(out->data(), &n, stream.data(), uLong(stream.size())) == Z_OK;
    out->resize(n);
    return ok;
}

Bytes Deflated(const Bytes& data, int level) {
    uLongf length = compressBound(uLong(data.size()));
    Bytes out(length);
    compress2(out.data(), &length, data.data(), uLong(data.size()), level);
    out.resize(length);
    return out;
}

// Every stream of a make_streams.sh folder against zlib and the original file, on every path (InflatePath) three
// times: limit = exact size, limit with room to spare (must stop at the final block), and a limit cutting the
// output in the middle (must give exactly that prefix). Returns the number checked.
int CheckStreamFolder(const std::filesystem::path& dir, bool quick) {
    std::ifstream manifest(dir / "MANIFEST.tsv");
    std::string line, name, encoder, size;
    std::getline(manifest, line); // column names
    int checked = 0;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::getline(fields, name, '\t'), std::getline(fields, encoder, '\t'), std::getline(fields, size, '\t');
        const uint32_t n = uint32_t(std::stoul(size));
        // A preset dictionary is not supported: that stream's dictionary id is read as data.
        if (encoder == "zlib-fdict" ||
            (quick && n > 160000 && encoder != "pyzlib-L6" && encoder != "gzip-9" && encoder != "pigz-6-indep-b64k"))
            continue;
        SCOPED_TRACE(name + "." + encoder);
        const Bytes stream = ReadFileBytes(dir / (name + "." + encoder + ".zlib")),
                    original = ReadFileBytes(dir / "src" / name);
        Bytes expected;
        EXPECT_TRUE(ZlibInflate(stream, &expected, n) && expected == original);
        for (int path : {0, 2, 1})
            for (uint32_t limit : {n, n + 1000, n / 2 + 1}) {
                InflatePath = path;
                auto [end, out] = Decode(stream, limit);
                EXPECT_EQ(end, int64_t(std::min(n, limit))) << InflateError() << " on path " << path;
                EXPECT_TRUE(Prefix(out, size_t(end)) == Prefix(original, size_t(end))) << "on path " << path;
            }
        ++checked;
    }
    return checked;
}

TEST(Inflate, MatchesZlibOnCorpusStreams) {
    // Seven encoders over 27 inputs; the quick set skips most of the large inputs.
    EXPECT_GE(CheckStreamFolder(IMAGE_STREAMS_DIR, true), 500) << "were the streams made? see " IMAGE_STREAMS_DIR;
}

// The full set (with the zopfli-based encoders) on demand: QUIMBLES_FULL_STREAMS=1.
TEST(Inflate, MatchesZlibOnAllCorpusStreams) {
    if (!std::getenv("QUIMBLES_FULL_STREAMS"))
        GTEST_SKIP() << "set QUIMBLES_FULL_STREAMS=1 to check every corpus stream";
    const std::string dir = IMAGE_FULL_STREAMS_DIR;
    if (!std::filesystem::exists(dir + "/MANIFEST.tsv"))
        ASSERT_EQ(std::system(("sh '" QUIMBLES_CORPUS_DIR "/deflate/make_streams.sh' '" + dir + "'").c_str()), 0);
    EXPECT_GE(CheckStreamFolder(dir, false), 850);
}

TEST(Inflate, StoredBlocksLimitsAndHistory) {
    BitWriter w;
    w.Bits(0, 1), w.Bits(0, 2), w.used = 0;          // stored, not final; to the byte boundary
    for (char c : std::string("\x05\0\0\0hello", 9)) // LEN 5, NLEN 0 instead of 0xFFFA
        w.Bits(uint8_t(c), 8);
    w.Bits(1, 1), w.Bits(0, 2), w.used = 0;
    for (char c : std::string("\x03\0\x34\x12"
                              "abc",
                              7)) // LEN 3, NLEN 0x1234
        w.Bits(uint8_t(c), 8);
    const Bytes stream = WrapZlib(w, Text("helloabc"));
    Bytes ignored;
    EXPECT_FALSE(ZlibInflate(stream, &ignored)); // zlib insists on NLEN
    auto [all, bytes] = Decode(stream, 100);
    EXPECT_EQ(all, 8);
    EXPECT_EQ(Prefix(bytes, 8), Text("helloabc"));
    EXPECT_EQ(Decode(stream, 6).second, Text("helloa"));
    // A final stored block whose bytes end exactly where the input does (no trailer) is whole; one that claims
    // more than the input holds is fine while the limit cuts the copy inside the input, and refused after.
    Bytes cut = Prefix(stream, stream.size() - 4);
    EXPECT_EQ(Decode(cut, 50).first, 8);
    cut[2 + 1 + 4 + 5 + 1] = 100;
    EXPECT_EQ(Decode(cut, 7).second, Text("helloab"));
    EXPECT_EQ(Decode(cut, 50).first, -1);

    // One literal, then length 258 at distance 1: limits cutting the match give exactly that many bytes.
    BitWriter run;
    run.Bits(1, 1), run.Bits(1, 2), run.Fixed({'x', 285}), run.Code(0, 5), run.Fixed({256});
    const Bytes runStream = WrapZlib(run, Bytes(259, 'x'));
    ASSERT_TRUE(ZlibInflate(runStream, &ignored) && ignored == Bytes(259, 'x'));
    for (uint32_t limit : {0u, 1u, 2u, 100u, 258u, 259u, 1000u}) {
        auto [end, out] = Decode(runStream, limit);
        EXPECT_EQ(end, std::min(limit, 259u));
        EXPECT_EQ(Prefix(out, size_t(end)), Bytes(size_t(end), 'x'));
    }

    // Output full after the first block: a bad later block is never read.
    BitWriter two;
    two.Bits(0, 1), two.Bits(1, 2), two.Fixed({'a', 'b', 'c', 'd', 256}), two.Bits(1, 1), two.Bits(3, 2);
    EXPECT_EQ(Decode(WrapZlib(two, Text("abcd")), 4).first, 4);
    EXPECT_EQ(Decode(WrapZlib(two, Text("abcd")), 5).first, -1);
    EXPECT_STREQ(InflateError(), "invalid block type");

    // Length 5 at distance 5 reaches into history before the start; with four bytes of history it is refused.
    BitWriter back;
    back.Bits(1, 1), back.Bits(1, 2), back.Fixed({259}), back.Code(4, 5), back.Bits(0, 1), back.Fixed({'!', 256});
    auto [end, out] = Decode(WrapZlib(back, {}), 20, Text("hello"));
    EXPECT_EQ(end, 11);
    EXPECT_EQ(Prefix(out, 11), Text("hellohello!"));
    EXPECT_EQ(Decode(WrapZlib(back, {}), 20, Text("ello")).first, -1);
    EXPECT_EQ(Decode(Bytes{}, 5, Text("hello")).first, 5); // start at the limit: nothing is read

    // Header and trailer are not checked: a dictionary flag, a bad check value, a bad Adler-32, no trailer, bytes
    // after the trailer (the stream ends with a match well before the input does; Decode checks the bytes after it).
    const Bytes data = Text(std::string(3000, 'q') + "skipped unread" + std::string(500, 'z'));
    const Bytes good = Deflated(data, 9);
    Bytes fdict = good, fcheck = good, adler = good, junk = good;
    fdict[1] |= 0x20, fcheck[1] ^= 0x01, adler.back() ^= 0xFF, junk.resize(good.size() + 64, 0x5A);
    for (const Bytes& damaged : {fdict, fcheck, adler, Prefix(good, good.size() - 4), junk}) {
        auto [end, out] = Decode(damaged, uint32_t(data.size() + 400));
        EXPECT_EQ(end, int64_t(data.size()));
        EXPECT_EQ(Prefix(out, data.size()), data);
    }
}

TEST(Inflate, IncompleteCodesAndLongRepeats) {
    // 'a' 1 bit, end of block 2 bits (codes 0 and 10): code 11 is unassigned and refused only when used.
    BitWriter good, bad;
    good.Dynamic(1, 2), good.Code(0, 5), good.Code(0, 1), good.Code(0, 1), good.Code(2, 2);
    auto [end, out] = Decode(WrapZlib(good, Text("aa")), 10);
    EXPECT_EQ(end, 2) << InflateError();
    EXPECT_EQ(Prefix(out, 2), Text("aa"));
    bad.Dynamic(1, 2), bad.Code(0, 5), bad.Code(0, 1), bad.Code(3, 2), bad.Code(2, 2);
    EXPECT_EQ(Decode(WrapZlib(bad, {}), 10).first, -1);
    // The last code-length repeat writes three zeros where one is wanted: zlib refuses, we read on.
    BitWriter repeat;
    repeat.Dynamic(1, 1), repeat.Code(17, 5), repeat.Bits(0, 3), repeat.Code(0, 1), repeat.Code(1, 1);
    const Bytes stream = WrapZlib(repeat, Text("a"));
    EXPECT_FALSE(ZlibInflate(stream, &out));
    EXPECT_EQ(Decode(stream, 10).first, 1) << InflateError();
    EXPECT_EQ(Decode(stream, 10).second[0], 'a');

    // RFC 1951 section 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) give 010, 011, 100, 101, 110, 00, 1110, 1111;
    // an unused symbol (here the third) gets 0 and does not shift the others.
    const uint8_t lengths[9] = {3, 3, 0, 3, 3, 3, 2, 4, 4};
    uint16_t codes[9];
    AssignCanonicalCodes(lengths, 9, codes);
    EXPECT_EQ(std::vector<uint16_t>(codes, codes + 9), std::vector<uint16_t>({2, 3, 0, 4, 5, 6, 0, 14, 15}));
}

TEST(Inflate, MalformedStreamsAreRefused) {
    auto refused = [](BitWriter w, const char* what) { EXPECT_EQ(Decode(WrapZlib(w, {}), 10).first, -1) << what; };
    EXPECT_EQ(Decode({}, 10).first, -1);
    EXPECT_EQ(Decode({0x78, 0x9C}, 10).first, -1);
    BitWriter w;
    w.Bits(1, 1), w.Bits(1, 2), w.Fixed({'a', 257}), w.Code(1, 5), w.Fixed({256}); // distance 2 after one byte
    refused(w, "distance before the buffer");
    w = {}, w.Bits(1, 1), w.Bits(1, 2), w.Fixed({286});
    refused(w, "literal/length symbol 286");
    w = {}, w.Bits(1, 1), w.Bits(1, 2), w.Fixed({'a', 257}), w.Code(30, 5), w.Fixed({256});
    refused(w, "distance symbol 30");
    // Code-length code: symbols 16 and 0 with one bit each; the first length is a repeat with nothing before it.
    w = {}, w.Bits(1, 1), w.Bits(2, 2), w.Bits(0, 14), w.Bits(1, 3), w.Bits(0, 6), w.Bits(1, 3);
    w.Code(1, 1), w.Bits(0, 2), w.Bits(0, 32);
    refused(w, "repeat with no previous length");
    w = {}, w.Bits(1, 1), w.Bits(2, 2), w.Bits(0, 14), w.Bits(1, 3), w.Bits(1, 3), w.Bits(1, 3), w.Bits(0, 3);
    w.Bits(0, 32);
    refused(w, "over-subscribed code-length code");
    w = {}, w.Dynamic(1, 2, 258), w.Code(2, 5), w.Code(0, 5), w.Code(0, 1), w.Code(3, 2), w.Bits(0, 16);
    refused(w, "length without distance codes");
    // Any cut inside the DEFLATE body loses at least the end-of-block code; with room left in the output the
    // decoder has to read it and must refuse. Every cut: the tail is where the refill switches to its careful path.
    Bytes data;
    for (int i = 0; i < 5000; ++i)
        data.push_back(uint8_t(i * i % 251));
    const Bytes stream = Deflated(data, 6);
    for (size_t cut = 2; cut < stream.size() - 4; ++cut)
        if (Decode(Prefix(stream, cut), uint32_t(data.size() + 1)).first != -1) {
            ADD_FAILURE() << "cut at " << cut << " of " << stream.size() << " was not refused";
            break;
        }
    EXPECT_EQ(Decode(Prefix(stream, stream.size() - 4), uint32_t(data.size() + 1)).first, int64_t(data.size()));
}

} // namespace
