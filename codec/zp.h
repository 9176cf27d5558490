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

// The ZP arithmetic encoder: bits in, bytes out. It knows nothing of what the bits mean.
class ZpEncoder {
public:
    // Codes `bit` with the adaptive `context`, which is updated.
    void encode(bool bit, ZpContext& context);
    // Codes `bit` at even odds, without a context.
    void encodeRaw(bool bit);
    // Ends the stream and hands over its bytes; the encoder starts afresh afterwards.
    std::vector<uint8_t> finish();
    // Bytes written so far (the final size may be a little larger).
    size_t size() const { return m_bytes.size(); }

private:
    void shift();
    void carry();
    void putBit(unsigned bit);

    uint32_t m_a = 0;   // interval base, as the decoder keeps it
    uint32_t m_low = 0; // the interval's lowest code value in the current 16-bit window
    uint32_t m_byte = 0;
    int m_bits = 0;
    std::vector<uint8_t> m_bytes;
};

} // namespace vormelle::codec
