// Inflate against zlib on the corpus streams, and on hand-built streams for the cases no encoder makes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "deflate_writer.h"
#include "image/inflate.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

struct Result {
    int64_t end;
    Bytes out; // the whole buffer of limit bytes
};

constexpr uint8_t Guard = 0xA5;

// Runs Inflate on an exact-size copy of the stream into a buffer of limit bytes plus a guard zone, and checks that
// nothing was written past the returned position (or at all on failure beyond the history).
Result Decode(const Bytes& stream, uint32_t limit, const Bytes& history = {}) {
    Bytes input(stream);
    Bytes buffer(size_t(limit) + 64, Guard);
    std::copy(history.begin(), history.end(), buffer.begin());
    OutputLimit = limit;
    int64_t end = Inflate(input.data(), input.size(), buffer.data(), static_cast<uint32_t>(history.size()));
    size_t untouchedFrom = end < 0 ? limit : static_cast<size_t>(end);
    for (size_t i = untouchedFrom; i < buffer.size(); ++i)
        if (buffer[i] != Guard) {
            ADD_FAILURE() << "byte " << i << " written beyond position " << end << " (limit " << limit << ")";
            break;
        }
    if (end < 0) {
        EXPECT_STRNE(InflateError(), "");
    }
    buffer.resize(limit);
    return {end, buffer};
}

Bytes Prefix(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<long>(n));
}

// zlib's verdict: the decoded bytes, or false when it refuses the stream.
bool ZlibInflate(const Bytes& stream, Bytes* out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    out->clear();
    Bytes chunk(1 << 16);
    z.next_in = const_cast<uint8_t*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    int status;
    do {
        z.next_out = chunk.data();
        z.avail_out = static_cast<uInt>(chunk.size());
        status = inflate(&z, Z_NO_FLUSH);
        out->insert(out->end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
    } while (status == Z_OK);
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

struct StreamCheck {
    int checked = 0;
    int skipped = 0;
};

// Every stream of a make_streams.sh output folder against zlib and against the original file. Each stream runs
// three times: limit = exact size, limit with room to spare (must stop at the final block), and limit cutting
// the output in the middle (must give exactly that prefix).
void CheckStreamFolder(const std::filesystem::path& dir, bool quick, StreamCheck& result) {
    std::ifstream manifest(dir / "MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line); // column names
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string name, encoder, inputBytes;
        std::getline(fields, name, '\t');
        std::getline(fields, encoder, '\t');
        std::getline(fields, inputBytes, '\t');
        // A preset dictionary is not supported: that stream's dictionary id is read as data.
        if (encoder == "zlib-fdict") {
            ++result.skipped;
            continue;
        }
        size_t size = std::stoul(inputBytes);
        if (quick && size > 160000 && encoder != "pyzlib-L6" && encoder != "gzip-9" && encoder != "pigz-6-indep-b64k") {
            ++result.skipped;
            continue;
        }
        Bytes stream = ReadFile(dir / (name + "." + encoder + ".zlib"));
        Bytes original = ReadFile(dir / "src" / name);
        Bytes expected;
        ASSERT_TRUE(ZlibInflate(stream, &expected)) << name << " " << encoder;
        ASSERT_EQ(expected, original) << name << " " << encoder;
        SCOPED_TRACE(name + "." + encoder);

        Result exact = Decode(stream, static_cast<uint32_t>(size));
        ASSERT_EQ(exact.end, int64_t(size)) << InflateError();
        ASSERT_TRUE(exact.out == expected);

        Result roomy = Decode(stream, static_cast<uint32_t>(size + 1000));
        ASSERT_EQ(roomy.end, int64_t(size)) << InflateError();
        ASSERT_TRUE(Prefix(roomy.out, size) == expected);

        if (size > 1) {
            uint32_t cut = static_cast<uint32_t>(size / 2 + 1);
            Result half = Decode(stream, cut);
            ASSERT_EQ(half.end, int64_t(cut)) << InflateError();
            ASSERT_TRUE(half.out == Prefix(expected, cut));
        }
        ++result.checked;
    }
}

TEST(Inflate, MatchesZlibOnCorpusStreams) {
    StreamCheck r;
    CheckStreamFolder(IMAGE_STREAMS_DIR, true, r);
    std::printf("checked %d streams, skipped %d\n", r.checked, r.skipped);
    // Seven encoders over 27 inputs; the quick set skips most of the large inputs.
    EXPECT_GE(r.checked, 500) << "were the streams made? see " IMAGE_STREAMS_DIR;
}

// The full set (with the zopfli-based encoders) on demand: QUIMBLES_FULL_STREAMS=1.
TEST(Inflate, MatchesZlibOnAllCorpusStreams) {
    if (!std::getenv("QUIMBLES_FULL_STREAMS"))
        GTEST_SKIP() << "set QUIMBLES_FULL_STREAMS=1 to check every corpus stream";
    std::filesystem::path dir = IMAGE_FULL_STREAMS_DIR;
    if (!std::filesystem::exists(dir / "MANIFEST.tsv")) {
        std::string command = "sh '" QUIMBLES_CORPUS_DIR "/deflate/make_streams.sh' '" + dir.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    StreamCheck r;
    CheckStreamFolder(dir, false, r);
    std::printf("checked %d streams, skipped %d\n", r.checked, r.skipped);
    EXPECT_GE(r.checked, 850);
}

TEST(Inflate, StoredBlocksIgnoreNlenAndStopAtTheLimit) {
    BitWriter w;
    w.Bits(0, 1); // not final
    w.Bits(0, 2); // stored
    w.Align();
    for (uint8_t b : {0x05, 0x00, 0x00, 0x00}) // LEN 5, NLEN 0 instead of 0xFFFA
        w.Bits(b, 8);
    for (char c : std::string("hello"))
        w.Bits(static_cast<uint8_t>(c), 8);
    w.Bits(1, 1); // final
    w.Bits(0, 2);
    w.Align();
    for (uint8_t b : {0x03, 0x00, 0x34, 0x12}) // LEN 3, NLEN 0x1234
        w.Bits(b, 8);
    for (char c : std::string("abc"))
        w.Bits(static_cast<uint8_t>(c), 8);
    Bytes stream = WrapZlib(w.Finish(), Text("helloabc"));

    Bytes ignored;
    EXPECT_FALSE(ZlibInflate(stream, &ignored)); // zlib insists on NLEN

    Result all = Decode(stream, 100);
    EXPECT_EQ(all.end, 8);
    EXPECT_EQ(Prefix(all.out, 8), Text("helloabc"));

    Result cut = Decode(stream, 6);
    EXPECT_EQ(cut.end, 6);
    EXPECT_EQ(cut.out, Text("helloa"));

    // A stored block that claims more bytes than the stream holds: fine while the limit cuts the copy inside
    // the stream, refused once the copy would run out of input.
    Bytes shortStream = Prefix(stream, 2 + 1 + 4 + 5 + 1 + 4 + 3);
    shortStream[2 + 1 + 4 + 5 + 1] = 100;
    Result cutShort = Decode(shortStream, 7);
    EXPECT_EQ(cutShort.end, 7);
    EXPECT_EQ(cutShort.out, Text("helloab"));
    EXPECT_EQ(Decode(shortStream, 50).end, -1);
}

// One literal, then length 258 at distance 1, as fixed codes.
Bytes LongRunStream() {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2); // fixed codes
    w.FixedSymbol('x');
    w.FixedSymbol(285); // length 258, no extra bits
    w.Code(0, 5);       // distance code 0: distance 1
    w.FixedSymbol(256);
    return WrapZlib(w.Finish(), Bytes(259, 'x'));
}

TEST(Inflate, LongMatchAtDistanceOneAndLimitCuts) {
    Bytes stream = LongRunStream();
    Bytes viaZlib;
    ASSERT_TRUE(ZlibInflate(stream, &viaZlib));
    ASSERT_EQ(viaZlib, Bytes(259, 'x'));

    Result full = Decode(stream, 1000);
    EXPECT_EQ(full.end, 259);
    EXPECT_EQ(Prefix(full.out, 259), Bytes(259, 'x'));

    // The match crosses the limit: exactly limit bytes, nothing beyond (Run checks the guard bytes).
    for (uint32_t limit : {1u, 2u, 100u, 258u, 259u}) {
        Result cut = Decode(stream, limit);
        EXPECT_EQ(cut.end, int64_t(limit));
        EXPECT_EQ(cut.out, Bytes(limit, 'x'));
    }
    EXPECT_EQ(Decode(stream, 0).end, 0);
}

TEST(Inflate, FullOutputLeavesLaterBlocksUnread) {
    BitWriter w;
    w.Bits(0, 1);
    w.Bits(1, 2);
    for (char c : std::string("abcd"))
        w.FixedSymbol(c);
    w.FixedSymbol(256);
    w.Bits(1, 1);
    w.Bits(3, 2); // a block type that does not exist
    Bytes stream = WrapZlib(w.Finish(), Text("abcd"));

    Result full = Decode(stream, 4);
    EXPECT_EQ(full.end, 4);
    EXPECT_EQ(full.out, Text("abcd"));
    // With room left the bad block is read, and refused.
    EXPECT_EQ(Decode(stream, 5).end, -1);
    EXPECT_STREQ(InflateError(), "invalid block type");
}

TEST(Inflate, HeaderAndTrailerAreNotChecked) {
    Bytes data =
        Text(std::string(3000, 'q') + "the header and trailer bytes are skipped unread " + std::string(500, 'z'));
    Bytes good = ZlibCompress(data, 9);
    Bytes check;
    ASSERT_TRUE(ZlibInflate(good, &check));

    Bytes fdict = good, fcheck = good, adler = good, noTrailer = Prefix(good, good.size() - 4);
    fdict[1] |= 0x20;
    fcheck[1] ^= 0x01;
    adler.back() ^= 0xFF;
    for (const Bytes* damaged : {&fdict, &fcheck, &adler}) {
        Bytes ignored;
        EXPECT_FALSE(ZlibInflate(*damaged, &ignored)); // zlib notices each of them
        Result r = Decode(*damaged, static_cast<uint32_t>(data.size() + 10));
        EXPECT_EQ(r.end, int64_t(data.size()));
        EXPECT_EQ(Prefix(r.out, data.size()), data);
    }
    Result r = Decode(noTrailer, static_cast<uint32_t>(data.size() + 10));
    EXPECT_EQ(r.end, int64_t(data.size()));
}

// Appends a raw DEFLATE stream (from zlib) bit by bit after what the writer holds.
void AppendRaw(BitWriter& w, const Bytes& raw) {
    for (uint8_t b : raw)
        w.Bits(b, 8);
}

Bytes RawDeflate(const Bytes& data, int flush, int strategy) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, strategy);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, flush);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

TEST(Inflate, FixedAndDynamicBlocksDoNotShareCodes) {
    // Fixed block, dynamic block, fixed block: each part from its own compressor, sync-flushed so that the parts
    // join on byte boundaries.
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "block " + std::to_string(i * 7919 % 1000) + " of dynamic codes; ";
    Bytes first = RawDeflate(Text("abcabcabc"), Z_SYNC_FLUSH, Z_FIXED);
    Bytes middle = RawDeflate(Text(text), Z_SYNC_FLUSH, Z_DEFAULT_STRATEGY);
    ASSERT_EQ((first[0] >> 1) & 3, 1) << "zlib was expected to pick fixed codes";
    ASSERT_EQ((middle[0] >> 1) & 3, 2) << "zlib was expected to pick dynamic codes";

    BitWriter w;
    AppendRaw(w, first);
    AppendRaw(w, middle);
    w.Bits(1, 1);
    w.Bits(1, 2);
    for (char c : std::string("xyz"))
        w.FixedSymbol(c);
    w.FixedSymbol(256);
    Bytes expected = Text("abcabcabc" + text + "xyz");
    Bytes stream = WrapZlib(w.Finish(), expected);
    Bytes viaZlib;
    ASSERT_TRUE(ZlibInflate(stream, &viaZlib));
    ASSERT_EQ(viaZlib, expected);

    Result r = Decode(stream, static_cast<uint32_t>(expected.size() + 5));
    EXPECT_EQ(r.end, int64_t(expected.size())) << InflateError();
    EXPECT_EQ(Prefix(r.out, expected.size()), expected);
}

TEST(Inflate, BackReferencesReachHistoryBeforeStart) {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    w.FixedSymbol(259); // length 5
    w.Code(4, 5);       // distance code 4: 5 + one extra bit
    w.Bits(0, 1);
    w.FixedSymbol('!');
    w.FixedSymbol(256);
    Bytes stream = WrapZlib(w.Finish(), {});
    Result r = Decode(stream, 20, Text("hello"));
    EXPECT_EQ(r.end, 11);
    EXPECT_EQ(Prefix(r.out, 11), Text("hellohello!"));

    // Same distance with only four bytes of history reaches before the buffer.
    EXPECT_EQ(Decode(stream, 20, Text("ello")).end, -1);
    // Start at or past the limit: nothing is read or written.
    Result none = Decode(Bytes{}, 5, Text("hello"));
    EXPECT_EQ(none.end, 5);
}

// A dynamic block header whose code-length code gives symbols 0..18 five bits each (code = symbol), so that each
// code-length symbol is written as Code(symbol, 5).
void DynamicHeader(BitWriter& w, bool final, int hlit, int hdist) {
    w.Bits(final, 1);
    w.Bits(2, 2);
    w.Bits(hlit - 257, 5);
    w.Bits(hdist - 1, 5);
    w.Bits(19 - 4, 4);
    for (int i = 0; i < 19; ++i)
        w.Bits(5, 3);
}

TEST(Inflate, IncompleteCodesDecodeUntilAMissingCodeIsUsed) {
    // Literal/length lengths: 'a' 1 bit, end-of-block 2 bits (codes 0 and 10); code 11 is unassigned.
    auto header = [](BitWriter& w) {
        DynamicHeader(w, true, 257, 1);
        w.Code(18, 5), w.Bits(97 - 11, 7); // symbols 0..96: zero
        w.Code(1, 5);                      // 'a'
        w.Code(18, 5), w.Bits(138 - 11, 7);
        w.Code(18, 5), w.Bits(20 - 11, 7); // up to 255: zero
        w.Code(2, 5);                      // end of block
        w.Code(0, 5);                      // the only distance length: 0
    };
    BitWriter good;
    header(good);
    good.Code(0, 1), good.Code(0, 1), good.Code(2, 2);
    Bytes goodStream = WrapZlib(good.Finish(), Text("aa"));
    Result r = Decode(goodStream, 10);
    EXPECT_EQ(r.end, 2) << InflateError();
    EXPECT_EQ(Prefix(r.out, 2), Text("aa"));

    BitWriter bad;
    header(bad);
    bad.Code(0, 1), bad.Code(3, 2), bad.Code(2, 2);
    EXPECT_EQ(Decode(WrapZlib(bad.Finish(), {}), 10).end, -1);
}

TEST(Inflate, CodeLengthRepeatMayRunPastTheTotal) {
    // 257 + 1 lengths declared; the last repeat writes three zeros where one is wanted.
    BitWriter w;
    DynamicHeader(w, true, 257, 1);
    w.Code(18, 5), w.Bits(97 - 11, 7);
    w.Code(1, 5); // 'a': code 0
    w.Code(18, 5), w.Bits(138 - 11, 7);
    w.Code(18, 5), w.Bits(20 - 11, 7);
    w.Code(1, 5);                // end of block: code 1
    w.Code(17, 5), w.Bits(0, 3); // three zeros: one for the distance, two past the end
    w.Code(0, 1), w.Code(1, 1);
    Bytes stream = WrapZlib(w.Finish(), Text("a"));
    Bytes ignored;
    EXPECT_FALSE(ZlibInflate(stream, &ignored)); // zlib calls this an invalid repeat
    Result r = Decode(stream, 10);
    EXPECT_EQ(r.end, 1) << InflateError();
    EXPECT_EQ(r.out[0], 'a');
}

TEST(Inflate, MalformedStreamsAreRefused) {
    auto refused = [](const Bytes& stream, uint32_t limit, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(Decode(stream, limit).end, -1);
    };
    refused({}, 10, "empty input");
    refused({0x78, 0x9C}, 10, "header only");
    {
        BitWriter w;
        w.Bits(1, 1), w.Bits(3, 2);
        refused(WrapZlib(w.Finish(), {}), 10, "block type 3");
    }
    {
        BitWriter w;
        w.Bits(1, 1), w.Bits(1, 2);
        w.FixedSymbol('a');
        w.FixedSymbol(257); // length 3
        w.Code(1, 5);       // distance 2, one byte of output so far
        w.FixedSymbol(256);
        refused(WrapZlib(w.Finish(), {}), 10, "distance before the buffer");
    }
    {
        BitWriter w;
        w.Bits(1, 1), w.Bits(1, 2);
        w.FixedSymbol(286);
        refused(WrapZlib(w.Finish(), {}), 10, "literal/length symbol 286");
    }
    {
        BitWriter w;
        w.Bits(1, 1), w.Bits(1, 2);
        w.FixedSymbol('a');
        w.FixedSymbol(257);
        w.Code(30, 5);
        w.FixedSymbol(256);
        refused(WrapZlib(w.Finish(), {}), 10, "distance symbol 30");
    }
    {
        // Code-length code: symbols 0 and 16 with one bit each; the first length is a repeat.
        BitWriter w;
        w.Bits(1, 1), w.Bits(2, 2);
        w.Bits(0, 5), w.Bits(0, 5), w.Bits(0, 4);               // 257, 1, four code-length lengths
        w.Bits(1, 3), w.Bits(0, 3), w.Bits(0, 3), w.Bits(1, 3); // 16, 17, 18, 0
        w.Code(1, 1), w.Bits(0, 2);
        w.Bits(0, 32);
        refused(WrapZlib(w.Finish(), {}), 10, "repeat with no previous length");
    }
    {
        // Three code-length symbols of one bit each.
        BitWriter w;
        w.Bits(1, 1), w.Bits(2, 2);
        w.Bits(0, 5), w.Bits(0, 5), w.Bits(0, 4);
        w.Bits(1, 3), w.Bits(1, 3), w.Bits(1, 3), w.Bits(0, 3);
        w.Bits(0, 32);
        refused(WrapZlib(w.Finish(), {}), 10, "over-subscribed code-length code");
    }
    {
        // 'a' 1 bit, end 2 bits, length 257 2 bits: complete, but no distance codes.
        BitWriter w;
        DynamicHeader(w, true, 258, 1);
        w.Code(18, 5), w.Bits(97 - 11, 7);
        w.Code(1, 5);
        w.Code(18, 5), w.Bits(138 - 11, 7);
        w.Code(18, 5), w.Bits(20 - 11, 7);
        w.Code(2, 5), w.Code(2, 5); // 256, 257
        w.Code(0, 5);               // distance 0: none
        w.Code(0, 1), w.Code(3, 2), w.Bits(0, 16);
        refused(WrapZlib(w.Finish(), {}), 10, "length without distance codes");
    }
    {
        Bytes data;
        for (int i = 0; i < 5000; ++i)
            data.push_back(static_cast<uint8_t>(i * i % 251));
        Bytes stream = ZlibCompress(data, 6);
        // Any cut inside the DEFLATE body loses at least the end-of-block code; with room left in the output
        // the decoder has to read it and must refuse. Every cut, not a sample: the tail is where the refill
        // switches to its careful path.
        size_t body = stream.size() - 4;
        for (size_t cut = 2; cut < body; ++cut) {
            Result r = Decode(Prefix(stream, cut), static_cast<uint32_t>(data.size() + 1));
            if (r.end != -1) {
                ADD_FAILURE() << "cut at " << cut << " of " << stream.size() << " gave " << r.end;
                break;
            }
        }
        Result whole = Decode(Prefix(stream, body), static_cast<uint32_t>(data.size() + 1));
        EXPECT_EQ(whole.end, int64_t(data.size()));
    }
}

TEST(Inflate, CanonicalCodesFollowTheRfcExample) {
    // RFC 1951 section 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) give 010, 011, 100, 101, 110, 00, 1110, 1111.
    const uint8_t lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};
    uint16_t codes[8];
    AssignCanonicalCodes(lengths, 8, codes);
    const uint16_t expected[8] = {2, 3, 4, 5, 6, 0, 14, 15};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(codes[i], expected[i]) << "symbol " << i;
    // Unused symbols get 0 and do not shift the others.
    const uint8_t sparse[5] = {0, 1, 0, 2, 2};
    uint16_t sparseCodes[5];
    AssignCanonicalCodes(sparse, 5, sparseCodes);
    EXPECT_EQ(sparseCodes[0], 0);
    EXPECT_EQ(sparseCodes[1], 0);
    EXPECT_EQ(sparseCodes[3], 2);
    EXPECT_EQ(sparseCodes[4], 3);
}

} // namespace
