// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What BZZ's encoder and decoder share: the model's contexts and its move-to-front list.

#include <array>
#include <cstddef>
#include <cstdint>

namespace vormelle::codec::bzz {

// The model's contexts: two sets of three for the first two questions (chosen by the last
// position coded), then one context for each range question and its binary tree of contexts.
inline constexpr std::size_t kContexts = 262;
// The largest block the format allows, its marker included.
inline constexpr std::size_t kMaxBlock = std::size_t(4) << 20;

// Slow, medium or fast forgetting of the move-to-front frequencies, by block size.
inline int forgetting(std::size_t blockSize) {
    return blockSize < 100000 ? 0 : blockSize < 1000000 ? 1 : 2;
}

// The move-to-front list with its frequency estimate: a coded symbol moves towards the front
// as far as its estimated frequency earns.
class MoveToFront {
public:
    explicit MoveToFront(int shift) : m_shift(shift) {
        for (int i = 0; i < 256; ++i)
            m_symbols[std::size_t(i)] = m_rank[std::size_t(i)] = std::uint8_t(i);
    }

    std::uint8_t symbol(unsigned position) const { return m_symbols[position]; }
    unsigned position(std::uint8_t symbol) const { return m_rank[symbol]; }

    // The symbol at `position` was coded.
    void moveUp(unsigned position) {
        const std::uint8_t c = m_symbols[position];
        m_add += m_add >> m_shift;
        if (m_add > 0x10000000) {
            m_add >>= 24;
            for (std::uint32_t& f : m_frequency)
                f >>= 24;
        }
        const std::uint32_t f = m_add + (position < 4 ? m_frequency[position] : 0);
        unsigned k = position;
        for (; k >= 4; --k)
            place(k, m_symbols[k - 1]);
        for (; k > 0 && f >= m_frequency[k - 1]; --k) {
            place(k, m_symbols[k - 1]);
            m_frequency[k] = m_frequency[k - 1];
        }
        place(k, c);
        m_frequency[k] = f;
    }

private:
    void place(unsigned k, std::uint8_t c) {
        m_symbols[k] = c;
        m_rank[c] = std::uint8_t(k);
    }

    int m_shift;
    std::array<std::uint8_t, 256> m_symbols;
    std::array<std::uint8_t, 256> m_rank;
    std::array<std::uint32_t, 4> m_frequency{};
    std::uint32_t m_add = 4;
};

} // namespace vormelle::codec::bzz
