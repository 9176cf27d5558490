// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/blocksort.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vormelle::codec {

namespace {

using Index = std::int32_t;

// Suffix sorting by induced sorting (SA-IS). `text` has `n` symbols below `alphabet`, the last
// one a unique 0 that sorts below all others. `sa` receives the start of every suffix in order.
// The reduced problem reuses `sa` for its text and its result, so memory stays at n indices
// plus the type bits and the buckets of each level.
template <class Symbol> void induceSort(const Symbol* text, Index* sa, Index n, Index alphabet) {
    // S-type: the suffix is smaller than the next one.
    std::vector<bool> small(std::size_t(n), false);
    small[std::size_t(n - 1)] = true;
    for (Index i = n - 2; i >= 0; --i)
        small[std::size_t(i)] =
            text[i] < text[i + 1] || (text[i] == text[i + 1] && small[std::size_t(i + 1)]);
    auto isLms = [&](Index i) {
        return i > 0 && small[std::size_t(i)] && !small[std::size_t(i - 1)];
    };

    std::vector<Index> count(std::size_t(alphabet), 0);
    for (Index i = 0; i < n; ++i)
        ++count[std::size_t(text[i])];
    std::vector<Index> bucket(static_cast<std::size_t>(alphabet));
    auto bucketStarts = [&] {
        Index sum = 0;
        for (Index c = 0; c < alphabet; ++c) {
            bucket[std::size_t(c)] = sum;
            sum += count[std::size_t(c)];
        }
    };
    auto bucketEnds = [&] {
        Index sum = 0;
        for (Index c = 0; c < alphabet; ++c) {
            sum += count[std::size_t(c)];
            bucket[std::size_t(c)] = sum;
        }
    };
    // From the LMS suffixes in place, the L-type ones from the left, then the S-type ones
    // from the right.
    auto induce = [&] {
        bucketStarts();
        for (Index i = 0; i < n; ++i) {
            const Index j = sa[i] - 1;
            if (sa[i] > 0 && !small[std::size_t(j)])
                sa[bucket[std::size_t(text[j])]++] = j;
        }
        bucketEnds();
        for (Index i = n - 1; i >= 0; --i) {
            const Index j = sa[i] - 1;
            if (sa[i] > 0 && small[std::size_t(j)])
                sa[--bucket[std::size_t(text[j])]] = j;
        }
    };

    // Sort the LMS substrings.
    std::fill(sa, sa + n, -1);
    bucketEnds();
    for (Index i = 1; i < n; ++i) {
        if (isLms(i))
            sa[--bucket[std::size_t(text[i])]] = i;
    }
    induce();

    // Gather them in order and name them: equal substrings get one name.
    Index lmsCount = 0;
    for (Index i = 0; i < n; ++i) {
        if (isLms(sa[i]))
            sa[lmsCount++] = sa[i];
    }
    std::fill(sa + lmsCount, sa + n, -1);
    Index names = 0;
    Index previous = -1;
    for (Index i = 0; i < lmsCount; ++i) {
        const Index at = sa[i];
        bool differs = previous < 0;
        for (Index d = 0; !differs; ++d) {
            if (text[at + d] != text[previous + d] ||
                small[std::size_t(at + d)] != small[std::size_t(previous + d)]) {
                differs = true;
            } else if (d > 0 && (isLms(at + d) || isLms(previous + d))) {
                break; // both substrings ended together
            }
        }
        if (differs) {
            ++names;
            previous = at;
        }
        // Two LMS positions are at least two apart, so at/2 is a free slot of its own.
        sa[lmsCount + at / 2] = names - 1;
    }
    for (Index i = n - 1, j = n - 1; i >= lmsCount; --i) {
        if (sa[i] >= 0)
            sa[j--] = sa[i];
    }

    // Order the LMS suffixes: directly when every name is unique, by recursion otherwise.
    Index* reduced = sa + n - lmsCount;
    if (names < lmsCount) {
        induceSort(reduced, sa, lmsCount, names);
    } else {
        for (Index i = 0; i < lmsCount; ++i)
            sa[reduced[i]] = i;
    }

    // Put the sorted LMS suffixes at their buckets' ends and induce the rest.
    for (Index i = 1, j = 0; i < n; ++i) {
        if (isLms(i))
            reduced[j++] = i;
    }
    for (Index i = 0; i < lmsCount; ++i)
        sa[i] = reduced[sa[i]];
    std::fill(sa + lmsCount, sa + n, -1);
    bucketEnds();
    for (Index i = lmsCount - 1; i >= 0; --i) {
        const Index j = sa[i];
        sa[i] = -1;
        sa[--bucket[std::size_t(text[j])]] = j;
    }
    induce();
}

} // namespace

std::size_t blockSort(const std::uint8_t* data, std::size_t size, std::uint8_t* out) {
    if (size == 0) {
        out[0] = 0; // the marker alone
        return 0;
    }
    const auto n = Index(size + 1);
    // Bytes move up by one so that the marker can be 0.
    std::vector<std::uint16_t> text(size + 1);
    for (std::size_t i = 0; i < size; ++i)
        text[i] = std::uint16_t(data[i] + 1);
    text[size] = 0;
    std::vector<Index> sa(size + 1);
    induceSort(text.data(), sa.data(), n, 257);

    std::size_t marker = 0;
    for (std::size_t row = 0; row <= size; ++row) {
        const Index start = sa[row];
        if (start == 0) {
            out[row] = 0;
            marker = row;
        } else {
            out[row] = data[start - 1];
        }
    }
    return marker;
}

} // namespace vormelle::codec
