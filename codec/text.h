// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/error.h"
#include "codec/iff.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vormelle::codec {

// A zone of a page's hidden text, in the page's pixels with DjVu's origin at the bottom left:
// [xmin, xmax) by [ymin, ymax). Words (and characters) carry their text in UTF-8; the zones
// above them hold children in reading order.
struct TextZone {
    enum class Kind : std::uint8_t {
        Page = 1,
        Column = 2,
        Region = 3,
        Paragraph = 4,
        Line = 5,
        Word = 6,
        Character = 7,
    };
    Kind kind = Kind::Page;
    int xmin = 0;
    int ymin = 0;
    int xmax = 0;
    int ymax = 0;
    std::string text;
    std::vector<TextZone> children;
};

// The text chunk's content before compression (what a TXTa chunk holds): the page's text, each
// word followed by a space, each line by a line feed and each paragraph, region and column by
// its separator, as djvused writes it; then the zones, each placed against its parent or the
// sibling before it. Error::TooLarge when a coordinate or size leaves the format's 16 bits
// (pages wider than 32767 pixels) or the text its 24 bits; Error::BadData for a page zone that is
// not of kind Page, or a zone whose kind is not below its parent's.
Error textLayerPayload(const TextZone& page, Bytes& out);

// The same as a TXTz chunk (the content above, BZZ-coded).
Error textChunk(const TextZone& page, Chunk& out);

// Puts the text into `page` (a FORM:DJVU), in place of any text chunk it had. Error::BadData
// when `page` is not a page.
Error setPageText(Chunk& page, const TextZone& text);

} // namespace vormelle::codec
