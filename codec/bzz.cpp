// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/bzz.h"

#include "codec/blocksort.h"

#include <algorithm>
#include <array>

namespace vormelle::codec {

namespace {

// The ZP coder as DjVuLibre's BZZ decoder runs it: an MPS moves its context on only when the
// interval needs renormalising, and pass-through bits split the interval at A/2. It stays here,
// private to BZZ, until codec/zp.h codes the same way (see the note of issue 22); the table is
// the format's own.
struct ZpState {
    std::uint16_t p, m;
    std::uint8_t up, dn;
};
inline constexpr ZpState kZpStates[256] = {
    {0x8000, 0x0000, 84, 145},  {0x8000, 0x0000, 3, 4},     {0x8000, 0x0000, 4, 3},
    {0x6bbd, 0x10a5, 5, 1},     {0x6bbd, 0x10a5, 6, 2},     {0x5d45, 0x1f28, 7, 3},
    {0x5d45, 0x1f28, 8, 4},     {0x51b9, 0x2bd3, 9, 5},     {0x51b9, 0x2bd3, 10, 6},
    {0x4813, 0x36e3, 11, 7},    {0x4813, 0x36e3, 12, 8},    {0x3fd5, 0x408c, 13, 9},
    {0x3fd5, 0x408c, 14, 10},   {0x38b1, 0x48fd, 15, 11},   {0x38b1, 0x48fd, 16, 12},
    {0x3275, 0x505d, 17, 13},   {0x3275, 0x505d, 18, 14},   {0x2cfd, 0x56d0, 19, 15},
    {0x2cfd, 0x56d0, 20, 16},   {0x2825, 0x5c71, 21, 17},   {0x2825, 0x5c71, 22, 18},
    {0x23ab, 0x615b, 23, 19},   {0x23ab, 0x615b, 24, 20},   {0x1f87, 0x65a5, 25, 21},
    {0x1f87, 0x65a5, 26, 22},   {0x1bbb, 0x6962, 27, 23},   {0x1bbb, 0x6962, 28, 24},
    {0x1845, 0x6ca2, 29, 25},   {0x1845, 0x6ca2, 30, 26},   {0x1523, 0x6f74, 31, 27},
    {0x1523, 0x6f74, 32, 28},   {0x1253, 0x71e6, 33, 29},   {0x1253, 0x71e6, 34, 30},
    {0x0fcf, 0x7404, 35, 31},   {0x0fcf, 0x7404, 36, 32},   {0x0d95, 0x75d6, 37, 33},
    {0x0d95, 0x75d6, 38, 34},   {0x0b9d, 0x7768, 39, 35},   {0x0b9d, 0x7768, 40, 36},
    {0x09e3, 0x78c2, 41, 37},   {0x09e3, 0x78c2, 42, 38},   {0x0861, 0x79ea, 43, 39},
    {0x0861, 0x79ea, 44, 40},   {0x0711, 0x7ae7, 45, 41},   {0x0711, 0x7ae7, 46, 42},
    {0x05f1, 0x7bbe, 47, 43},   {0x05f1, 0x7bbe, 48, 44},   {0x04f9, 0x7c75, 49, 45},
    {0x04f9, 0x7c75, 50, 46},   {0x0425, 0x7d0f, 51, 47},   {0x0425, 0x7d0f, 52, 48},
    {0x0371, 0x7d91, 53, 49},   {0x0371, 0x7d91, 54, 50},   {0x02d9, 0x7dfe, 55, 51},
    {0x02d9, 0x7dfe, 56, 52},   {0x0259, 0x7e5a, 57, 53},   {0x0259, 0x7e5a, 58, 54},
    {0x01ed, 0x7ea6, 59, 55},   {0x01ed, 0x7ea6, 60, 56},   {0x0193, 0x7ee6, 61, 57},
    {0x0193, 0x7ee6, 62, 58},   {0x0149, 0x7f1a, 63, 59},   {0x0149, 0x7f1a, 64, 60},
    {0x010b, 0x7f45, 65, 61},   {0x010b, 0x7f45, 66, 62},   {0x00d5, 0x7f6b, 67, 63},
    {0x00d5, 0x7f6b, 68, 64},   {0x00a5, 0x7f8d, 69, 65},   {0x00a5, 0x7f8d, 70, 66},
    {0x007b, 0x7faa, 71, 67},   {0x007b, 0x7faa, 72, 68},   {0x0057, 0x7fc3, 73, 69},
    {0x0057, 0x7fc3, 74, 70},   {0x003b, 0x7fd7, 75, 71},   {0x003b, 0x7fd7, 76, 72},
    {0x0023, 0x7fe7, 77, 73},   {0x0023, 0x7fe7, 78, 74},   {0x0013, 0x7ff2, 79, 75},
    {0x0013, 0x7ff2, 80, 76},   {0x0007, 0x7ffa, 81, 77},   {0x0007, 0x7ffa, 82, 78},
    {0x0001, 0x7fff, 81, 79},   {0x0001, 0x7fff, 82, 80},   {0x5695, 0x0000, 9, 85},
    {0x24ee, 0x0000, 86, 226},  {0x8000, 0x0000, 5, 6},     {0x0d30, 0x0000, 88, 176},
    {0x481a, 0x0000, 89, 143},  {0x0481, 0x0000, 90, 138},  {0x3579, 0x0000, 91, 141},
    {0x017a, 0x0000, 92, 112},  {0x24ef, 0x0000, 93, 135},  {0x007b, 0x0000, 94, 104},
    {0x1978, 0x0000, 95, 133},  {0x0028, 0x0000, 96, 100},  {0x10ca, 0x0000, 97, 129},
    {0x000d, 0x0000, 82, 98},   {0x0b5d, 0x0000, 99, 127},  {0x0034, 0x0000, 76, 72},
    {0x078a, 0x0000, 101, 125}, {0x00a0, 0x0000, 70, 102},  {0x050f, 0x0000, 103, 123},
    {0x0117, 0x0000, 66, 60},   {0x0358, 0x0000, 105, 121}, {0x01ea, 0x0000, 106, 110},
    {0x0234, 0x0000, 107, 119}, {0x0144, 0x0000, 66, 108},  {0x0173, 0x0000, 109, 117},
    {0x0234, 0x0000, 60, 54},   {0x00f5, 0x0000, 111, 115}, {0x0353, 0x0000, 56, 48},
    {0x00a1, 0x0000, 69, 113},  {0x05c5, 0x0000, 114, 134}, {0x011a, 0x0000, 65, 59},
    {0x03cf, 0x0000, 116, 132}, {0x01aa, 0x0000, 61, 55},   {0x0285, 0x0000, 118, 130},
    {0x0286, 0x0000, 57, 51},   {0x01ab, 0x0000, 120, 128}, {0x03d3, 0x0000, 53, 47},
    {0x011a, 0x0000, 122, 126}, {0x05c5, 0x0000, 49, 41},   {0x00ba, 0x0000, 124, 62},
    {0x08ad, 0x0000, 43, 37},   {0x007a, 0x0000, 72, 66},   {0x0ccc, 0x0000, 39, 31},
    {0x01eb, 0x0000, 60, 54},   {0x1302, 0x0000, 33, 25},   {0x02e6, 0x0000, 56, 50},
    {0x1b81, 0x0000, 29, 131},  {0x045e, 0x0000, 52, 46},   {0x24ef, 0x0000, 23, 17},
    {0x0690, 0x0000, 48, 40},   {0x2865, 0x0000, 23, 15},   {0x09de, 0x0000, 42, 136},
    {0x3987, 0x0000, 137, 7},   {0x0dc8, 0x0000, 38, 32},   {0x2c99, 0x0000, 21, 139},
    {0x10ca, 0x0000, 140, 172}, {0x3b5f, 0x0000, 15, 9},    {0x0b5d, 0x0000, 142, 170},
    {0x5695, 0x0000, 9, 85},    {0x078a, 0x0000, 144, 168}, {0x8000, 0x0000, 141, 248},
    {0x050f, 0x0000, 146, 166}, {0x24ee, 0x0000, 147, 247}, {0x0358, 0x0000, 148, 164},
    {0x0d30, 0x0000, 149, 197}, {0x0234, 0x0000, 150, 162}, {0x0481, 0x0000, 151, 95},
    {0x0173, 0x0000, 152, 160}, {0x017a, 0x0000, 153, 173}, {0x00f5, 0x0000, 154, 158},
    {0x007b, 0x0000, 155, 165}, {0x00a1, 0x0000, 70, 156},  {0x0028, 0x0000, 157, 161},
    {0x011a, 0x0000, 66, 60},   {0x000d, 0x0000, 81, 159},  {0x01aa, 0x0000, 62, 56},
    {0x0034, 0x0000, 75, 71},   {0x0286, 0x0000, 58, 52},   {0x00a0, 0x0000, 69, 163},
    {0x03d3, 0x0000, 54, 48},   {0x0117, 0x0000, 65, 59},   {0x05c5, 0x0000, 50, 42},
    {0x01ea, 0x0000, 167, 171}, {0x08ad, 0x0000, 44, 38},   {0x0144, 0x0000, 65, 169},
    {0x0ccc, 0x0000, 40, 32},   {0x0234, 0x0000, 59, 53},   {0x1302, 0x0000, 34, 26},
    {0x0353, 0x0000, 55, 47},   {0x1b81, 0x0000, 30, 174},  {0x05c5, 0x0000, 175, 193},
    {0x24ef, 0x0000, 24, 18},   {0x03cf, 0x0000, 177, 191}, {0x2b74, 0x0000, 178, 222},
    {0x0285, 0x0000, 179, 189}, {0x201d, 0x0000, 180, 218}, {0x01ab, 0x0000, 181, 187},
    {0x1715, 0x0000, 182, 216}, {0x011a, 0x0000, 183, 185}, {0x0fb7, 0x0000, 184, 214},
    {0x00ba, 0x0000, 69, 61},   {0x0a67, 0x0000, 186, 212}, {0x01eb, 0x0000, 59, 53},
    {0x06e7, 0x0000, 188, 210}, {0x02e6, 0x0000, 55, 49},   {0x0496, 0x0000, 190, 208},
    {0x045e, 0x0000, 51, 45},   {0x030d, 0x0000, 192, 206}, {0x0690, 0x0000, 47, 39},
    {0x0206, 0x0000, 194, 204}, {0x09de, 0x0000, 41, 195},  {0x0155, 0x0000, 196, 202},
    {0x0dc8, 0x0000, 37, 31},   {0x00e1, 0x0000, 198, 200}, {0x2b74, 0x0000, 199, 243},
    {0x0094, 0x0000, 72, 64},   {0x201d, 0x0000, 201, 239}, {0x0188, 0x0000, 62, 56},
    {0x1715, 0x0000, 203, 237}, {0x0252, 0x0000, 58, 52},   {0x0fb7, 0x0000, 205, 235},
    {0x0383, 0x0000, 54, 48},   {0x0a67, 0x0000, 207, 233}, {0x0547, 0x0000, 50, 44},
    {0x06e7, 0x0000, 209, 231}, {0x07e2, 0x0000, 46, 38},   {0x0496, 0x0000, 211, 229},
    {0x0bc0, 0x0000, 40, 34},   {0x030d, 0x0000, 213, 227}, {0x1178, 0x0000, 36, 28},
    {0x0206, 0x0000, 215, 225}, {0x19da, 0x0000, 30, 22},   {0x0155, 0x0000, 217, 223},
    {0x24ef, 0x0000, 26, 16},   {0x00e1, 0x0000, 219, 221}, {0x320e, 0x0000, 20, 220},
    {0x0094, 0x0000, 71, 63},   {0x432a, 0x0000, 14, 8},    {0x0188, 0x0000, 61, 55},
    {0x447d, 0x0000, 14, 224},  {0x0252, 0x0000, 57, 51},   {0x5ece, 0x0000, 8, 2},
    {0x0383, 0x0000, 53, 47},   {0x8000, 0x0000, 228, 87},  {0x0547, 0x0000, 49, 43},
    {0x481a, 0x0000, 230, 246}, {0x07e2, 0x0000, 45, 37},   {0x3579, 0x0000, 232, 244},
    {0x0bc0, 0x0000, 39, 33},   {0x24ef, 0x0000, 234, 238}, {0x1178, 0x0000, 35, 27},
    {0x1978, 0x0000, 138, 236}, {0x19da, 0x0000, 29, 21},   {0x2865, 0x0000, 24, 16},
    {0x24ef, 0x0000, 25, 15},   {0x3987, 0x0000, 240, 8},   {0x320e, 0x0000, 19, 241},
    {0x2c99, 0x0000, 22, 242},  {0x432a, 0x0000, 13, 7},    {0x3b5f, 0x0000, 16, 10},
    {0x447d, 0x0000, 13, 245},  {0x5695, 0x0000, 10, 2},    {0x5ece, 0x0000, 7, 1},
    {0x8000, 0x0000, 244, 83},  {0x8000, 0x0000, 249, 250}, {0x5695, 0x0000, 10, 2},
    {0x481a, 0x0000, 89, 143},  {0x481a, 0x0000, 230, 246}, {0x0000, 0x0000, 0, 0},
    {0x0000, 0x0000, 0, 0},     {0x0000, 0x0000, 0, 0},     {0x0000, 0x0000, 0, 0},
    {0x0000, 0x0000, 0, 0},
};
class ZpEncoder {
public:
    void encode(unsigned bit, std::uint8_t& k) {
        unsigned z = a + kZpStates[k].p;
        if (bit != (k & 1u)) {
            lps(k, z);
        } else if (z >= 0x8000) {
            mps(k, z);
        } else {
            a = z;
        }
    }
    void encodeRaw(unsigned bit) {
        unsigned z = 0x8000 + (a >> 1);
        if (bit) {
            z = 0x10000 - z;
            subend += z;
            a += z;
            while (a >= 0x8000)
                shift();
        } else {
            a = z;
            shift();
        }
    }
    std::vector<std::uint8_t> finish() {
        if (subend > 0x8000)
            subend = 0x10000;
        else if (subend > 0)
            subend = 0x8000;
        while (buffer != 0xffffff || subend) {
            zemit(1 - (subend >> 15));
            subend = (subend << 1) & 0xffff;
        }
        outbit(1);
        while (nrun-- > 0)
            outbit(0);
        nrun = 0;
        while (scount > 0)
            outbit(1);
        delay = 0xff;
        return std::move(out);
    }

private:
    void shift() {
        zemit(1 - (subend >> 15));
        subend = (subend << 1) & 0xffff;
        a = (a << 1) & 0xffff;
    }
    void mps(std::uint8_t& k, unsigned z) {
        const unsigned d = 0x6000 + ((z + a) >> 2);
        if (z > d)
            z = d;
        if (a >= kZpStates[k].m)
            k = kZpStates[k].up;
        a = z;
        if (a >= 0x8000)
            shift();
    }
    void lps(std::uint8_t& k, unsigned z) {
        const unsigned d = 0x6000 + ((z + a) >> 2);
        if (z > d)
            z = d;
        k = kZpStates[k].dn;
        z = 0x10000 - z;
        subend += z;
        a += z;
        while (a >= 0x8000)
            shift();
    }
    void zemit(unsigned b) {
        buffer = (buffer << 1) + b;
        b = buffer >> 24;
        buffer &= 0xffffff;
        if (b == 1) {
            outbit(1);
            while (nrun-- > 0)
                outbit(0);
            nrun = 0;
        } else if (b == 0xff) {
            outbit(0);
            while (nrun-- > 0)
                outbit(1);
            nrun = 0;
        } else if (b == 0)
            ++nrun;
    }
    void outbit(unsigned bit) {
        if (delay > 0) {
            if (delay < 0xff)
                --delay;
            return;
        }
        byte = (byte << 1) | bit;
        if (++scount == 8) {
            out.push_back(std::uint8_t(byte));
            scount = 0;
            byte = 0;
        }
    }
    unsigned a = 0, subend = 0, buffer = 0xffffff, byte = 0, delay = 25;
    int nrun = 0, scount = 0;
    std::vector<std::uint8_t> out;
};

// The model's contexts: two sets of three for the first two questions (chosen by the last
// position coded), then one context for each range question and its binary tree of contexts.
constexpr std::size_t kContexts = 262;
// Slow, medium and fast forgetting of the move-to-front frequencies, by block size.
constexpr std::size_t kMediumShift = 100000;
constexpr std::size_t kFastShift = 1000000;

template <class Coder> class Model {
public:
    explicit Model(Coder& zp) : m_zp(zp) { m_contexts.fill(0); }

    // One block: its size with the marker, the forgetting speed, then each position of the
    // sorted block in the move-to-front list.
    void block(const std::uint8_t* sorted, std::size_t size, std::size_t marker) {
        raw(24, std::uint32_t(size));
        const int shift = size < kMediumShift ? 0 : size < kFastShift ? 1 : 2;
        m_zp.encodeRaw(shift > 0);
        if (shift > 0)
            m_zp.encodeRaw(shift > 1);

        std::array<std::uint8_t, 256> mtf;
        std::array<std::uint8_t, 256> rank;
        for (int i = 0; i < 256; ++i)
            mtf[std::size_t(i)] = rank[std::size_t(i)] = std::uint8_t(i);
        std::array<std::uint32_t, 4> frequency{};
        std::uint32_t add = 4;
        unsigned last = 3;
        for (std::size_t i = 0; i < size; ++i) {
            const unsigned set = std::min(last, 2u);
            const std::uint8_t c = sorted[i];
            const unsigned position = i == marker ? 256 : rank[c];
            last = position;
            code(position, set);
            if (position == 256)
                continue;

            // The symbol moves towards the front as far as its estimated frequency earns.
            add += add >> shift;
            if (add > 0x10000000) {
                add >>= 24;
                for (std::uint32_t& f : frequency)
                    f >>= 24;
            }
            const std::uint32_t f = add + (position < 4 ? frequency[position] : 0);
            unsigned k = position;
            for (; k >= 4; --k) {
                mtf[k] = mtf[k - 1];
                rank[mtf[k]] = std::uint8_t(k);
            }
            for (; k > 0 && f >= frequency[k - 1]; --k) {
                mtf[k] = mtf[k - 1];
                frequency[k] = frequency[k - 1];
                rank[mtf[k]] = std::uint8_t(k);
            }
            mtf[k] = c;
            frequency[k] = f;
            rank[c] = std::uint8_t(k);
        }
    }

    void end() { raw(24, 0); }

private:
    void raw(int bits, std::uint32_t value) {
        for (int b = bits - 1; b >= 0; --b)
            m_zp.encodeRaw((value >> b) & 1);
    }

    // `bits` low bits of `value`, MSB first, through the binary tree of contexts at `first`.
    void tree(std::size_t first, int bits, unsigned value) {
        unsigned node = 1;
        for (int b = bits - 1; b >= 0; --b) {
            const unsigned bit = (value >> b) & 1;
            m_zp.encode(bit, m_contexts[first + node - 1]);
            node = node * 2 + bit;
        }
    }

    // Is it 0? Is it 1? Then which range of 2, 4, ... 128 positions, and where in it; the
    // marker answers no to all.
    void code(unsigned position, unsigned set) {
        m_zp.encode(position == 0, m_contexts[set]);
        if (position == 0)
            return;
        m_zp.encode(position == 1, m_contexts[3 + set]);
        if (position == 1)
            return;
        std::size_t context = 6;
        for (int bits = 1; bits <= 7; ++bits) {
            const unsigned low = 1u << bits;
            const bool inside = position < 2 * low;
            m_zp.encode(inside, m_contexts[context]);
            if (inside) {
                tree(context + 1, bits, position - low);
                return;
            }
            context += 1 + (low - 1);
        }
    }

    Coder& m_zp;
    std::array<std::uint8_t, kContexts> m_contexts;
};

} // namespace

Bytes bzzEncode(const std::uint8_t* data, std::size_t size, std::size_t blockBytes) {
    blockBytes = std::clamp<std::size_t>(blockBytes, 1, (std::size_t(4) << 20) - 1);
    ZpEncoder zp;
    Model<ZpEncoder> model(zp);
    std::vector<std::uint8_t> sorted;
    for (std::size_t at = 0; at < size; at += blockBytes) {
        const std::size_t n = std::min(blockBytes, size - at);
        sorted.resize(n + 1);
        const std::size_t marker = blockSort(data + at, n, sorted.data());
        model.block(sorted.data(), n + 1, marker);
    }
    model.end();
    return zp.finish();
}

namespace {

// The ZP decoder, as DjVuLibre's runs it: an MPS that needs no renormalisation leaves the
// context alone, and pass-through bits split the interval at A/2.
class ZpDecoder {
public:
    ZpDecoder(const std::uint8_t* data, std::size_t size) : m_data(data), m_end(data + size) {
        m_c = unsigned(next()) << 8;
        m_c |= next();
        fence();
    }

    unsigned decode(std::uint8_t& k) {
        const ZpState& s = kZpStates[k];
        unsigned z = m_a + s.p;
        if (z <= m_fence) {
            m_a = z;
            return k & 1;
        }
        const unsigned d = 0x6000 + ((z + m_a) >> 2);
        if (z > d)
            z = d;
        unsigned bit;
        if (z > m_c) {
            bit = 1 - (k & 1);
            m_a += 0x10000 - z;
            m_c += 0x10000 - z;
            k = s.dn;
        } else {
            bit = k & 1;
            if (m_a >= s.m)
                k = s.up;
            m_a = z;
        }
        renormalise();
        return bit;
    }

    unsigned decodeRaw() {
        const unsigned z = 0x8000 + (m_a >> 1);
        unsigned bit = 0;
        if (z > m_c) {
            bit = 1;
            m_a += 0x10000 - z;
            m_c += 0x10000 - z;
        } else {
            m_a = z;
        }
        renormalise();
        return bit;
    }

    // Past the end of its data a stream reads as ones; far past it, it is damaged.
    bool overrun() const { return m_past > 64; }

private:
    std::uint8_t next() {
        if (m_data < m_end)
            return *m_data++;
        ++m_past;
        return 0xff;
    }
    unsigned nextBit() {
        if (m_bits == 0) {
            m_byte = next();
            m_bits = 8;
        }
        --m_bits;
        return (m_byte >> m_bits) & 1;
    }
    void renormalise() {
        while (m_a >= 0x8000) {
            m_a = (m_a << 1) & 0xffff;
            m_c = ((m_c << 1) & 0xffff) | nextBit();
        }
        fence();
    }
    void fence() { m_fence = m_c >= 0x8000 ? 0x7fff : m_c; }

    const std::uint8_t* m_data;
    const std::uint8_t* m_end;
    unsigned m_a = 0;
    unsigned m_c = 0;
    unsigned m_fence = 0;
    unsigned m_byte = 0;
    int m_bits = 0;
    std::size_t m_past = 0;
};

unsigned decodeRaw(ZpDecoder& zp, int bits) {
    unsigned v = 0;
    for (int b = 0; b < bits; ++b)
        v = (v << 1) | zp.decodeRaw();
    return v;
}

unsigned decodeTree(ZpDecoder& zp, std::uint8_t* contexts, int bits) {
    unsigned node = 1;
    for (int b = 0; b < bits; ++b)
        node = node * 2 + zp.decode(contexts[node - 1]);
    return node - (1u << bits);
}

} // namespace

std::optional<Bytes> bzzDecode(const std::uint8_t* data, std::size_t size, std::size_t maxSize) {
    ZpDecoder zp(data, size);
    std::array<std::uint8_t, kContexts> contexts{};
    Bytes out;
    std::vector<std::uint8_t> block;
    std::vector<std::uint32_t> rank;
    for (;;) {
        const std::size_t n = decodeRaw(zp, 24);
        if (n == 0)
            return zp.overrun() ? std::nullopt : std::optional<Bytes>(std::move(out));
        // The block holds its marker: n - 1 bytes, which must fit the bound.
        if (n - 1 > maxSize - out.size() || n > (std::size_t(4) << 20) || zp.overrun())
            return std::nullopt;
        int shift = 0;
        if (zp.decodeRaw())
            shift = zp.decodeRaw() ? 2 : 1;

        std::array<std::uint8_t, 256> mtf;
        for (int i = 0; i < 256; ++i)
            mtf[std::size_t(i)] = std::uint8_t(i);
        std::array<std::uint32_t, 4> frequency{};
        std::uint32_t add = 4;
        unsigned last = 3;
        std::size_t marker = n;
        block.assign(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned set = std::min(last, 2u);
            unsigned position = 256;
            if (zp.decode(contexts[set])) {
                position = 0;
            } else if (zp.decode(contexts[3 + set])) {
                position = 1;
            } else {
                std::size_t context = 6;
                for (int bits = 1; bits <= 7; ++bits) {
                    if (zp.decode(contexts[context])) {
                        position =
                            (1u << bits) + decodeTree(zp, contexts.data() + context + 1, bits);
                        break;
                    }
                    context += 1 + ((1u << bits) - 1);
                }
            }
            last = position;
            if (position == 256) {
                if (marker != n)
                    return std::nullopt; // two markers
                marker = i;
                continue;
            }
            const std::uint8_t c = mtf[position];
            block[i] = c;
            add += add >> shift;
            if (add > 0x10000000) {
                add >>= 24;
                for (std::uint32_t& f : frequency)
                    f >>= 24;
            }
            const std::uint32_t f = add + (position < 4 ? frequency[position] : 0);
            unsigned k = position;
            for (; k >= 4; --k)
                mtf[k] = mtf[k - 1];
            for (; k > 0 && f >= frequency[k - 1]; --k) {
                mtf[k] = mtf[k - 1];
                frequency[k] = frequency[k - 1];
            }
            mtf[k] = c;
            frequency[k] = f;
            if (zp.overrun())
                return std::nullopt;
        }
        if (marker == n || marker == 0)
            return std::nullopt;

        // The inverse transform: follow each byte to the one before it.
        std::array<std::uint32_t, 256> count{};
        rank.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            if (i == marker)
                continue;
            rank[i] = count[block[i]]++;
        }
        std::array<std::uint32_t, 256> start;
        std::uint32_t sum = 1; // the marker's row comes first
        for (int c = 0; c < 256; ++c) {
            start[std::size_t(c)] = sum;
            sum += count[std::size_t(c)];
        }
        const std::size_t base = out.size();
        out.resize(base + n - 1);
        std::size_t row = 0;
        for (std::size_t left = n - 1; left > 0; --left) {
            if (row == marker)
                return std::nullopt; // the thread closed early: damage
            const std::uint8_t c = block[row];
            out[base + left - 1] = c;
            row = start[c] + rank[row];
        }
        if (row != marker)
            return std::nullopt;
    }
}

} // namespace vormelle::codec
