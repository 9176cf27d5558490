// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/text.h"

#include "codec/bzz.h"

#include <algorithm>

namespace vormelle::codec {

namespace {

using Kind = TextZone::Kind;

// Zones with their text's place in the page's text, as the chunk counts it.
struct Placed {
    const TextZone* zone = nullptr;
    int xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::vector<Placed> children;
};

char separator(Kind kind) {
    switch (kind) {
    case Kind::Column:
        return '\013';
    case Kind::Region:
        return '\035';
    case Kind::Paragraph:
        return '\037';
    case Kind::Line:
        return '\n';
    case Kind::Word:
        return ' ';
    case Kind::Page:
    case Kind::Character:
        break;
    }
    return 0;
}

constexpr std::uint32_t kMaxText = 0xffffff;

Error place(const TextZone& zone, std::string& text, Placed& out) {
    out.zone = &zone;
    out.xmin = std::min(zone.xmin, zone.xmax);
    out.xmax = std::max(zone.xmin, zone.xmax);
    out.ymin = std::min(zone.ymin, zone.ymax);
    out.ymax = std::max(zone.ymin, zone.ymax);
    out.start = std::uint32_t(text.size());
    if (zone.children.empty()) {
        text += zone.text;
    } else {
        out.children.resize(zone.children.size());
        for (std::size_t i = 0; i < zone.children.size(); ++i) {
            const TextZone& child = zone.children[i];
            if (child.kind <= zone.kind || child.kind > Kind::Character)
                return Error::BadData;
            if (const Error e = place(child, text, out.children[i]); e != Error::None)
                return e;
        }
    }
    if (const char s = separator(zone.kind))
        text += s;
    if (text.size() > kMaxText)
        return Error::TooLarge;
    out.length = std::uint32_t(text.size()) - out.start;
    return Error::None;
}

bool fits16(long v) {
    return v >= -0x8000 && v <= 0x7fff;
}

// A zone is placed against the sibling before it, or against its parent when it is the first.
// Pages, paragraphs and lines follow from the one above them; columns, regions, words and
// characters from the one to their left.
Error encode(const Placed& z, const Placed* parent, const Placed* previous, ByteWriter& out) {
    long x = z.xmin;
    long y = z.ymin;
    long start = long(z.start);
    const long width = z.xmax - z.xmin;
    const long height = z.ymax - z.ymin;
    const Kind kind = z.zone->kind;
    if (previous) {
        if (kind == Kind::Page || kind == Kind::Paragraph || kind == Kind::Line) {
            x -= previous->xmin;
            y = previous->ymin - (long(z.ymin) + height);
        } else {
            x -= previous->xmax;
            y -= previous->ymin;
        }
        start -= long(previous->start) + long(previous->length);
    } else if (parent) {
        x -= parent->xmin;
        y = parent->ymax - (long(z.ymin) + height);
        start -= long(parent->start);
    }
    if (!fits16(x) || !fits16(y) || !fits16(width) || !fits16(height) || !fits16(start))
        return Error::TooLarge;
    out.u8(unsigned(kind));
    for (const long v : {x, y, width, height, start})
        out.u16(unsigned(v + 0x8000));
    out.u24(z.length);
    out.u24(std::uint32_t(z.children.size()));
    const Placed* before = nullptr;
    for (const Placed& child : z.children) {
        if (const Error e = encode(child, &z, before, out); e != Error::None)
            return e;
        before = &child;
    }
    return Error::None;
}

} // namespace

Error textLayerPayload(const TextZone& page, Bytes& out) {
    if (page.kind != Kind::Page)
        return Error::BadData;
    std::string text;
    Placed placed;
    if (const Error e = place(page, text, placed); e != Error::None)
        return e;
    ByteWriter w;
    w.u24(std::uint32_t(text.size()));
    w.append(text);
    w.u8(1); // version
    if (const Error e = encode(placed, nullptr, nullptr, w); e != Error::None)
        return e;
    out = w.take();
    return Error::None;
}

Error textChunk(const TextZone& page, Chunk& out) {
    Bytes payload;
    if (const Error e = textLayerPayload(page, payload); e != Error::None)
        return e;
    out = Chunk::data("TXTz", bzzEncode(payload));
    return Error::None;
}

Error setPageText(Chunk& page, const TextZone& text) {
    if (!page.isForm() || page.formType() != "DJVU")
        return Error::BadData;
    Chunk chunk = Chunk::data("TXTz", {});
    if (const Error e = textChunk(text, chunk); e != Error::None)
        return e;
    std::vector<Chunk>& children = page.children();
    children.erase(
        std::remove_if(children.begin(), children.end(),
                       [](const Chunk& c) { return c.name() == "TXTa" || c.name() == "TXTz"; }),
        children.end());
    children.push_back(std::move(chunk));
    return Error::None;
}

} // namespace vormelle::codec
