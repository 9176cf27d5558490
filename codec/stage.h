// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/error.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace vormelle::codec {

// How a page's pixels are laid out, as the engine's page reader delivers them.
enum class PixelKind {
    Bitonal, // 1 bit a pixel, most significant bit first, 1 for black (PBM's order)
    Grey,    // 1 byte a pixel, 0 for black
    Colour,  // 3 bytes a pixel: red, green, blue
};

// One page as its caller holds it: the stage reads the pixels during the call that is given the
// view and keeps no pointer into them afterwards. Rows go from the top.
struct PageView {
    PixelKind kind = PixelKind::Bitonal;
    int width = 0;
    int height = 0;
    int dpi = 0;
    const std::uint8_t* pixels = nullptr;
    std::ptrdiff_t stride = 0; // bytes from one row to the next
};

// The bytes one row of `width` pixels of `kind` takes at least.
std::ptrdiff_t rowBytes(PixelKind kind, int width);

// Error::None when the view can be read: a page of at least one pixel, whose sides DjVu can hold
// (at most 32767), with pixels and a stride of at least one row; Error::BadDimension otherwise.
Error checkPage(const PageView& page);

using Bytes = std::vector<std::uint8_t>;

// Receives serialised bytes in order. Returning false refuses them (a full disk): the stage
// stops there and reports Error::WriteFailed.
using Writer = std::function<bool(const std::uint8_t* data, std::size_t size)>;

// Asked between pieces of work; true asks the stage to stop, and it returns Error::Aborted.
using AbortHook = std::function<bool()>;

// Where a stage's pages go. Each page comes either as chunks of its FORM:DJVU (a coder of ours)
// or as a page file an encoder program wrote (one page, "AT&T" and FORM:DJVU). Pages come in
// the order they were added, each once; returning false refuses the page (Error::WriteFailed).
class PageSink {
public:
    virtual ~PageSink() = default;
    // One chunk of page `index` (from 0), in the order they go into the page, "INFO" first.
    virtual bool chunk(int index, std::string_view id, const Bytes& content) = 0;
    // Page `index` is complete: every chunk of it has been given (or its file, below).
    virtual bool pageDone(int index) = 0;
    // Page `index` as a whole file; the sink takes it over (reads or moves it) before it
    // returns, and the stage removes whatever is left at `path` afterwards.
    virtual bool pageFile(int index, const QString& path) = 0;
    // A component the pages share (a "Djbz" symbol dictionary), given before the first page
    // that uses it.
    virtual bool shared(std::string_view id, const Bytes& content) = 0;
};

// What a stage says about a page or a document: Error::None, or the error and, where it helps
// the user, a few words of its own (what a failing encoder program said).
struct Status {
    Error error = Error::None;
    QString detail;
    bool ok() const { return error == Error::None; }
};

// One stage that turns pages into DjVu, in the order of a whole document (add every page, finish
// what the pages share, hand out the pages): a stage that codes each page alone hands it to the
// sink from addPage(); one that shares symbols across pages keeps what it needs of each page
// (never its pixels) and hands every page out from finish().
class PageStage {
public:
    virtual ~PageStage() = default;
    // Where the stage would like the next page's pixels (rowBytes(kind, width) apart), for a
    // page of `shape`'s kind and size; null: anywhere. A caller that decodes into it spares the
    // stage a copy (an encoder program reads it where it lies).
    virtual std::uint8_t* pageMemory(const PageView& shape) {
        (void)shape;
        return nullptr;
    }
    // Takes the next page (numbered from 0 in the order given).
    virtual Status addPage(const PageView& page, PageSink& sink, const AbortHook& abort) = 0;
    // After the last page: whatever is still to be handed to the sink.
    virtual Status finish(PageSink& sink, const AbortHook& abort) = 0;
};

} // namespace vormelle::codec
