// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/zp.h"

#include <algorithm>
#include <cmath>

namespace vormelle::codec {

// State 163 moves by 0x0117, as in DjVuLibre; the format's printed table is illegible there, and
// another value makes streams that reach it decode wrong.
const std::array<ZpState, 251> kZpTable = {{
    {0x8000, 0x0000, 84, 145},  {0x8000, 0x0000, 3, 4},     {0x8000, 0x0000, 4, 3},
    {0x6BBD, 0x10A5, 5, 1},     {0x6BBD, 0x10A5, 6, 2},     {0x5D45, 0x1F28, 7, 3},
    {0x5D45, 0x1F28, 8, 4},     {0x51B9, 0x2BD3, 9, 5},     {0x51B9, 0x2BD3, 10, 6},
    {0x4813, 0x36E3, 11, 7},    {0x4813, 0x36E3, 12, 8},    {0x3FD5, 0x408C, 13, 9},
    {0x3FD5, 0x408C, 14, 10},   {0x38B1, 0x48FD, 15, 11},   {0x38B1, 0x48FD, 16, 12},
    {0x3275, 0x505D, 17, 13},   {0x3275, 0x505D, 18, 14},   {0x2CFD, 0x56D0, 19, 15},
    {0x2CFD, 0x56D0, 20, 16},   {0x2825, 0x5C71, 21, 17},   {0x2825, 0x5C71, 22, 18},
    {0x23AB, 0x615B, 23, 19},   {0x23AB, 0x615B, 24, 20},   {0x1F87, 0x65A5, 25, 21},
    {0x1F87, 0x65A5, 26, 22},   {0x1BBB, 0x6962, 27, 23},   {0x1BBB, 0x6962, 28, 24},
    {0x1845, 0x6CA2, 29, 25},   {0x1845, 0x6CA2, 30, 26},   {0x1523, 0x6F74, 31, 27},
    {0x1523, 0x6F74, 32, 28},   {0x1253, 0x71E6, 33, 29},   {0x1253, 0x71E6, 34, 30},
    {0x0FCF, 0x7404, 35, 31},   {0x0FCF, 0x7404, 36, 32},   {0x0D95, 0x75D6, 37, 33},
    {0x0D95, 0x75D6, 38, 34},   {0x0B9D, 0x7768, 39, 35},   {0x0B9D, 0x7768, 40, 36},
    {0x09E3, 0x78C2, 41, 37},   {0x09E3, 0x78C2, 42, 38},   {0x0861, 0x79EA, 43, 39},
    {0x0861, 0x79EA, 44, 40},   {0x0711, 0x7AE7, 45, 41},   {0x0711, 0x7AE7, 46, 42},
    {0x05F1, 0x7BBE, 47, 43},   {0x05F1, 0x7BBE, 48, 44},   {0x04F9, 0x7C75, 49, 45},
    {0x04F9, 0x7C75, 50, 46},   {0x0425, 0x7D0F, 51, 47},   {0x0425, 0x7D0F, 52, 48},
    {0x0371, 0x7D91, 53, 49},   {0x0371, 0x7D91, 54, 50},   {0x02D9, 0x7DFE, 55, 51},
    {0x02D9, 0x7DFE, 56, 52},   {0x0259, 0x7E5A, 57, 53},   {0x0259, 0x7E5A, 58, 54},
    {0x01ED, 0x7EA6, 59, 55},   {0x01ED, 0x7EA6, 60, 56},   {0x0193, 0x7EE6, 61, 57},
    {0x0193, 0x7EE6, 62, 58},   {0x0149, 0x7F1A, 63, 59},   {0x0149, 0x7F1A, 64, 60},
    {0x010B, 0x7F45, 65, 61},   {0x010B, 0x7F45, 66, 62},   {0x00D5, 0x7F6B, 67, 63},
    {0x00D5, 0x7F6B, 68, 64},   {0x00A5, 0x7F8D, 69, 65},   {0x00A5, 0x7F8D, 70, 66},
    {0x007B, 0x7FAA, 71, 67},   {0x007B, 0x7FAA, 72, 68},   {0x0057, 0x7FC3, 73, 69},
    {0x0057, 0x7FC3, 74, 70},   {0x003B, 0x7FD7, 75, 71},   {0x003B, 0x7FD7, 76, 72},
    {0x0023, 0x7FE7, 77, 73},   {0x0023, 0x7FE7, 78, 74},   {0x0013, 0x7FF2, 79, 75},
    {0x0013, 0x7FF2, 80, 76},   {0x0007, 0x7FFA, 81, 77},   {0x0007, 0x7FFA, 82, 78},
    {0x0001, 0x7FFF, 81, 79},   {0x0001, 0x7FFF, 82, 80},   {0x5695, 0x0000, 9, 85},
    {0x24EE, 0x0000, 86, 226},  {0x8000, 0x0000, 5, 6},     {0x0D30, 0x0000, 88, 176},
    {0x481A, 0x0000, 89, 143},  {0x0481, 0x0000, 90, 138},  {0x3579, 0x0000, 91, 141},
    {0x017A, 0x0000, 92, 112},  {0x24EF, 0x0000, 93, 135},  {0x007B, 0x0000, 94, 104},
    {0x1978, 0x0000, 95, 133},  {0x0028, 0x0000, 96, 100},  {0x10CA, 0x0000, 97, 129},
    {0x000D, 0x0000, 82, 98},   {0x0B5D, 0x0000, 99, 127},  {0x0034, 0x0000, 76, 72},
    {0x078A, 0x0000, 101, 125}, {0x00A0, 0x0000, 70, 102},  {0x050F, 0x0000, 103, 123},
    {0x0117, 0x0000, 66, 60},   {0x0358, 0x0000, 105, 121}, {0x01EA, 0x0000, 106, 110},
    {0x0234, 0x0000, 107, 119}, {0x0144, 0x0000, 66, 108},  {0x0173, 0x0000, 109, 117},
    {0x0234, 0x0000, 60, 54},   {0x00F5, 0x0000, 111, 115}, {0x0353, 0x0000, 56, 48},
    {0x00A1, 0x0000, 69, 113},  {0x05C5, 0x0000, 114, 134}, {0x011A, 0x0000, 65, 59},
    {0x03CF, 0x0000, 116, 132}, {0x01AA, 0x0000, 61, 55},   {0x0285, 0x0000, 118, 130},
    {0x0286, 0x0000, 57, 51},   {0x01AB, 0x0000, 120, 128}, {0x03D3, 0x0000, 53, 47},
    {0x011A, 0x0000, 122, 126}, {0x05C5, 0x0000, 49, 41},   {0x00BA, 0x0000, 124, 62},
    {0x08AD, 0x0000, 43, 37},   {0x007A, 0x0000, 72, 66},   {0x0CCC, 0x0000, 39, 31},
    {0x01EB, 0x0000, 60, 54},   {0x1302, 0x0000, 33, 25},   {0x02E6, 0x0000, 56, 50},
    {0x1B81, 0x0000, 29, 131},  {0x045E, 0x0000, 52, 46},   {0x24EF, 0x0000, 23, 17},
    {0x0690, 0x0000, 48, 40},   {0x2865, 0x0000, 23, 15},   {0x09DE, 0x0000, 42, 136},
    {0x3987, 0x0000, 137, 7},   {0x0DC8, 0x0000, 38, 32},   {0x2C99, 0x0000, 21, 139},
    {0x10CA, 0x0000, 140, 172}, {0x3B5F, 0x0000, 15, 9},    {0x0B5D, 0x0000, 142, 170},
    {0x5695, 0x0000, 9, 85},    {0x078A, 0x0000, 144, 168}, {0x8000, 0x0000, 141, 248},
    {0x050F, 0x0000, 146, 166}, {0x24EE, 0x0000, 147, 247}, {0x0358, 0x0000, 148, 164},
    {0x0D30, 0x0000, 149, 197}, {0x0234, 0x0000, 150, 162}, {0x0481, 0x0000, 151, 95},
    {0x0173, 0x0000, 152, 160}, {0x017A, 0x0000, 153, 173}, {0x00F5, 0x0000, 154, 158},
    {0x007B, 0x0000, 155, 165}, {0x00A1, 0x0000, 70, 156},  {0x0028, 0x0000, 157, 161},
    {0x011A, 0x0000, 66, 60},   {0x000D, 0x0000, 81, 159},  {0x01AA, 0x0000, 62, 56},
    {0x0034, 0x0000, 75, 71},   {0x0286, 0x0000, 58, 52},   {0x00A0, 0x0000, 69, 163},
    {0x03D3, 0x0000, 54, 48},   {0x0117, 0x0000, 65, 59},   {0x05C5, 0x0000, 50, 42},
    {0x01EA, 0x0000, 167, 171}, {0x08AD, 0x0000, 44, 38},   {0x0144, 0x0000, 65, 169},
    {0x0CCC, 0x0000, 40, 32},   {0x0234, 0x0000, 59, 53},   {0x1302, 0x0000, 34, 26},
    {0x0353, 0x0000, 55, 47},   {0x1B81, 0x0000, 30, 174},  {0x05C5, 0x0000, 175, 193},
    {0x24EF, 0x0000, 24, 18},   {0x03CF, 0x0000, 177, 191}, {0x2B74, 0x0000, 178, 222},
    {0x0285, 0x0000, 179, 189}, {0x201D, 0x0000, 180, 218}, {0x01AB, 0x0000, 181, 187},
    {0x1715, 0x0000, 182, 216}, {0x011A, 0x0000, 183, 185}, {0x0FB7, 0x0000, 184, 214},
    {0x00BA, 0x0000, 69, 61},   {0x0A67, 0x0000, 186, 212}, {0x01EB, 0x0000, 59, 53},
    {0x06E7, 0x0000, 188, 210}, {0x02E6, 0x0000, 55, 49},   {0x0496, 0x0000, 190, 208},
    {0x045E, 0x0000, 51, 45},   {0x030D, 0x0000, 192, 206}, {0x0690, 0x0000, 47, 39},
    {0x0206, 0x0000, 194, 204}, {0x09DE, 0x0000, 41, 195},  {0x0155, 0x0000, 196, 202},
    {0x0DC8, 0x0000, 37, 31},   {0x00E1, 0x0000, 198, 200}, {0x2B74, 0x0000, 199, 243},
    {0x0094, 0x0000, 72, 64},   {0x201D, 0x0000, 201, 239}, {0x0188, 0x0000, 62, 56},
    {0x1715, 0x0000, 203, 237}, {0x0252, 0x0000, 58, 52},   {0x0FB7, 0x0000, 205, 235},
    {0x0383, 0x0000, 54, 48},   {0x0A67, 0x0000, 207, 233}, {0x0547, 0x0000, 50, 44},
    {0x06E7, 0x0000, 209, 231}, {0x07E2, 0x0000, 46, 38},   {0x0496, 0x0000, 211, 229},
    {0x0BC0, 0x0000, 40, 34},   {0x030D, 0x0000, 213, 227}, {0x1178, 0x0000, 36, 28},
    {0x0206, 0x0000, 215, 225}, {0x19DA, 0x0000, 30, 22},   {0x0155, 0x0000, 217, 223},
    {0x24EF, 0x0000, 26, 16},   {0x00E1, 0x0000, 219, 221}, {0x320E, 0x0000, 20, 220},
    {0x0094, 0x0000, 71, 63},   {0x432A, 0x0000, 14, 8},    {0x0188, 0x0000, 61, 55},
    {0x447D, 0x0000, 14, 224},  {0x0252, 0x0000, 57, 51},   {0x5ECE, 0x0000, 8, 2},
    {0x0383, 0x0000, 53, 47},   {0x8000, 0x0000, 228, 87},  {0x0547, 0x0000, 49, 43},
    {0x481A, 0x0000, 230, 246}, {0x07E2, 0x0000, 45, 37},   {0x3579, 0x0000, 232, 244},
    {0x0BC0, 0x0000, 39, 33},   {0x24EF, 0x0000, 234, 238}, {0x1178, 0x0000, 35, 27},
    {0x1978, 0x0000, 138, 236}, {0x19DA, 0x0000, 29, 21},   {0x2865, 0x0000, 24, 16},
    {0x24EF, 0x0000, 25, 15},   {0x3987, 0x0000, 240, 8},   {0x320E, 0x0000, 19, 241},
    {0x2C99, 0x0000, 22, 242},  {0x432A, 0x0000, 13, 7},    {0x3B5F, 0x0000, 16, 10},
    {0x447D, 0x0000, 13, 245},  {0x5695, 0x0000, 10, 2},    {0x5ECE, 0x0000, 7, 1},
    {0x8000, 0x0000, 244, 83},  {0x8000, 0x0000, 249, 250}, {0x5695, 0x0000, 10, 2},
    {0x481A, 0x0000, 89, 143},  {0x481A, 0x0000, 230, 246},
}};

// A state's p is about the chance of its LPS in units of 1/0x10000.
const std::array<std::array<uint16_t, 2>, 251> ZpEstimate::kCosts = [] {
    std::array<std::array<uint16_t, 2>, 251> costs{};
    for (size_t s = 0; s < kZpTable.size(); ++s) {
        const double q = std::clamp(double(kZpTable[s].p) / 0x10000, 1.0 / 0x10000, 0.5);
        costs[s] = {uint16_t(std::lround(-std::log2(1 - q) * kUnit)),
                    uint16_t(std::lround(-std::log2(q) * kUnit))};
    }
    return costs;
}();

// The live interval is [A, 0x10000): each shift doubles it.
double ZpCounter::bits() const {
    return double(m_shifts) + std::log2(double(0x10000 - m_start) / double(0x10000 - m_a));
}

double ZpEncoder::bits() const {
    return 8.0 * double(m_bytes.size()) + double(m_bits) +
           std::log2(double(0x10000) / double(0x10000 - m_a));
}

void ZpEncoder::encodePassThrough(bool bit) {
    passThrough(bit, 0x8000 + (m_a >> 1));
}

void ZpEncoder::encodePassThroughIw44(bool bit) {
    passThrough(bit, 0x8000 + ((m_a + m_a + m_a) >> 3));
}

// A zero takes the upper part of the interval, as an MPS of a context whose MPS is zero.
void ZpEncoder::passThrough(bool bit, uint32_t z) {
    if (!bit) {
        m_low += z - m_a;
        if (m_low >= 0x10000)
            carry();
        m_a = z;
    } else {
        m_a += 0x10000 - z;
    }
    while (m_a >= 0x8000)
        shift();
}

std::vector<uint8_t> ZpEncoder::finish() {
    // The decoder reads ones past the end. The interval is wider than half the window, so it
    // holds one or two values of one more bit followed by ones only: take the higher, as
    // DjVuLibre's encoder does, so that the same bits give the same bytes.
    const size_t coded = m_bytes.size() * 8 + size_t(m_bits);
    uint32_t value = ((m_low + 0x10000 - m_a) & ~0x7fffu) - 1;
    if (value >= 0x10000) {
        value -= 0x10000;
        m_low = 0x10000;
        carry();
    }
    putBit(value >> 15);
    while (m_bits != 0)
        putBit(1);
    // Trailing ones go as DjVuLibre's encoder drops them: after the last zero, and of the coded
    // bits all but the last 24 stay.
    size_t last = m_bytes.size();
    while (last > 0 && m_bytes[last - 1] == 0xff)
        --last;
    size_t keep = last * 8;
    if (last > 0)
        keep -= size_t(__builtin_ctz(~unsigned(m_bytes[last - 1]) & 0xff));
    keep = std::max(keep, coded > 24 ? coded - 24 : 0);
    m_bytes.resize((keep + 7) / 8);
    std::vector<uint8_t> out;
    out.swap(m_bytes);
    *this = ZpEncoder();
    return out;
}

void ZpEncoder::flushByte() {
    m_bytes.push_back(static_cast<uint8_t>(m_byte));
    m_byte = 0;
    m_bits = 0;
}

// Adds one at the last bit written, which the interval's arithmetic never lets overflow.
void ZpEncoder::carry() {
    m_low -= 0x10000;
    ++m_byte;
    if (m_byte >> m_bits == 0)
        return;
    m_byte = 0;
    for (size_t i = m_bytes.size(); i-- > 0;) {
        if (++m_bytes[i] != 0)
            return;
    }
}

void ZpEncoder::putBit(unsigned bit) {
    m_byte = (m_byte << 1) | bit;
    if (++m_bits == 8) {
        m_bytes.push_back(static_cast<uint8_t>(m_byte));
        m_byte = 0;
        m_bits = 0;
    }
}

ZpDecoder::ZpDecoder(const uint8_t* data, size_t size) : m_data(data), m_end(data + size) {
    m_c = uint32_t(next()) << 8;
    m_c |= next();
    fence();
}

bool ZpDecoder::decode(ZpContext& context) {
    const ZpState& s = kZpTable[context];
    if (const uint32_t quick = m_a + s.p; quick <= m_fence) {
        m_a = quick;
        return context & 1;
    }
    const uint32_t z = zpSplit(m_a, s.p);
    bool bit;
    if (z > m_c) {
        bit = !(context & 1);
        m_a += 0x10000 - z;
        m_c += 0x10000 - z;
        context = s.dn;
    } else {
        bit = context & 1;
        if (m_a >= s.m)
            context = s.up;
        m_a = z;
    }
    renormalise();
    return bit;
}

bool ZpDecoder::passThrough(uint32_t z) {
    bool bit = false;
    if (z > m_c) {
        bit = true;
        m_a += 0x10000 - z;
        m_c += 0x10000 - z;
    } else {
        m_a = z;
    }
    renormalise();
    return bit;
}

uint8_t ZpDecoder::next() {
    if (m_data < m_end)
        return *m_data++;
    ++m_past;
    return 0xff;
}

uint32_t ZpDecoder::nextBit() {
    if (m_bits == 0) {
        m_byte = next();
        m_bits = 8;
    }
    --m_bits;
    return (m_byte >> m_bits) & 1;
}

void ZpDecoder::renormalise() {
    while (m_a >= 0x8000) {
        m_a = (m_a << 1) & 0xffff;
        m_c = ((m_c << 1) & 0xffff) | nextBit();
    }
    fence();
}

} // namespace vormelle::codec
