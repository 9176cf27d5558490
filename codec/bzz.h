// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/iff.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vormelle::codec {

// BZZ, DjVu's general-purpose compressor (DIRM, ANTz, TXTz, FGbz): blocks sorted with the
// Burrows-Wheeler transform, then coded with the ZP coder through an adaptive move-to-front
// model. The result is a raw stream as DjVuLibre's `bzz -d` reads it. The same input gives the
// same bytes every time.

// The largest block, in input bytes. DjVuLibre's decoders take blocks up to 4 MiB; 1 MiB keeps
// the sort's memory near 9 MiB while costing a few per cent of size on the largest inputs only.
inline constexpr std::size_t kBzzBlockBytes = std::size_t(1) << 20;

Bytes bzzEncode(const std::uint8_t* data, std::size_t size,
                std::size_t blockBytes = kBzzBlockBytes);
inline Bytes bzzEncode(const Bytes& data) {
    return bzzEncode(data.data(), data.size());
}

// Decodes a BZZ stream, as DjVuLibre's decoder does. Nothing when the stream is damaged or would
// decode to more than `maxSize` bytes (a directory or a text layer has a known bound).
std::optional<Bytes> bzzDecode(const std::uint8_t* data, std::size_t size, std::size_t maxSize);

} // namespace vormelle::codec
