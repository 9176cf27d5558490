// SPDX-License-Identifier: GPL-3.0-or-later
// BZZ round trip: any bytes, coded in blocks of a size the input picks, decode to themselves;
// and the same bytes read as a damaged stream never crash the decoder or pass its bound.
#include "codec/bzz.h"
#include "fuzz/fuzzcheck.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks a small block size now and then, so that block ends get tried.
    const std::size_t block =
        size > 0 && data[0] < 32 ? std::size_t(data[0]) + 1 : vormelle::codec::kBzzBlockBytes;
    const vormelle::codec::Bytes coded = vormelle::codec::bzzEncode(data, size, block);
    const std::optional<vormelle::codec::Bytes> decoded =
        vormelle::codec::bzzDecode(coded.data(), coded.size(), size);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(decoded->size() == size);
    FUZZ_CHECK(size == 0 || std::equal(decoded->begin(), decoded->end(), data));
    FUZZ_CHECK(vormelle::codec::bzzEncode(data, size, block) == coded);

    const std::optional<vormelle::codec::Bytes> raw = vormelle::codec::bzzDecode(data, size, 4096);
    FUZZ_CHECK(!raw || raw->size() <= 4096);
    return 0;
}
