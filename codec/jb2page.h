// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/jb2.h"
#include "codec/stage.h"

#include <string>
#include <utility>
#include <vector>

namespace vormelle::codec {

// A bitonal page as JB2: its connected shapes found with Leptonica, each shape identical to an
// earlier one copied, each close one coded as a refinement of it, the rest coded directly. The
// result decodes to the page's pixels exactly. Returns an empty stream for a page that is not
// bitonal or not valid (checkPage()).
Bytes encodeJb2Page(const PageView& page);

// The INFO chunk of a page of this size and resolution.
Bytes infoChunk(int width, int height, int dpi);

// A one-page DjVu file ("AT&T", FORM:DJVU) of these chunks, in order.
Bytes singlePageFile(const std::vector<std::pair<std::string, Bytes>>& chunks);

// The bitonal pages' stage: each page coded at once, handed to the sink as INFO and Sjbz.
class Jb2Stage final : public PageStage {
public:
    Status addPage(const PageView& page, PageSink& sink, const AbortHook& abort) override;
    Status finish(PageSink& sink, const AbortHook& abort) override;

private:
    int m_pages = 0;
};

} // namespace vormelle::codec
