#include "deflate.h"

#include <algorithm>
#include <array>
#include <queue>

namespace makedata {

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (uint8_t b : bytes)
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(std::span<const uint8_t> bytes) {
    uint32_t a = 1, b = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        // 5552 is the longest run whose sums cannot overflow 32 bits before the reduction.
        size_t end = std::min(bytes.size(), i + 5552);
        for (; i < end; ++i) {
            a += bytes[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

namespace {

struct BitWriter {
    std::vector<uint8_t> out;
    uint64_t acc = 0;
    int count = 0;
    void Put(uint32_t value, int bits) {
        acc |= uint64_t(value) << count;
        count += bits;
        while (count >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            count -= 8;
        }
    }
    // Huffman codes go out most significant bit first, so they are stored reversed.
    void PutCode(uint32_t code, int len) {
        uint32_t r = 0;
        for (int i = 0; i < len; ++i)
            r |= ((code >> i) & 1) << (len - 1 - i);
        Put(r, len);
    }
    void Flush() {
        if (count > 0)
            out.push_back(uint8_t(acc));
        acc = 0;
        count = 0;
    }
};

// One LZ77 token: a literal (dist 0) or a match of length 3..258 at distance 1..32768.
struct Token {
    uint16_t litOrLen;
    uint16_t dist;
};

constexpr int kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                              31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                               193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr int kClOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

int LenSymbol(int len) {
    int i = 28;
    while (kLenBase[i] > len)
        --i;
    return i;
}
int DistSymbol(int dist) {
    int i = 29;
    while (kDistBase[i] > dist)
        --i;
    return i;
}

// Code lengths for the given frequencies, none longer than maxLen. When the plain Huffman tree is too deep the
// frequencies are flattened and the tree rebuilt; ties are broken by symbol so the result is deterministic.
std::vector<int> CodeLengths(std::vector<uint32_t> freq, int maxLen) {
    const int n = int(freq.size());
    std::vector<int> lengths(n, 0);
    for (;;) {
        std::vector<int> used;
        for (int i = 0; i < n; ++i)
            if (freq[i] > 0)
                used.push_back(i);
        std::fill(lengths.begin(), lengths.end(), 0);
        if (used.empty())
            return lengths;
        if (used.size() == 1) {
            lengths[used[0]] = 1;
            return lengths;
        }
        // Nodes: leaves first, then internal nodes; parent links give each leaf its depth.
        std::vector<uint64_t> weight;
        std::vector<int> parent;
        using Item = std::pair<uint64_t, int>; // (weight, node), ordered by weight then node index
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        for (int s : used) {
            heap.push({freq[s], int(weight.size())});
            weight.push_back(freq[s]);
            parent.push_back(-1);
        }
        while (heap.size() > 1) {
            Item a = heap.top();
            heap.pop();
            Item b = heap.top();
            heap.pop();
            int node = int(weight.size());
            weight.push_back(a.first + b.first);
            parent.push_back(-1);
            parent[a.second] = node;
            parent[b.second] = node;
            heap.push({a.first + b.first, node});
        }
        int deepest = 0;
        for (size_t k = 0; k < used.size(); ++k) {
            int d = 0;
            for (int p = int(k); parent[p] >= 0; p = parent[p])
                ++d;
            lengths[used[k]] = d;
            deepest = std::max(deepest, d);
        }
        if (deepest <= maxLen)
            return lengths;
        for (int s : used)
            freq[s] = (freq[s] >> 1) | 1;
    }
}

// Canonical codes from lengths, as DEFLATE defines them.
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    int maxLen = 0;
    for (int l : lengths)
        maxLen = std::max(maxLen, l);
    std::vector<int> count(maxLen + 1, 0);
    for (int l : lengths)
        if (l)
            ++count[l];
    std::vector<uint32_t> next(maxLen + 2, 0);
    uint32_t code = 0;
    for (int bits = 1; bits <= maxLen; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i])
            codes[i] = next[lengths[i]]++;
    return codes;
}

std::vector<Token> FindMatches(std::span<const uint8_t> in, int maxChain) {
    constexpr int kWindow = 32768, kHashBits = 15, kMaxLen = 258;
    std::vector<int> head(1 << kHashBits, -1), prev(in.size(), -1);
    std::vector<Token> tokens;
    tokens.reserve(in.size() / 2);
    const size_t n = in.size();
    auto hash = [&](size_t i) {
        return ((uint32_t(in[i]) << 10) ^ (uint32_t(in[i + 1]) << 5) ^ in[i + 2]) & ((1u << kHashBits) - 1);
    };
    auto insert = [&](size_t i) {
        if (i + 2 < n) {
            uint32_t h = hash(i);
            prev[i] = head[h];
            head[h] = int(i);
        }
    };
    auto longest = [&](size_t i, int& bestDist) {
        int bestLen = 0;
        if (i + 2 >= n)
            return 0;
        int limit = int(std::min<size_t>(kMaxLen, n - i));
        int chain = maxChain;
        for (int c = head[hash(i)]; c >= 0 && int(i) - c <= kWindow && chain-- > 0; c = prev[c]) {
            if (in[c + bestLen] != in[i + bestLen])
                continue;
            int len = 0;
            while (len < limit && in[c + len] == in[i + len])
                ++len;
            if (len > bestLen) {
                bestLen = len;
                bestDist = int(i) - c;
                if (len == limit)
                    break;
            }
        }
        return bestLen >= 3 ? bestLen : 0;
    };
    size_t i = 0;
    while (i < n) {
        int dist = 0;
        int len = longest(i, dist);
        if (len) {
            // One step of lazy matching: a longer match at the next byte wins over this one.
            insert(i);
            int dist2 = 0;
            int len2 = (i + 1 < n) ? longest(i + 1, dist2) : 0;
            if (len2 > len + 1) {
                tokens.push_back({in[i], 0});
                ++i;
                len = len2;
                dist = dist2;
            } else {
                // i is already in the chains
                tokens.push_back({uint16_t(len), uint16_t(dist)});
                for (int k = 1; k < len; ++k)
                    insert(i + k);
                i += len;
                continue;
            }
            tokens.push_back({uint16_t(len), uint16_t(dist)});
            for (int k = 0; k < len; ++k)
                insert(i + k);
            i += len;
        } else {
            insert(i);
            tokens.push_back({in[i], 0});
            ++i;
        }
    }
    return tokens;
}

void WriteBlock(BitWriter& bw, std::span<const Token> tokens, bool last) {
    std::vector<uint32_t> litFreq(286, 0), distFreq(30, 0);
    for (const Token& t : tokens) {
        if (t.dist == 0) {
            ++litFreq[t.litOrLen];
        } else {
            ++litFreq[257 + LenSymbol(t.litOrLen)];
            ++distFreq[DistSymbol(t.dist)];
        }
    }
    litFreq[256] = 1;
    std::vector<int> litLen = CodeLengths(litFreq, 15);
    std::vector<int> distLen = CodeLengths(distFreq, 15);
    // A block without matches still needs one distance code length to be sent.
    if (std::all_of(distLen.begin(), distLen.end(), [](int l) { return l == 0; }))
        distLen[0] = 1;
    int hlit = 286, hdist = 30;
    while (hlit > 257 && litLen[hlit - 1] == 0)
        --hlit;
    while (hdist > 1 && distLen[hdist - 1] == 0)
        --hdist;
    std::vector<int> all(litLen.begin(), litLen.begin() + hlit);
    all.insert(all.end(), distLen.begin(), distLen.begin() + hdist);

    // Run-length code the lengths with symbols 16 (repeat previous), 17 and 18 (runs of zeros).
    struct ClSym {
        int sym, extra, extraBits;
    };
    std::vector<ClSym> cl;
    for (size_t i = 0; i < all.size();) {
        int v = all[i];
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == v)
            ++run;
        if (v == 0 && run >= 3) {
            size_t r = std::min<size_t>(run, 138);
            if (r >= 11)
                cl.push_back({18, int(r - 11), 7});
            else
                cl.push_back({17, int(r - 3), 3});
            i += r;
        } else if (v != 0 && run >= 4) {
            cl.push_back({v, 0, 0});
            size_t r = std::min<size_t>(run - 1, 6);
            cl.push_back({16, int(r - 3), 2});
            i += 1 + r;
        } else {
            cl.push_back({v, 0, 0});
            ++i;
        }
    }
    std::vector<uint32_t> clFreq(19, 0);
    for (const ClSym& c : cl)
        ++clFreq[c.sym];
    std::vector<int> clLen = CodeLengths(clFreq, 7);
    std::vector<uint32_t> clCode = CanonicalCodes(clLen);
    int hclen = 19;
    while (hclen > 4 && clLen[kClOrder[hclen - 1]] == 0)
        --hclen;

    bw.Put(last ? 1 : 0, 1);
    bw.Put(2, 2);
    bw.Put(hlit - 257, 5);
    bw.Put(hdist - 1, 5);
    bw.Put(hclen - 4, 4);
    for (int k = 0; k < hclen; ++k)
        bw.Put(clLen[kClOrder[k]], 3);
    for (const ClSym& c : cl) {
        bw.PutCode(clCode[c.sym], clLen[c.sym]);
        if (c.extraBits)
            bw.Put(c.extra, c.extraBits);
    }
    std::vector<uint32_t> litCode = CanonicalCodes(litLen), distCode = CanonicalCodes(distLen);
    for (const Token& t : tokens) {
        if (t.dist == 0) {
            bw.PutCode(litCode[t.litOrLen], litLen[t.litOrLen]);
        } else {
            int ls = LenSymbol(t.litOrLen);
            bw.PutCode(litCode[257 + ls], litLen[257 + ls]);
            if (kLenExtra[ls])
                bw.Put(t.litOrLen - kLenBase[ls], kLenExtra[ls]);
            int ds = DistSymbol(t.dist);
            bw.PutCode(distCode[ds], distLen[ds]);
            if (kDistExtra[ds])
                bw.Put(t.dist - kDistBase[ds], kDistExtra[ds]);
        }
    }
    bw.PutCode(litCode[256], litLen[256]);
}

} // namespace

std::vector<uint8_t> Deflate(std::span<const uint8_t> input, int maxChain) {
    BitWriter bw;
    if (input.empty()) {
        // A single fixed-Huffman block holding only the end-of-block code (seven zero bits).
        bw.Put(1, 1);
        bw.Put(1, 2);
        bw.Put(0, 7);
        bw.Flush();
        return bw.out;
    }
    std::vector<Token> tokens = FindMatches(input, maxChain);
    // Blocks of a fixed token count keep the Huffman tables fitted to local statistics.
    constexpr size_t kBlockTokens = 32768;
    for (size_t start = 0; start < tokens.size(); start += kBlockTokens) {
        size_t end = std::min(tokens.size(), start + kBlockTokens);
        WriteBlock(bw, std::span<const Token>(tokens).subspan(start, end - start), end == tokens.size());
    }
    bw.Flush();
    return bw.out;
}

std::vector<uint8_t> ZlibCompress(std::span<const uint8_t> input, int maxChain) {
    // CMF 0x78: method 8, 32 KiB window; FLG 0xDA: level "maximum", check bits make 0x78DA a multiple of 31.
    std::vector<uint8_t> out = {0x78, 0xDA};
    std::vector<uint8_t> body = Deflate(input, maxChain);
    out.insert(out.end(), body.begin(), body.end());
    uint32_t a = Adler32(input);
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(uint8_t(a >> s));
    return out;
}

} // namespace makedata
