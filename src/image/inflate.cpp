// zlib/DEFLATE decoding into a caller-sized buffer that doubles as the history window.
//
// Huffman codes are decoded through lookup tables (a primary table indexed by the next bits of the stream, with
// subtables for longer codes) instead of a bit-by-bit tree walk; for every well-formed stream the result is the same
// as walking the canonical-code tree. Bits come from a 64-bit buffer refilled with one 8-byte load; near the end of
// the input the refill feeds zeros and the decoder refuses the stream once it has used a bit that is not there.
#include "image/inflate.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the bit reader loads little-endian words");

uint32_t OutputLimit;

namespace {

// A table entry: bits 0..7 code length, 8..11 extra-bit count (for a subtable link: its index bits),
// 12..15 kind, 16..31 value (literal or code-length symbol, length or distance base, subtable offset).
enum : uint32_t { KindLiteral = 0, KindBase = 1, KindEnd = 2, KindSubtable = 3, KindInvalid = 4 };

constexpr uint32_t MakeEntry(uint32_t kind, uint32_t value, uint32_t extra, uint32_t length) {
    return value << 16 | kind << 12 | extra << 8 | length;
}
constexpr uint32_t InvalidEntry = MakeEntry(KindInvalid, 0, 0, 0);

const uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LengthExtraBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DistanceExtraBits[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Primary index widths. Subtables hang off primary entries whose prefix starts longer codes; each is as wide as
// the longest code under its prefix, and there are at most as many as symbols with long codes.
constexpr int LiteralBits = 10;
constexpr int DistanceBits = 8;
constexpr int CodeLengthBits = 7;
constexpr int LiteralTableSize = (1 << LiteralBits) + 286 * (1 << (15 - LiteralBits));
constexpr int DistanceTableSize = (1 << DistanceBits) + 30 * (1 << (15 - DistanceBits));

uint32_t LiteralTemplates[288];
uint32_t DistanceTemplates[30];
uint32_t CodeLengthTemplates[19];

uint32_t LiteralTable[LiteralTableSize];
uint32_t DistanceTable[DistanceTableSize];
uint32_t CodeLengthTable[1 << CodeLengthBits];
uint32_t FixedLiteralTable[LiteralTableSize];
uint32_t FixedDistanceTable[DistanceTableSize];
bool TablesReady;

const char* ErrorText = "";
const char* DistanceFault = "";

struct BitReader {
    const uint8_t* data;
    size_t length; // bytes of stream data after the header
    size_t next;   // next byte to load; runs past length while zeros are fed
    uint64_t bits; // unused bits, next one lowest; bits above count are either 0 or the true next bits
    uint32_t count;
};

// Keeps at least 56 bits in the buffer.
inline void Refill(BitReader& r) {
    if (r.next + 8 <= r.length) {
        uint64_t word;
        std::memcpy(&word, r.data + r.next, 8);
        r.bits |= word << r.count;
        r.next += (63 - r.count) >> 3;
        r.count |= 56;
        return;
    }
    while (r.count <= 56) {
        uint64_t byte = r.next < r.length ? r.data[r.next] : 0;
        r.bits |= byte << r.count;
        r.count += 8;
        r.next++;
    }
}

// True once a bit beyond the end of the input has been used.
inline bool Overrun(const BitReader& r) {
    return r.next > r.length && (r.next - r.length) * 8 > r.count;
}

// Refill for the symbol loop: false once a bit beyond the input has been used. Away from the end the fast refill
// leaves next at or below length, so the check costs one comparison.
inline bool RefillChecked(BitReader& r) {
    Refill(r);
    return !Overrun(r);
}

// Takes n (at most 32) bits, first stream bit lowest.
inline uint32_t ReadBits(BitReader& r, uint32_t n) {
    if (r.count < n)
        Refill(r);
    uint32_t v = static_cast<uint32_t>(r.bits & ((uint64_t(1) << n) - 1));
    r.bits >>= n;
    r.count -= n;
    return v;
}

// Decodes one symbol and its extra bits; the caller guarantees 15 + 13 bits in the buffer. Returns the kind and
// puts the literal, code-length symbol, length or distance in value. An invalid entry consumes nothing.
inline uint32_t DecodeSymbol(BitReader& r, const uint32_t* table, int primaryBits, uint32_t* value) {
    uint32_t e = table[r.bits & ((1u << primaryBits) - 1)];
    if (((e >> 12) & 15) == KindSubtable)
        e = table[(e >> 16) + ((r.bits >> primaryBits) & ((1u << ((e >> 8) & 15)) - 1))];
    uint32_t length = e & 0xFF;
    uint32_t extra = (e >> 8) & 15;
    *value = (e >> 16) + static_cast<uint32_t>((r.bits >> length) & ((1u << extra) - 1));
    r.bits >>= length + extra;
    r.count -= length + extra;
    return (e >> 12) & 15;
}

uint32_t ReverseBits(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int i = 0; i < length; ++i, code >>= 1)
        reversed = reversed << 1 | (code & 1);
    return reversed;
}

// Canonical codes for the first assignCount symbols; only the first enterCount enter the table (the literal/length
// alphabet codes 286 and 287 of fixed blocks but never decodes them). An over-subscribed set leaves every entry
// invalid and returns false; an incomplete set leaves the unused bit patterns invalid.
bool BuildTable(const uint8_t* lengths, int assignCount, int enterCount, const uint32_t* templates, uint32_t* table,
                int primaryBits) {
    const uint32_t primarySize = 1u << primaryBits;
    for (uint32_t i = 0; i < primarySize; ++i)
        table[i] = InvalidEntry;
    int count[16] = {};
    for (int s = 0; s < assignCount; ++s)
        count[lengths[s]]++;
    int32_t left = 1;
    for (int b = 1; b < 16; ++b) {
        left = left * 2 - count[b];
        if (left < 0)
            return false;
    }
    uint16_t codes[288];
    AssignCanonicalCodes(lengths, assignCount, codes);

    uint8_t subBits[1 << LiteralBits] = {};
    for (int s = 0; s < enterCount; ++s) {
        int length = lengths[s];
        if (length > primaryBits) {
            uint32_t prefix = ReverseBits(codes[s], length) & (primarySize - 1);
            if (subBits[prefix] < length - primaryBits)
                subBits[prefix] = static_cast<uint8_t>(length - primaryBits);
        }
    }
    uint32_t nextFree = primarySize;
    for (uint32_t prefix = 0; prefix < primarySize; ++prefix) {
        if (subBits[prefix] == 0)
            continue;
        table[prefix] = MakeEntry(KindSubtable, nextFree, subBits[prefix], primaryBits);
        for (uint32_t i = 0; i < (1u << subBits[prefix]); ++i)
            table[nextFree + i] = InvalidEntry;
        nextFree += 1u << subBits[prefix];
    }
    for (int s = 0; s < enterCount; ++s) {
        int length = lengths[s];
        if (length == 0)
            continue;
        uint32_t reversed = ReverseBits(codes[s], length);
        uint32_t entry = templates[s] | static_cast<uint32_t>(length);
        if (length <= primaryBits) {
            for (uint32_t i = reversed; i < primarySize; i += 1u << length)
                table[i] = entry;
        } else {
            uint32_t link = table[reversed & (primarySize - 1)];
            uint32_t base = link >> 16;
            uint32_t size = 1u << ((link >> 8) & 15);
            for (uint32_t i = reversed >> primaryBits; i < size; i += 1u << (length - primaryBits))
                table[base + i] = entry;
        }
    }
    return true;
}

void PrepareTables() {
    for (uint32_t s = 0; s < 256; ++s)
        LiteralTemplates[s] = MakeEntry(KindLiteral, s, 0, 0);
    LiteralTemplates[256] = MakeEntry(KindEnd, 0, 0, 0);
    for (int s = 257; s < 286; ++s)
        LiteralTemplates[s] = MakeEntry(KindBase, LengthBase[s - 257], LengthExtraBits[s - 257], 0);
    LiteralTemplates[286] = LiteralTemplates[287] = InvalidEntry;
    for (int s = 0; s < 30; ++s)
        DistanceTemplates[s] = MakeEntry(KindBase, DistanceBase[s], DistanceExtraBits[s], 0);
    for (uint32_t s = 0; s < 19; ++s)
        CodeLengthTemplates[s] = MakeEntry(KindLiteral, s, 0, 0);

    uint8_t lengths[288];
    for (int s = 0; s < 288; ++s)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    BuildTable(lengths, 288, 286, LiteralTemplates, FixedLiteralTable, LiteralBits);
    for (int s = 0; s < 30; ++s)
        lengths[s] = 5;
    BuildTable(lengths, 30, 30, DistanceTemplates, FixedDistanceTable, DistanceBits);
    TablesReady = true;
}

int64_t Fail(const char* why) {
    ErrorText = why;
    return -1;
}

// Reads a dynamic block's code lengths and builds its tables.
bool ReadDynamicCodes(BitReader& r) {
    Refill(r);
    uint32_t literalCount = ReadBits(r, 5) + 257;
    uint32_t distanceCount = ReadBits(r, 5) + 1;
    uint32_t codeLengthCount = ReadBits(r, 4) + 4;
    uint8_t codeLengthLengths[19] = {};
    for (uint32_t i = 0; i < codeLengthCount; ++i)
        codeLengthLengths[CodeLengthOrder[i]] = static_cast<uint8_t>(ReadBits(r, 3));
    if (!BuildTable(codeLengthLengths, 19, 19, CodeLengthTemplates, CodeLengthTable, CodeLengthBits)) {
        ErrorText = "over-subscribed code-length code";
        return false;
    }

    // A repeat may run past the declared total; the surplus is never used. 319 + 138 entries at most.
    uint8_t sequence[458];
    uint32_t total = literalCount + distanceCount;
    uint32_t n = 0;
    while (n < total) {
        Refill(r);
        if (Overrun(r)) {
            ErrorText = "stream ends early";
            return false;
        }
        uint32_t symbol;
        if (DecodeSymbol(r, CodeLengthTable, CodeLengthBits, &symbol) == KindInvalid) {
            ErrorText = "invalid code-length code";
            return false;
        }
        if (symbol < 16) {
            sequence[n++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat;
        uint8_t value = 0;
        if (symbol == 16) {
            if (n == 0) {
                ErrorText = "length repeat with no previous length";
                return false;
            }
            value = sequence[n - 1];
            repeat = 3 + ReadBits(r, 2);
        } else if (symbol == 17) {
            repeat = 3 + ReadBits(r, 3);
        } else {
            repeat = 11 + ReadBits(r, 7);
        }
        std::memset(sequence + n, value, repeat);
        n += repeat;
    }
    if (Overrun(r)) {
        ErrorText = "stream ends early";
        return false;
    }

    // Lengths for literal/length symbols 286, 287 and distance symbols 30, 31 are read but given no code.
    uint8_t literalLengths[286] = {};
    uint8_t distanceLengths[30] = {};
    std::memcpy(literalLengths, sequence, literalCount < 286 ? literalCount : 286);
    std::memcpy(distanceLengths, sequence + literalCount, distanceCount < 30 ? distanceCount : 30);
    if (!BuildTable(literalLengths, 286, 286, LiteralTemplates, LiteralTable, LiteralBits)) {
        ErrorText = "over-subscribed literal/length code";
        return false;
    }
    // A broken distance code matters only if the block has a match; its table is then all invalid entries.
    DistanceFault = BuildTable(distanceLengths, 30, 30, DistanceTemplates, DistanceTable, DistanceBits)
                        ? "invalid distance code"
                        : "over-subscribed distance code";
    return true;
}

// Copies a back-reference; with distance shorter than length the copy repeats the latest bytes, as a byte-by-byte
// copy would.
inline void CopyMatch(uint8_t* dst, uint32_t distance, uint32_t length) {
    const uint8_t* src = dst - distance;
    if (distance >= 8) {
        // Source and destination of each 8-byte step never overlap, and each step's source is already written.
        while (length >= 8) {
            std::memcpy(dst, src, 8);
            dst += 8;
            src += 8;
            length -= 8;
        }
        while (length--)
            *dst++ = *src++;
    } else if (distance == 1) {
        std::memset(dst, *src, length);
    } else {
        while (length--)
            *dst++ = *src++;
    }
}

} // namespace

void AssignCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
    uint32_t lengthCount[16] = {};
    for (int s = 0; s < count; ++s)
        lengthCount[lengths[s]]++;
    lengthCount[0] = 0;
    uint32_t next[16];
    next[0] = 0;
    for (int b = 1; b < 16; ++b)
        next[b] = (next[b - 1] + lengthCount[b - 1]) << 1;
    for (int s = 0; s < count; ++s)
        codes[s] = lengths[s] ? static_cast<uint16_t>(next[lengths[s]]++) : 0;
}

const char* InflateError() {
    return ErrorText;
}

int64_t Inflate(const uint8_t* stream, size_t streamLength, uint8_t* output, uint32_t start) {
    if (!TablesReady)
        PrepareTables();
    ErrorText = "";
    // The two header bytes are skipped unread: no FCHECK, FDICT or method check, and no Adler-32 at the end.
    size_t headerLength = streamLength < 2 ? streamLength : 2;
    BitReader r{stream + headerLength, streamLength - headerLength, 0, 0, 0};
    const uint32_t limit = OutputLimit;
    uint32_t o = start;

    for (;;) {
        if (o >= limit)
            return o;
        Refill(r);
        uint32_t final = ReadBits(r, 1);
        uint32_t type = ReadBits(r, 2);
        if (Overrun(r))
            return Fail("stream ends early");

        if (type == 0) {
            // Stored: LEN at the next byte boundary, NLEN skipped unread.
            uint32_t drop = r.count & 7;
            r.bits >>= drop;
            r.count -= drop;
            size_t q = r.next - r.count / 8;
            r.bits = 0;
            r.count = 0;
            if (q + 4 > r.length)
                return Fail("stream ends early");
            uint32_t length = r.data[q] | uint32_t(r.data[q + 1]) << 8;
            uint32_t copy = length < limit - o ? length : limit - o;
            if (q + 4 + copy > r.length)
                return Fail("stream ends early");
            std::memcpy(output + o, r.data + q + 4, copy);
            o += copy;
            if (copy < length) // the output is full; nothing more is read
                return o;
            r.next = q + 4 + length;
            if (final)
                return o;
            continue;
        }
        if (type == 3)
            return Fail("invalid block type");

        const uint32_t* literalTable = FixedLiteralTable;
        const uint32_t* distanceTable = FixedDistanceTable;
        const char* distanceFault = "invalid distance code";
        if (type == 2) {
            if (!ReadDynamicCodes(r))
                return -1;
            literalTable = LiteralTable;
            distanceTable = DistanceTable;
            distanceFault = DistanceFault;
        }

        bool full = false;
        for (;;) {
            if (o >= limit) {
                full = true;
                break;
            }
            // A refill leaves at least 56 bits: a literal (at most 15) and then a length code with its extra bits
            // (at most 20), or a length code and a distance with its extra bits (at most 28).
            if (!RefillChecked(r))
                return Fail("stream ends early");
            uint32_t value;
            uint32_t kind = DecodeSymbol(r, literalTable, LiteralBits, &value);
            if (kind == KindLiteral) {
                output[o++] = static_cast<uint8_t>(value);
                if (o >= limit)
                    continue;
                kind = DecodeSymbol(r, literalTable, LiteralBits, &value);
                if (kind == KindLiteral) {
                    output[o++] = static_cast<uint8_t>(value);
                    continue;
                }
            }
            if (kind == KindEnd)
                break;
            if (kind != KindBase)
                return Fail("invalid literal/length code");
            uint32_t length = value;
            if (r.count < 28 && !RefillChecked(r))
                return Fail("stream ends early");
            uint32_t distance;
            if (DecodeSymbol(r, distanceTable, DistanceBits, &distance) != KindBase)
                return Fail(distanceFault);
            if (distance > o)
                return Fail("distance reaches before the output buffer");
            if (length > limit - o)
                length = limit - o;
            CopyMatch(output + o, distance, length);
            o += length;
        }
        if (Overrun(r))
            return Fail("stream ends early");
        if (full || final)
            return o;
    }
}
