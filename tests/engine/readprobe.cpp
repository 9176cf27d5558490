// SPDX-License-Identifier: GPL-3.0-or-later
// Inspects a TIFF for the direct route and reads every row of every page, as a conversion
// does before the encoders: the layout test measures what that costs in memory.
#include "engine/pagereader.h"
#include "engine/tiffinspect.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString path = QCoreApplication::arguments().value(1);
    const vormelle::engine::TiffInspection inspection =
        vormelle::engine::inspectTiff(path, vormelle::engine::Route::Direct);
    if (!inspection.problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(inspection.problem));
        return 1;
    }
    vormelle::engine::TiffPageReader reader(path);
    while (reader.nextPage()) {
        for (int y = 0; y < reader.format().height; ++y) {
            if (!reader.nextRow())
                break;
        }
    }
    if (!reader.problem().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(reader.problem()));
        return 1;
    }
    return 0;
}
