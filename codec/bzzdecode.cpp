// SPDX-License-Identifier: GPL-3.0-or-later
// BZZ's decoder: each block's move-to-front positions decoded, then its sort undone.
#include "codec/bzz.h"
#include "codec/bzzmodel.h"
#include "codec/zp.h"

#include <algorithm>
#include <array>
#include <vector>

namespace vormelle::codec {

namespace {

unsigned decodeRaw(ZpDecoder& zp, int bits) {
    unsigned v = 0;
    for (int b = 0; b < bits; ++b)
        v = (v << 1) | unsigned(zp.decodePassThrough());
    return v;
}

unsigned decodeTree(ZpDecoder& zp, ZpContext* contexts, int bits) {
    unsigned node = 1;
    for (int b = 0; b < bits; ++b)
        node = node * 2 + unsigned(zp.decode(contexts[node - 1]));
    return node - (1u << bits);
}

// The answers to the encoder's questions: 0? 1? which range of 2, 4, ... 128, and where in it;
// 256 is the marker.
unsigned decodePosition(ZpDecoder& zp, ZpContext* contexts, unsigned set) {
    if (zp.decode(contexts[set]))
        return 0;
    if (zp.decode(contexts[3 + set]))
        return 1;
    std::size_t context = 6;
    for (int bits = 1; bits <= 7; ++bits) {
        if (zp.decode(contexts[context]))
            return (1u << bits) + decodeTree(zp, contexts + context + 1, bits);
        context += 1 + ((1u << bits) - 1);
    }
    return 256;
}

// The inverse transform: follow each byte to the one before it. False when the thread does
// not run through the whole block (damage).
bool unsort(const std::vector<std::uint8_t>& block, std::size_t marker,
            std::vector<std::uint32_t>& rank, Bytes& out) {
    const std::size_t n = block.size();
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
            return false; // the thread closed early
        const std::uint8_t c = block[row];
        out[base + left - 1] = c;
        row = start[c] + rank[row];
    }
    return row == marker;
}

} // namespace

std::optional<Bytes> bzzDecode(const std::uint8_t* data, std::size_t size, std::size_t maxSize) {
    ZpDecoder zp(data, size);
    std::array<ZpContext, bzz::kContexts> contexts{};
    Bytes out;
    std::vector<std::uint8_t> block;
    std::vector<std::uint32_t> rank;
    for (;;) {
        const std::size_t n = decodeRaw(zp, 24);
        if (n == 0)
            return zp.overrun() ? std::nullopt : std::optional<Bytes>(std::move(out));
        // The block holds its marker: n - 1 bytes, which must fit the bound.
        if (n - 1 > maxSize - out.size() || n > bzz::kMaxBlock || zp.overrun())
            return std::nullopt;
        int shift = 0;
        if (zp.decodePassThrough())
            shift = zp.decodePassThrough() ? 2 : 1;

        bzz::MoveToFront mtf(shift);
        unsigned last = 3;
        std::size_t marker = n;
        block.assign(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned position = decodePosition(zp, contexts.data(), std::min(last, 2u));
            last = position;
            if (position == 256) {
                if (marker != n)
                    return std::nullopt; // two markers
                marker = i;
                continue;
            }
            block[i] = mtf.symbol(position);
            mtf.moveUp(position);
            if (zp.overrun())
                return std::nullopt;
        }
        if (marker == n || marker == 0 || !unsort(block, marker, rank, out))
            return std::nullopt;
    }
}

} // namespace vormelle::codec
