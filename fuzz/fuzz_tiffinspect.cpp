// The TIFF inspection on any bytes, in memory: it never crashes, never hangs, and what it lets
// through to the converters has pages and a reason-free verdict; what it refuses has a short
// reason.
#include "convert/tiffinspect.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const vormelle::convert::TiffInspection result = vormelle::convert::inspectTiffBytes(bytes);
    FUZZ_CHECK(result.pages >= 0);
    if (result.problem.isEmpty())
        FUZZ_CHECK(result.pages > 0);
    else
        FUZZ_CHECK(result.problem.size() <= 200 && !result.problem.contains(QLatin1Char('\n')));
    return 0;
}
