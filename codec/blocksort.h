// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace vormelle::codec {

// The Burrows-Wheeler transform as BZZ uses it: the block is `data` followed by one end marker
// that sorts below every byte. `out` (size + 1 bytes) receives the last column of the sorted
// rotations; the row ending in the marker gets 0 there, and its index is returned. Row 0 is the
// rotation that starts with the marker. Linear time (suffix sorting by induced sorting), so a
// repetitive block costs no more than a varied one; about 9 bytes of memory per input byte.
std::size_t blockSort(const std::uint8_t* data, std::size_t size, std::uint8_t* out);

} // namespace vormelle::codec
