// SPDX-License-Identifier: GPL-3.0-or-later
// The TIFF inspection on any bytes, in memory, on both routes: it never crashes, never hangs, and
// what it lets through to the converters has pages and a reason-free verdict; what it refuses has
// a short reason. The direct route's page reader reads the same bytes to the end: every page it
// delivers has all its rows, or a short reason why not.
#include "engine/pagereader.h"
#include "engine/tiffinspect.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    using namespace vormelle::engine;
    for (const Route route : {Route::Pdf, Route::Direct}) {
        const TiffInspection result = inspectTiffBytes(bytes, route);
        FUZZ_CHECK(result.pages >= 0);
        if (result.problem.isEmpty())
            FUZZ_CHECK(result.pages > 0);
        else
            FUZZ_CHECK(result.problem.size() <= 200 && !result.problem.contains(QLatin1Char('\n')));
    }
    TiffPageReader reader(bytes, TiffPageReader::InMemory{});
    while (reader.nextPage()) {
        const PageFormat& f = reader.format();
        FUZZ_CHECK(f.width > 0 && f.height > 0 && f.dpi >= kLowestDpi && f.dpi <= kHighestDpi);
        int rows = 0;
        while (reader.nextRow())
            ++rows;
        FUZZ_CHECK(rows == f.height || !reader.problem().isEmpty());
    }
    FUZZ_CHECK(reader.problem().size() <= 200 && !reader.problem().contains(QLatin1Char('\n')));
    return 0;
}
