// zlib/DEFLATE decoding into a caller-sized buffer that doubles as the history window.
//
// Huffman codes are decoded through lookup tables (a primary table indexed by the next bits of the stream, with
// subtables for longer codes) instead of a bit-by-bit tree walk; for every well-formed stream the result is the same
// as walking the canonical-code tree. Bits come from a machine-word buffer refilled with one word load.
//
// Each Huffman block runs in two loops. The fast loop runs while at least FastInputMargin bytes of input are left:
// there no symbol can read past the input, so it refills without branches and without checks; it takes two
// literals at a time where their codes fit in one table index together, and copies matches a word at a time,
// overshooting their end, while they leave room for that. The careful loop finishes the block near the end of the
// input: it checks every bound, writes exactly, and feeds zeros past the end of the input, refusing the stream once
// it has used a bit that is not there.
#include "image/inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/cpu.h"

static_assert(std::endian::native == std::endian::little, "the bit reader loads little-endian words");

uint32_t OutputLimit;
int InflatePath = 1;

namespace {

// The bit buffer is a machine word: 64 bits on 64-bit targets, 32 on i686, where it is refilled more often.
#if UINTPTR_MAX > 0xFFFFFFFFu
using BitWord = uint64_t;
#else
using BitWord = uint32_t;
#endif
constexpr uint32_t WordBits = sizeof(BitWord) * 8;
constexpr bool WideWord = WordBits == 64;
// A refill leaves at least this many bits in the buffer.
constexpr uint32_t RefilledBits = WordBits - 8;

// A table entry: bits 0..4 the bits it consumes (code length plus extra bits), bit 7 the Pair flag, 8..11 the code
// length (for a subtable link: the subtable's index width), 12..15 flags, 16..31 value (literal or code-length
// symbol, length or distance base, subtable offset). Subtable links, the end of block and invalid codes all carry
// Exceptional, so that the common kinds need one test each. A Pair entry holds two literals, the first in bits
// 16..23 and the second in 24..31, and consumes both codes; the first code alone is as long as the code length
// field says. The Pair flag lies above the bits a shift by the entry takes and below the ones the fast loop keeps
// exact in its bit count (see FastLoop). Length and distance entries have bits 5..7 and 12..13 clear, so that their
// low byte and their second byte can serve as bit counts unmasked (see EntryValue).
//
// A Match entry stands for a length code, its extra bits and the distance code after them, where all three fit in
// the index: it consumes them and the distance's extra bits, and holds the length in bits 16..24. The entry at the
// same index in the table's match part (MatchOffset) is a distance entry whose consumed bits and code length count
// from the start of the length code. So a match takes one lookup, not two.
enum : uint32_t {
    Pair = 0x80,
    EndOfBlock = 0x1000,
    Literal = 0x2000,
    Subtable = 0x4000,
    Exceptional = 0x8000,
    Match = 0x80000000
};

constexpr uint32_t InvalidEntry = Exceptional;

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
constexpr int LiteralBits = 11;
constexpr int DistanceBits = 8;
constexpr int CodeLengthBits = 7;
constexpr int LiteralTableSize = (1 << LiteralBits) + 288 * (1 << (15 - LiteralBits));
constexpr int DistanceTableSize = (1 << DistanceBits) + 30 * (1 << (15 - DistanceBits));

// The fast loop's margins. Per round it refills at most three times with a 64-bit word and six times with a 32-bit
// one, each load reading one word and advancing at most one word less a byte. It takes at most three literal
// entries, each stored as two bytes and reading the byte after them (up to six literals, touching seven bytes), or
// two and a match of up to 258 bytes whose word-wide copy runs up to CopyOvershoot bytes past its end, after
// reading the 32 bytes from there on (see FastLoop), and it leaves a byte before the limit. Within FastOutputMargin
// of the end of the output a second instance of the loop copies matches exactly.
constexpr size_t MaxRefillsPerRound = WideWord ? 3 : 6;
constexpr size_t FastInputMargin = (MaxRefillsPerRound - 1) * (sizeof(BitWord) - 1) + sizeof(BitWord);
constexpr uint32_t CopyOvershoot = 32;
constexpr uint32_t FastOutputMargin = 4 + 258 + 32 + 1;
static_assert(CopyOvershoot <= 32, "the bytes a copy runs into are kept 32 at a time");
static_assert(!WideWord || RefilledBits - 2 * LiteralBits >= 28, "two literals between refills leave a step's bits");
constexpr uint32_t TailOutputMargin = 7;
// The share of literals, in percent, that must be able to pair for a block to have pairs, and the input that must be
// left.
constexpr uint32_t PairShare = 30;
constexpr size_t PairInput = 4096;

// Templates give each symbol's entry without its code length: flags, value and, in the consumed-bits field, the
// number of extra bits.
uint32_t LiteralTemplates[288];
uint32_t DistanceTemplates[30];
uint32_t CodeLengthTemplates[19];
uint8_t ReversedByte[256];

// A block's tables: the literal/length table and after it the distance table, which the decoding loops find at a
// fixed offset from the first (one register fewer in the fast loop).
constexpr int DistanceTableOffset = LiteralTableSize;
constexpr int MatchOffset = LiteralTableSize + DistanceTableSize;
uint32_t BlockTables[MatchOffset + (1 << LiteralBits)];
uint32_t FixedTables[MatchOffset + (1 << LiteralBits)];
uint32_t CodeLengthTable[1 << CodeLengthBits];
bool TablesReady;
// Whether BlockTables holds literal pairs.
bool BlockPairs;

const char* ErrorText = "";
const char* DistanceFault = "";

struct BitReader {
    const uint8_t* data; // the piece of the stream being read
    size_t length;       // its bytes
    size_t next;         // next byte to load; runs past length while zeros are fed after the last piece
    BitWord bits;        // unused bits, next one lowest; bits above count are either 0 or the true next bits
    uint32_t count;
    const InflateSource* more; // where the other pieces come from; null once there are none
};

// Moves on to the next piece that has bytes; false when there is none.
bool NextPiece(BitReader& r) {
    size_t length = 0;
    while (r.more) {
        const uint8_t* piece = r.more->next(r.more->context, &length);
        if (!piece)
            r.more = nullptr;
        else if (length > 0) {
            r.data = piece;
            r.length = length;
            r.next = 0;
            return true;
        }
    }
    return false;
}

inline BitWord LoadWord(const uint8_t* p) {
    BitWord word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Tops the buffer up to at least RefilledBits with one word load; the caller guarantees a word of input at next.
// The bytes that do not fit are loaded again by the next refill: ORing them in is harmless, as the bits above count
// are already those bytes or zero.
inline void RefillFast(const uint8_t* data, size_t& next, BitWord& bits, uint32_t& count) {
    bits |= LoadWord(data + next) << count;
    next += (WordBits - 1 - count) >> 3;
    count |= RefilledBits;
}

// Keeps at least RefilledBits bits in the buffer, a byte at a time across pieces, feeding zeros past the end of the
// last one.
inline void Refill(BitReader& r) {
    if (r.next + sizeof(BitWord) <= r.length) {
        RefillFast(r.data, r.next, r.bits, r.count);
        return;
    }
    while (r.count <= RefilledBits) {
        if (r.next >= r.length && r.more && NextPiece(r))
            continue;
        BitWord byte = r.next < r.length ? r.data[r.next] : 0;
        r.bits |= byte << r.count;
        r.count += 8;
        r.next++;
    }
}

// True once a bit beyond the end of the input has been used. Zeros are fed only after the last piece.
inline bool Overrun(const BitReader& r) {
    return r.next > r.length && (r.next - r.length) * 8 > r.count;
}

// Takes n (at most RefilledBits) bits, first stream bit lowest.
inline uint32_t ReadBits(BitReader& r, uint32_t n) {
    if (r.count < n)
        Refill(r);
    uint32_t v = static_cast<uint32_t>(r.bits & ((BitWord(1) << n) - 1));
    r.bits >>= n;
    r.count -= n;
    return v;
}

// The entry for the next code: follows a subtable link, consuming the primary bits. The buffer must hold 15 bits.
inline uint32_t LookUp(const uint32_t* table, int primaryBits, BitWord& bits, uint32_t& count) {
    uint32_t e = table[bits & ((1u << primaryBits) - 1)];
    if ((e & (Exceptional | Subtable)) == (Exceptional | Subtable)) {
        bits >>= primaryBits;
        count -= primaryBits;
        e = table[(e >> 16) + (bits & ((1u << ((e >> 8) & 15)) - 1))];
    }
    return e;
}

// The value of a length or distance entry: its base plus the extra bits after its code, of the bits it consumes
// (its low byte, at most 28) those above the code (its second byte).
inline uint32_t EntryValue(uint32_t e, BitWord bits) {
    return (e >> 16) + static_cast<uint32_t>((bits & ((BitWord(1) << (e & 0xFF)) - 1)) >> ((e >> 8) & (WordBits - 1)));
}

// The same, consuming the bits.
inline uint32_t TakeValue(uint32_t e, BitWord& bits, uint32_t& count) {
    const uint32_t value = EntryValue(e, bits);
    bits >>= e & 31;
    count -= e & 31;
    return value;
}

uint32_t ReverseCode(uint32_t code, int length) {
    return (uint32_t(ReversedByte[code & 0xFF]) << 8 | ReversedByte[code >> 8]) >> (16 - length);
}

// Canonical codes for symbols 0..count-1 entered into table. An over-subscribed set leaves the primary table
// invalid and returns false; an incomplete set leaves the unused bit patterns invalid.
//
// Codes are placed in canonical order, shortest first. The primary table grows by doubling: once the codes of
// length n are in its first 2^n entries, copying those entries up fills 2^(n+1) entries with every shorter code
// repeated as its unused high bits demand, and the codes of length n+1 land on entries still invalid.
bool BuildTable(const uint8_t* lengths, int count, const uint32_t* templates, uint32_t* table, int primaryBits) {
    // Two histograms, so that runs of equal lengths do not wait on one counter.
    uint32_t lengthCount[16] = {}, oddCount[16] = {};
    int s = 0;
    for (; s + 1 < count; s += 2) {
        lengthCount[lengths[s]]++;
        oddCount[lengths[s + 1]]++;
    }
    if (s < count)
        lengthCount[lengths[s]]++;
    for (int b = 1; b < 16; ++b)
        lengthCount[b] += oddCount[b];
    int32_t left = 1;
    for (int b = 1; b < 16; ++b) {
        left = left * 2 - int32_t(lengthCount[b]);
        if (left < 0) {
            for (uint32_t i = 0; i < (1u << primaryBits); ++i)
                table[i] = InvalidEntry;
            return false;
        }
    }
    const bool complete = left == 0;
    uint16_t offset[17];
    offset[1] = 0;
    for (int b = 1; b < 16; ++b)
        offset[b + 1] = static_cast<uint16_t>(offset[b] + lengthCount[b]);
    const int used = offset[16];
    uint16_t sorted[288];
    for (int s = 0; s < count; ++s)
        if (lengths[s])
            sorted[offset[lengths[s]]++] = static_cast<uint16_t>(s);

    // Primary table: codes of length 1..primaryBits, doubling from the shortest length in use.
    int first = 1;
    while (first < primaryBits && lengthCount[first] == 0)
        ++first;
    for (uint32_t k = 0; k < (1u << first); ++k)
        table[k] = InvalidEntry;
    uint32_t code = 0;
    int i = 0;
    for (int length = first; length <= primaryBits; ++length, code <<= 1) {
        const uint32_t half = 1u << (length - 1);
        if (length > first && half < 4)
            for (uint32_t k = 0; k < half; ++k)
                table[half + k] = table[k];
        else if (length > first)
            for (uint32_t k = 0; k < half; k += 4)
                std::memcpy(table + half + k, table + k, 16);
        for (; i < used && lengths[sorted[i]] == length; ++i, ++code)
            table[ReverseCode(code, length)] = templates[sorted[i]] + (uint32_t(length) << 8) + uint32_t(length);
    }

    // Subtables: the longer codes sharing a primary prefix follow one another in canonical order, longest last.
    // code is the next code of codeLength bits.
    int codeLength = primaryBits + 1;
    uint32_t nextFree = 1u << primaryBits;
    while (i < used) {
        int length = lengths[sorted[i]];
        const uint32_t prefix = (code << (length - codeLength)) >> (length - primaryBits);
        int end = i;
        for (uint32_t c = code, cLength = codeLength; end < used; ++end, ++c) {
            const uint32_t l = lengths[sorted[end]];
            c <<= l - cLength;
            cLength = l;
            if (c >> (l - primaryBits) != prefix)
                break;
        }
        const int subBits = lengths[sorted[end - 1]] - primaryBits;
        uint32_t* sub = table + nextFree;
        table[ReverseCode(prefix, primaryBits)] =
            nextFree << 16 | Exceptional | Subtable | uint32_t(subBits) << 8 | uint32_t(primaryBits);
        nextFree += 1u << subBits;
        if (!complete)
            for (uint32_t k = 0; k < (1u << subBits); ++k)
                sub[k] = InvalidEntry;
        for (; i < end; ++i, ++code) {
            length = lengths[sorted[i]];
            code <<= length - codeLength;
            codeLength = length;
            const uint32_t entry =
                templates[sorted[i]] + (uint32_t(length - primaryBits) << 8) + uint32_t(length - primaryBits);
            for (uint32_t k = ReverseCode(code, length) >> primaryBits; k < (1u << subBits);
                 k += 1u << (length - primaryBits))
                sub[k] = entry;
        }
    }
    return true;
}

// Literal pairs in a literal/length primary table built from lengths: where a literal's code leaves room in the
// index for the whole code of a second literal, the entry takes both. The entries of a first literal are those
// indexed by its code and any higher bits; those higher bits index the second code's entry in the table as
// BuildTable left it, of which a copy is kept while the pairs are written.
//
// Pairs pay only where literals come in runs, and in blocks long enough to repay the table: a code of length n
// stands for a symbol of probability about 2^-n, so the lengths tell how often a literal is followed by one that
// pairs with it, and the input left bounds the block's length. Below PairShare of the literals, or with less than
// PairInput bytes of input left, no pairs are made, and false is returned.
bool PairLiterals(const uint8_t* lengths, uint32_t* table, size_t inputLeft) {
    if (InflatePath == 0 || (InflatePath == 1 && inputLeft < PairInput))
        return false;
    // Probabilities in units of 2^-15.
    uint32_t mass[16] = {};
    int shortest = 16;
    for (int s = 0; s < 256; ++s) {
        mass[lengths[s]] += 1u << (15 - lengths[s]);
        if (lengths[s] && lengths[s] < shortest)
            shortest = lengths[s];
    }
    mass[0] = 0;
    uint32_t upTo[16] = {}, literalMass = 0;
    uint64_t pairMass = 0;
    for (int n = 1; n < 16; ++n)
        upTo[n] = upTo[n - 1] + mass[n];
    for (int n = 1; n < LiteralBits; ++n) {
        literalMass += mass[n];
        pairMass += uint64_t(mass[n]) * upTo[LiteralBits - n];
    }
    if (shortest + shortest > LiteralBits ||
        (InflatePath == 1 && pairMass < uint64_t(literalMass) * PairShare * (1u << 15) / 100))
        return false;
    uint32_t single[1 << (LiteralBits - 1)];
    std::memcpy(single, table, sizeof(uint32_t) << (LiteralBits - shortest));
    uint16_t codes[286];
    AssignCanonicalCodes(lengths, 286, codes);
    for (int s = 0; s < 256; ++s) {
        const uint32_t length = lengths[s];
        if (length == 0 || length + shortest > LiteralBits)
            continue;
        const uint32_t room = LiteralBits - length, code = ReverseCode(codes[s], length);
        const uint32_t first = table[code];
        for (uint32_t j = 0; j < (1u << room); ++j) {
            const uint32_t second = single[j];
            const bool fits = (second & Literal) && (second & 31) <= room;
            table[code + (j << length)] = fits ? (first | Pair | (second & 0xFF0000) << 8) + (second & 31) : first;
        }
    }
    return true;
}

// Match entries in a block's literal/length primary table (see Match), built from its lengths once both tables are:
// for each length code, each value of its extra bits and each value of the index bits above them whose distance
// entry has a code that ends within the index.
void FuseMatches(const uint8_t* lengths, uint32_t* tables) {
    uint16_t codes[286];
    AssignCanonicalCodes(lengths, 286, codes);
    for (int s = 257; s < 286; ++s) {
        const uint32_t length = lengths[s], extra = LengthExtraBits[s - 257];
        if (length == 0 || length + extra >= LiteralBits)
            continue;
        const uint32_t code = ReverseCode(codes[s], int(length)), lengthBits = length + extra;
        const uint32_t room = std::min<uint32_t>(LiteralBits - lengthBits, DistanceBits);
        for (uint32_t high = 0; high < (1u << (LiteralBits - length)); ++high) {
            const uint32_t index = code | high << length;
            const uint32_t d = tables[DistanceTableOffset + ((high >> extra) & ((1u << DistanceBits) - 1))];
            if ((d & Exceptional) || ((d >> 8) & 15) > room)
                continue;
            const uint32_t value = LengthBase[s - 257] + (high & ((1u << extra) - 1));
            const uint32_t consumed = lengthBits + (d & 31);
            tables[index] = Match | value << 16 | consumed;
            tables[MatchOffset + index] = (d & 0xFFFF0000) | (lengthBits + ((d >> 8) & 15)) << 8 | consumed;
        }
    }
}

void PrepareTables() {
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t reversed = 0;
        for (int k = 0; k < 8; ++k)
            reversed |= ((b >> k) & 1) << (7 - k);
        ReversedByte[b] = static_cast<uint8_t>(reversed);
    }
    for (uint32_t s = 0; s < 256; ++s)
        LiteralTemplates[s] = s << 16 | Literal;
    LiteralTemplates[256] = Exceptional | EndOfBlock;
    for (int s = 257; s < 286; ++s)
        LiteralTemplates[s] = uint32_t(LengthBase[s - 257]) << 16 | LengthExtraBits[s - 257];
    LiteralTemplates[286] = LiteralTemplates[287] = InvalidEntry;
    for (int s = 0; s < 30; ++s)
        DistanceTemplates[s] = uint32_t(DistanceBase[s]) << 16 | DistanceExtraBits[s];
    for (uint32_t s = 0; s < 19; ++s)
        CodeLengthTemplates[s] = s << 16 | Literal;

    // Symbols 286 and 287 take part in the fixed code but decode as invalid.
    uint8_t lengths[288];
    for (int s = 0; s < 288; ++s)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    BuildTable(lengths, 288, LiteralTemplates, FixedTables, LiteralBits);
    for (int s = 0; s < 30; ++s)
        lengths[s] = 5;
    BuildTable(lengths, 30, DistanceTemplates, FixedTables + DistanceTableOffset, DistanceBits);
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
    if (!BuildTable(codeLengthLengths, 19, CodeLengthTemplates, CodeLengthTable, CodeLengthBits)) {
        ErrorText = "over-subscribed code-length code";
        return false;
    }

    // A repeat may run past the declared total; the surplus is never used. 319 + 138 entries at most.
    uint8_t sequence[458];
    uint32_t total = literalCount + distanceCount;
    uint32_t n = 0;
    while (n < total) {
        // A code-length code and its extra bits take at most 14 bits. Refills keep the number of missing bits, so
        // checking for them at each refill and at the end finds every overrun.
        if (r.count < 14) {
            Refill(r);
            if (Overrun(r)) {
                ErrorText = "stream ends early";
                return false;
            }
        }
        // Code-length codes are at most 7 bits: no subtables. Their extra bits need at most 7 more.
        uint32_t e = CodeLengthTable[r.bits & ((1u << CodeLengthBits) - 1)];
        if (e & Exceptional) {
            ErrorText = "invalid code-length code";
            return false;
        }
        r.bits >>= e & 31;
        r.count -= e & 31;
        uint32_t symbol = e >> 16;
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
    if (!BuildTable(literalLengths, 286, LiteralTemplates, BlockTables, LiteralBits)) {
        ErrorText = "over-subscribed literal/length code";
        return false;
    }
    // A broken distance code matters only if the block has a match; its table is then all invalid entries.
    DistanceFault = BuildTable(distanceLengths, 30, DistanceTemplates, BlockTables + DistanceTableOffset, DistanceBits)
                        ? "invalid distance code"
                        : "over-subscribed distance code";
    const size_t inputLeft = r.more ? SIZE_MAX : r.length - std::min(r.next, r.length);
    BlockPairs = PairLiterals(literalLengths, BlockTables, inputLeft);
    if (InflatePath == 2 || (InflatePath == 1 && inputLeft >= PairInput))
        FuseMatches(literalLengths, BlockTables);
    return true;
}

// Copies a back-reference exactly; with distance shorter than length the copy repeats the latest bytes, as a
// byte-by-byte copy would.
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

// For a distance d below 8: the largest multiple of d that is at most 8.
const uint8_t PatternStep[8] = {0, 8, 8, 6, 8, 5, 6, 7};

// Copies a back-reference whose distance d is below 8 in 8-byte stores, writing up to 7 bytes past its end: the
// pattern of d bytes is widened to 8 bytes once and stored at steps that are multiples of d. Kept out of line: in
// the fast loop its registers would crowd out the decoder's.
[[gnu::noinline]] void CopyPattern(uint8_t* dst, uint32_t distance, uint32_t length) {
    const uint8_t* src = dst - distance;
    uint8_t* const end = dst + length;
    uint64_t pattern;
    std::memcpy(&pattern, src, 8); // only the first `distance` bytes are the match's; the rest are masked off
    if (distance == 1) {
        pattern = (pattern & 0xFF) * 0x0101010101010101u;
    } else {
        pattern &= (uint64_t(1) << (8 * distance)) - 1;
        pattern |= pattern << (8 * distance);
        if (distance < 4)
            pattern |= pattern << (16 * distance);
    }
    const uint32_t step = PatternStep[distance];
    do {
        std::memcpy(dst, &pattern, 8);
        dst += step;
    } while (dst < end);
}

// Copies a back-reference a word at a time, writing up to CopyOvershoot bytes past its end. From a distance of 32 on
// the first 32 bytes go without a test of the length, as most matches are shorter; below, 16 at a time. From a
// distance of 8 on, each load ends at or before the bytes the previous store wrote.
inline void CopyMatchFast(uint8_t* dst, uint32_t distance, uint32_t length) {
    if (distance < 8) {
        CopyPattern(dst, distance, length);
        return;
    }
    const uint8_t* src = dst - distance;
    uint8_t* const end = dst + length;
    if (distance >= 32) {
        std::memcpy(dst, src, 8);
        std::memcpy(dst + 8, src + 8, 8);
        std::memcpy(dst + 16, src + 16, 8);
        std::memcpy(dst + 24, src + 24, 8);
        dst += 32;
        src += 32;
        while (dst < end) {
            std::memcpy(dst, src, 8);
            std::memcpy(dst + 8, src + 8, 8);
            dst += 16;
            src += 16;
        }
        return;
    }
    do {
        std::memcpy(dst, src, 8);
        std::memcpy(dst + 8, src + 8, 8);
        dst += 16;
        src += 16;
    } while (dst < end);
}

enum BlockStatus { BlockGoesOn, BlockEnded, BlockFailed };

// Sixteen bytes that the compiler keeps in a register.
typedef uint8_t Block16 __attribute__((vector_size(16)));

// The fast loop: runs the block while both margins hold. Works on copies of the reader's fields, which stores into
// the output could otherwise be taken to change.
//
// Within the loop only count modulo the word size is kept exact: entries are subtracted whole (below the Pair flag
// their low byte is the number of bits they consume, never more than count), and shifts take count and entries
// modulo the word size.
//
// Every step starts with its entry already looked up. With a 64-bit word each entry is looked up before the refill
// that follows the code before it, so that the refill, which waits on the count, stays off the chain of lookups
// that each wait on the one before: a step starts with at least 28 bits, which a literal code (at most 15) and the
// next lookup, or a length code with its extra bits (at most 20) and the distance table's index need, and refills
// after the first lookup; a match's distance (at most 28 bits) leaves 28 of a refill's 56. A 32-bit word refills
// before each lookup instead.
//
// Stores run past the output position, and what they overwrite is put back when the loop ends: a match's word-wide
// copy runs up to CopyOvershoot bytes past its end (its bytes are kept beforehand, see keepOriginals); with Pairs a
// literal entry is stored as two bytes and the output moves on by one or two, so the byte at the new position may
// have been overwritten (`spare` keeps what it held). The instance for the tail of the output copies matches
// exactly.
template <bool Tail, bool Pairs>
[[gnu::always_inline]] inline BlockStatus FastLoop(BitReader& r, const uint32_t* tables, const char* distanceFault,
                                                   uint8_t* output, uint32_t& o, uint32_t limit) {
    constexpr uint32_t OutputMargin = Tail ? TailOutputMargin : FastOutputMargin;
    if (limit - o < OutputMargin || r.length < FastInputMargin || r.next > r.length - FastInputMargin)
        return BlockGoesOn;
    constexpr uint32_t LiteralMask = (1u << LiteralBits) - 1, DistanceMask = (1u << DistanceBits) - 1;
    constexpr uint32_t ShiftMask = WordBits - 1;
    const uint8_t* in = r.data + r.next;
    const uint8_t* const inputLast = r.data + (r.length - FastInputMargin);
    uint8_t* out = output + o;
    uint8_t* const outputEnd = output + limit;
    uint8_t* const outputLast = outputEnd - OutputMargin;
    BitWord bits = r.bits;
    uint32_t count = r.count;
    BlockStatus status = BlockGoesOn;
    uint8_t spare = *out;
    // What the output held past the position, where the copies' stores run ahead: `frontier` is the first byte no
    // store has reached, and originals[64 + a % 64] holds what byte a held, for a from the position to the frontier.
    // Each copy first keeps the 32 bytes from its end or the frontier on: they are loaded from output no store has
    // reached, so never wait on one, and written twice so that no save wraps around.
    uint8_t originals[160];
    uint8_t* frontier = out;
    auto keepOriginals = [&](uint8_t * end) __attribute__((always_inline)) {
        uint8_t* const from = std::max(frontier, end);
        const size_t at = size_t(reinterpret_cast<uintptr_t>(from) & 63);
        Block16 low, high;
        std::memcpy(&low, from, 16);
        std::memcpy(&high, from + 16, 16);
        std::memcpy(originals + at, &low, 16);
        std::memcpy(originals + at + 16, &high, 16);
        std::memcpy(originals + 64 + at, &low, 16);
        std::memcpy(originals + 64 + at + 16, &high, 16);
        frontier = std::max(frontier, end + 32);
    };
    // One word load; the bytes that do not fit are loaded again next time (see RefillFast).
    auto refill = [&]() __attribute__((always_inline)) {
        bits |= LoadWord(in) << (count & ShiftMask);
        in += (~count & ShiftMask) >> 3;
        count |= RefilledBits;
    };
    auto consume = [&](uint32_t e) __attribute__((always_inline)) {
        bits >>= e & ShiftMask;
        count -= e;
    };
    // The entry of the next code in table, and the refill that ends a step.
    auto lookUpAndRefill = [&](const uint32_t* table, uint32_t mask) __attribute__((always_inline)) {
        uint32_t e;
        if constexpr (WideWord) {
            e = table[bits & mask];
            refill();
        } else {
            refill();
            e = table[bits & mask];
        }
        return e;
    };
    auto literals = [&](uint32_t e) __attribute__((always_inline)) {
        consume(e);
        if constexpr (Pairs) {
            const uint32_t n = 1 + (e >> 7 & 1);
            spare = out[n];
            const uint16_t both = static_cast<uint16_t>(e >> 16);
            std::memcpy(out, &both, 2);
            out += n;
        } else {
            *out++ = static_cast<uint8_t>(e >> 16);
        }
    };
    refill();
    uint32_t e = tables[bits & LiteralMask];
    while (in <= inputLast && out <= outputLast) {
        if (e & Literal) {
            // Up to three literal entries between tests of the margins. A primary-table literal entry takes at
            // most LiteralBits bits, so with a 64-bit word the refill after the first leaves enough for the other
            // two and the 28 bits a step starts with: their lookups skip the refill, which would lengthen the chain
            // from one lookup to the next.
            literals(e);
            e = lookUpAndRefill(tables, LiteralMask);
            if (e & Literal) {
                literals(e);
                e = WideWord ? tables[bits & LiteralMask] : lookUpAndRefill(tables, LiteralMask);
                if (e & Literal) {
                    literals(e);
                    e = WideWord ? tables[bits & LiteralMask] : lookUpAndRefill(tables, LiteralMask);
                    continue;
                }
            }
        }
        if (e & Exceptional) {
            if (e & Subtable) {
                bits >>= LiteralBits;
                count -= LiteralBits;
                e = tables[(e >> 16) + (bits & ((1u << ((e >> 8) & 15)) - 1))];
                if (e & Literal) {
                    literals(e);
                    e = lookUpAndRefill(tables, LiteralMask);
                    continue;
                }
            }
            if (e & EndOfBlock) {
                consume(e);
                status = BlockEnded;
                break;
            }
            if (e & Exceptional) {
                ErrorText = "invalid literal/length code";
                status = BlockFailed;
                break;
            }
        }
        uint32_t length, distance;
        if (e & Match) {
            // At most 24 bits. With a 64-bit word the refill takes the count before them, so that it does not wait
            // on this entry.
            length = (e >> 16) & 0x1FF;
            distance = EntryValue(tables[MatchOffset + (bits & LiteralMask)], bits);
            if constexpr (WideWord)
                refill();
            consume(e);
        } else {
            length = EntryValue(e, bits);
            consume(e);
            e = lookUpAndRefill(tables + DistanceTableOffset, DistanceMask);
            if (e & Exceptional) {
                if (e & Subtable) {
                    bits >>= DistanceBits;
                    count -= DistanceBits;
                    e = tables[DistanceTableOffset + (e >> 16) + (bits & ((1u << ((e >> 8) & 15)) - 1))];
                }
                if (e & Exceptional) {
                    ErrorText = distanceFault;
                    status = BlockFailed;
                    break;
                }
            }
            if constexpr (WideWord) {
                distance = EntryValue(e, bits);
                consume(e);
            } else {
                // Code and extra bits may be 28 bits: take the code, refill, then the extra bits.
                const uint32_t codeLength = (e >> 8) & 15, extra = (e & 31) - codeLength;
                bits >>= codeLength;
                count -= codeLength;
                refill();
                distance = (e >> 16) + static_cast<uint32_t>(bits & ~(~BitWord(0) << extra));
                bits >>= extra;
                count -= extra;
            }
        }
        if (distance > uint32_t(out - output)) {
            ErrorText = "distance reaches before the output buffer";
            status = BlockFailed;
            break;
        }
        // With a 64-bit word at least 28 bits are left: enough for the next step to look up a distance before it
        // refills.
        if constexpr (!WideWord)
            refill();
        e = tables[bits & LiteralMask];
        if constexpr (!Tail) {
            keepOriginals(out + length);
            CopyMatchFast(out, distance, length);
            out += length;
            continue;
        }
        // Near the end of the output: an exact copy, cut at the limit.
        if (length > uint32_t(outputEnd - out))
            length = uint32_t(outputEnd - out);
        CopyMatch(out, distance, length);
        out += length;
        if (out < outputEnd)
            spare = *out;
    }
    if (!Tail && out < frontier) {
        for (uint8_t* a = out; a < frontier; ++a)
            *a = originals[64 + (reinterpret_cast<uintptr_t>(a) & 63)];
    } else if (Pairs && out < outputEnd) {
        *out = spare;
    }
    r.next = static_cast<size_t>(in - r.data);
    r.bits = bits;
    r.count = count & ShiftMask;
    o = static_cast<uint32_t>(out - output);
    return status;
}

// The fast loops of a block: the instance for the bulk of the output, then the one for its tail.
template <bool Pairs>
[[gnu::noinline, gnu::aligned(64)]] BlockStatus DecodeFast(BitReader& r, const uint32_t* tables,
                                                           const char* distanceFault, uint8_t* output, uint32_t& o,
                                                           uint32_t limit) {
    const BlockStatus status = FastLoop<false, Pairs>(r, tables, distanceFault, output, o, limit);
    return status == BlockGoesOn ? FastLoop<true, Pairs>(r, tables, distanceFault, output, o, limit) : status;
}

#if QUIMBLES_X86_DISPATCH
// The same compiled for processors with BMI2, whose shifts by a register leave the flags alone and need not go
// through CL.
template <bool Pairs>
[[gnu::noinline, gnu::target("bmi2"), gnu::aligned(64)]] BlockStatus
DecodeFastBmi2(BitReader& r, const uint32_t* tables, const char* distanceFault, uint8_t* output, uint32_t& o,
               uint32_t limit) {
    const BlockStatus status = FastLoop<false, Pairs>(r, tables, distanceFault, output, o, limit);
    return status == BlockGoesOn ? FastLoop<true, Pairs>(r, tables, distanceFault, output, o, limit) : status;
}
#endif

// A block's fast loops on the path that InflatePath and the processor choose.
BlockStatus DecodeFastBlock(BitReader& r, const uint32_t* tables, const char* distanceFault, uint8_t* output,
                            uint32_t& o, uint32_t limit, bool pairs) {
#if QUIMBLES_X86_DISPATCH
    static const bool bmi2 = __builtin_cpu_supports("bmi2");
    if (bmi2 && InflatePath >= 1)
        return pairs ? DecodeFastBmi2<true>(r, tables, distanceFault, output, o, limit)
                     : DecodeFastBmi2<false>(r, tables, distanceFault, output, o, limit);
#endif
    return pairs ? DecodeFast<true>(r, tables, distanceFault, output, o, limit)
                 : DecodeFast<false>(r, tables, distanceFault, output, o, limit);
}

// The careful loop: one symbol at a time, every bound checked. Sets full when the output reaches the limit.
// Gives the block back to the fast loop once its margins hold again, in the next piece of the input.
[[gnu::noinline]] BlockStatus DecodeCareful(BitReader& r, const uint32_t* tables, const char* distanceFault,
                                            uint8_t* output, uint32_t& o, uint32_t limit, bool& full) {
    for (;;) {
        if (o >= limit) {
            full = true;
            return BlockEnded;
        }
        if (r.next + FastInputMargin <= r.length && limit - o >= FastOutputMargin)
            return BlockGoesOn;
        // A refill leaves at least RefilledBits: a length code with its extra bits (at most 20), and with a 64-bit
        // word the distance after it (at most 28).
        Refill(r);
        if (Overrun(r)) {
            ErrorText = "stream ends early";
            return BlockFailed;
        }
        uint32_t e = LookUp(tables, LiteralBits, r.bits, r.count);
        if (e & Literal) {
            // Of a pair only the first literal, so that every path stops at the same byte of a stream that ends early.
            const uint32_t taken = (e >> 8) & 15;
            r.bits >>= taken;
            r.count -= taken;
            output[o++] = static_cast<uint8_t>(e >> 16);
            continue;
        }
        if (e & EndOfBlock) {
            r.bits >>= e & 31;
            r.count -= e & 31;
            return BlockEnded;
        }
        if (e & Exceptional) {
            ErrorText = "invalid literal/length code";
            return BlockFailed;
        }
        uint32_t length, distance;
        if (e & Match) {
            // At most 24 bits, which a refill leaves with either word.
            length = (e >> 16) & 0x1FF;
            distance = EntryValue(tables[MatchOffset + (r.bits & ((1u << LiteralBits) - 1))], r.bits);
            r.bits >>= e & 31;
            r.count -= e & 31;
        } else {
            length = TakeValue(e, r.bits, r.count);
            if (r.count < 28) {
                Refill(r);
                if (Overrun(r)) {
                    ErrorText = "stream ends early";
                    return BlockFailed;
                }
            }
            e = LookUp(tables + DistanceTableOffset, DistanceBits, r.bits, r.count);
            if (e & Exceptional) {
                ErrorText = distanceFault;
                return BlockFailed;
            }
            if constexpr (WideWord) {
                distance = TakeValue(e, r.bits, r.count);
            } else {
                const uint32_t codeLength = (e >> 8) & 15;
                r.bits >>= codeLength;
                r.count -= codeLength;
                distance = (e >> 16) + ReadBits(r, (e & 31) - codeLength);
            }
        }
        if (distance > o) {
            ErrorText = "distance reaches before the output buffer";
            return BlockFailed;
        }
        if (length > limit - o)
            length = limit - o;
        CopyMatch(output + o, distance, length);
        o += length;
    }
}

// Copies n stored bytes: the whole bytes left in the bit buffer first (but none of the zeros fed past the end of
// the input), then the pieces. False when the input ends first.
bool CopyStored(BitReader& r, uint8_t* to, size_t n) {
    const size_t fed = r.next > r.length ? r.next - r.length : 0;
    for (size_t buffered = r.count / 8 - std::min<size_t>(fed, r.count / 8); n > 0 && buffered > 0; --n, --buffered) {
        *to++ = static_cast<uint8_t>(r.bits);
        r.bits >>= 8;
        r.count -= 8;
    }
    if (n == 0)
        return true;
    if (fed > 0)
        return false;
    // The bits left above the count are bytes about to be copied from the piece.
    r.bits = 0;
    r.count = 0;
    while (n > 0) {
        if (r.next >= r.length && !NextPiece(r))
            return false;
        const size_t take = std::min(n, r.length - r.next);
        std::memcpy(to, r.data + r.next, take);
        to += take;
        r.next += take;
        n -= take;
    }
    return true;
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
    return Inflate(stream, streamLength, InflateSource{}, output, start);
}

int64_t Inflate(const uint8_t* stream, size_t streamLength, const InflateSource& more, uint8_t* output,
                uint32_t start) {
    if (!TablesReady)
        PrepareTables();
    ErrorText = "";
    BitReader r{stream, streamLength, 0, 0, 0, more.next ? &more : nullptr};
    // The two header bytes are skipped unread: no FCHECK, FDICT or method check, and no Adler-32 at the end.
    Refill(r);
    ReadBits(r, 16);
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
            const uint32_t length = ReadBits(r, 16);
            ReadBits(r, 16);
            if (Overrun(r))
                return Fail("stream ends early");
            const uint32_t copy = length < limit - o ? length : limit - o;
            if (!CopyStored(r, output + o, copy))
                return Fail("stream ends early");
            o += copy;
            if (copy < length || final) // a full output reads nothing more
                return o;
            continue;
        }
        if (type == 3)
            return Fail("invalid block type");

        const uint32_t* tables = FixedTables;
        const char* distanceFault = "invalid distance code";
        if (type == 2) {
            if (!ReadDynamicCodes(r))
                return -1;
            tables = BlockTables;
            distanceFault = DistanceFault;
        }

        bool full = false;
        BlockStatus status;
        do {
            status = DecodeFastBlock(r, tables, distanceFault, output, o, limit, type == 2 && BlockPairs);
            if (status == BlockGoesOn)
                status = DecodeCareful(r, tables, distanceFault, output, o, limit, full);
        } while (status == BlockGoesOn);
        if (status == BlockFailed)
            return -1;
        if (Overrun(r))
            return Fail("stream ends early");
        if (full || final)
            return o;
    }
}
