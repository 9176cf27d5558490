// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/bzz.h"

#include "codec/blocksort.h"
#include "codec/zp.h"

#include <algorithm>
#include <array>

namespace vormelle::codec {

namespace {

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
