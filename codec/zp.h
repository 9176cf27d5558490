// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vormelle::codec {

// One state of the adaptive binary coder's probability machine.
struct ZpState {
    uint16_t p; // how much an MPS narrows the interval
    uint16_t m; // an MPS moves the state on only while the interval's base reaches this
    uint8_t up; // next state after such an MPS
    uint8_t dn; // next state after an LPS
};

// The DjVu format's fixed state table; every context starts in state 0.
extern const std::array<ZpState, 251> kZpTable;

// A context's state; the encoder moves it as bits are coded.
using ZpContext = uint8_t;

// Where a decision splits the interval [a, 0x10000): an MPS keeps [a, z), an LPS the rest. The
// format bounds z so that an MPS never takes much more than the interval's middle.
inline uint32_t zpSplit(uint32_t a, uint16_t p) {
    const uint32_t z = a + p;
    // Below 0x8000, z never passes the bound.
    if (z < 0x8000)
        return z;
    const uint32_t d = 0x6000 + ((a + z) >> 2);
    return z > d ? d : z;
}

// The ZP arithmetic encoder: bits in, bytes out. It knows nothing of what the bits mean.
class ZpEncoder {
public:
    // Codes `bit` with the adaptive `context`, which is updated. The decoder keeps its code
    // register C in [A, 0x10000); the encoder keeps the same A and the lowest stream value that
    // still decodes to the bits so far: an MPS takes the upper part of the interval, an LPS the
    // lower one.
    void encode(bool bit, ZpContext& context) {
        const ZpState& state = kZpTable[context];
        const uint32_t z = zpSplit(m_a, state.p);
        if (bit == static_cast<bool>(context & 1)) {
            // Only an MPS that narrows the interval to its renormalisation moves the state.
            if (z >= 0x8000 && m_a >= state.m)
                context = state.up;
            m_low += z - m_a;
            if (m_low >= 0x10000)
                carry();
            m_a = z;
            if (m_a >= 0x8000)
                shift();
        } else {
            context = state.dn;
            m_a += 0x10000 - z;
            while (m_a >= 0x8000)
                shift();
        }
    }
    // Codes `bit` without a context, at even odds: the pass-through mode that BZZ and
    // DjVuLibre's plain pass-through use (the interval split at A/2).
    void encodePassThrough(bool bit);
    // The same in IW44's variant, which splits the interval at 3A/8.
    void encodePassThroughIw44(bool bit);
    // Ends the stream and hands over its bytes; the encoder starts afresh afterwards.
    std::vector<uint8_t> finish();
    // Bytes written so far (the final size may be a little larger).
    size_t size() const { return m_bytes.size(); }
    // The interval's base, which alone decides how many bits later decisions take.
    uint32_t interval() const { return m_a; }
    // The bits coded so far, with the part of a bit that the interval's narrowing holds.
    double bits() const;

private:
    void passThrough(bool bit, uint32_t z);
    // Moves the interval's top bit out, a byte at a time.
    void shift() {
        m_byte = (m_byte << 1) | ((m_low >> 15) & 1);
        m_low = (m_low << 1) & 0xffff;
        m_a = (m_a << 1) & 0xffff;
        if (++m_bits == 8)
            flushByte();
    }
    void flushByte();
    void carry();
    void putBit(unsigned bit);

    uint32_t m_a = 0;   // interval base, as the decoder keeps it
    uint32_t m_low = 0; // the interval's lowest code value in the current 16-bit window
    uint32_t m_byte = 0;
    int m_bits = 0;
    std::vector<uint8_t> m_bytes;
};

// Counts the bits ZpEncoder would write for the same decisions from the same interval, and
// writes none: to weigh one way of coding something against another.
class ZpCounter {
public:
    explicit ZpCounter(uint32_t interval = 0) : m_a(interval), m_start(interval) {}
    void encode(bool bit, ZpContext& context) {
        const ZpState& state = kZpTable[context];
        const uint32_t z = zpSplit(m_a, state.p);
        if (bit == static_cast<bool>(context & 1)) {
            if (z >= 0x8000 && m_a >= state.m)
                context = state.up;
            m_a = z;
        } else {
            context = state.dn;
            m_a += 0x10000 - z;
        }
        while (m_a >= 0x8000) {
            m_a = (m_a << 1) & 0xffff;
            ++m_shifts;
        }
    }
    // The bits so far, with the part of a bit that the interval's narrowing holds.
    double bits() const;

private:
    uint32_t m_a;
    uint32_t m_start;
    uint32_t m_shifts = 0;
};

// A quicker, rougher count: each decision's bits by its context's state as it stands, which
// it leaves as it is.
class ZpEstimate {
public:
    void encode(bool bit, const ZpContext& context) {
        m_units += kCosts[context][bit != static_cast<bool>(context & 1)];
    }
    double bits() const { return double(m_units) / kUnit; }

    static constexpr int kUnit = 1024; // a bit
    // Per state: the units an MPS and an LPS take.
    static const std::array<std::array<uint16_t, 2>, 251> kCosts;

private:
    uint64_t m_units = 0;
};

// The ZP decoder, as DjVuLibre's runs it. Past the end of its data a stream reads as ones.
class ZpDecoder {
public:
    ZpDecoder(const uint8_t* data, size_t size);

    bool decode(ZpContext& context);
    // The two pass-through modes, as ZpEncoder codes them.
    bool decodePassThrough() { return passThrough(0x8000 + (m_a >> 1)); }
    bool decodePassThroughIw44() { return passThrough(0x8000 + ((m_a + m_a + m_a) >> 3)); }

    // Far past the end of its data, a stream is damaged.
    bool overrun() const { return m_past > 64; }

private:
    bool passThrough(uint32_t z);
    uint8_t next();
    uint32_t nextBit();
    void renormalise();
    void fence() { m_fence = m_c >= 0x8000 ? 0x7fff : m_c; }

    const uint8_t* m_data;
    const uint8_t* m_end;
    uint32_t m_a = 0;
    uint32_t m_c = 0;
    uint32_t m_fence = 0; // an MPS that keeps A at or below this needs no comparison
    uint32_t m_byte = 0;
    int m_bits = 0;
    size_t m_past = 0;
};

} // namespace vormelle::codec
