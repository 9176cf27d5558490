// SPDX-License-Identifier: GPL-3.0-or-later
// BZZ's encoder: each block sorted (codec/blocksort), then its move-to-front positions coded.
#include "codec/blocksort.h"
#include "codec/bzz.h"
#include "codec/bzzmodel.h"
#include "codec/zp.h"

#include <algorithm>
#include <vector>

namespace vormelle::codec {

namespace {

class Model {
public:
    explicit Model(ZpEncoder& zp) : m_zp(zp) { m_contexts.fill(0); }

    // One block: its size with the marker, the forgetting speed, then each position of the
    // sorted block in the move-to-front list.
    void block(const std::uint8_t* sorted, std::size_t size, std::size_t marker) {
        raw(24, std::uint32_t(size));
        const int shift = bzz::forgetting(size);
        m_zp.encodePassThrough(shift > 0);
        if (shift > 0)
            m_zp.encodePassThrough(shift > 1);

        bzz::MoveToFront mtf(shift);
        unsigned last = 3;
        for (std::size_t i = 0; i < size; ++i) {
            const unsigned set = std::min(last, 2u);
            const unsigned position = i == marker ? 256 : mtf.position(sorted[i]);
            last = position;
            code(position, set);
            if (position != 256)
                mtf.moveUp(position);
        }
    }

    void end() { raw(24, 0); }

private:
    void raw(int bits, std::uint32_t value) {
        for (int b = bits - 1; b >= 0; --b)
            m_zp.encodePassThrough((value >> b) & 1);
    }

    // `bits` low bits of `value`, MSB first, through the binary tree of contexts at `first`.
    void tree(std::size_t first, int bits, unsigned value) {
        unsigned node = 1;
        for (int b = bits - 1; b >= 0; --b) {
            const unsigned bit = (value >> b) & 1;
            m_zp.encode(bit != 0, m_contexts[first + node - 1]);
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

    ZpEncoder& m_zp;
    std::array<ZpContext, bzz::kContexts> m_contexts;
};

} // namespace

Bytes bzzEncode(const std::uint8_t* data, std::size_t size, std::size_t blockBytes) {
    blockBytes = std::clamp<std::size_t>(blockBytes, 1, bzz::kMaxBlock - 1);
    ZpEncoder zp;
    Model model(zp);
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

} // namespace vormelle::codec
