#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace vormelle::convert {

// What libtiff finds in a TIFF before the converters see it. The converters turn some TIFFs
// into wrong pages without a word (an alpha channel, a resolution without unit, damaged image
// data) and fail on others with messages nobody can act on; those are named here instead.
struct TiffInspection {
    QString problem;             // "" when the converters can make correct pages of it;
                                 // otherwise a short plain reason for the closing box
    QStringList tiff2pdfOptions; // extra tiff2pdf options that make it right (may be empty)
    int pages = 0;               // pages found
    // tiff2pdf copies the compressed data instead of re-encoding it (no -n): the only way it
    // converts pages in YCbCr JPEG tiles.
    bool copyCompressedData = false;
    // The page with the most pixels, for messages about the size (0 x 0 when none was read).
    int largestWidth = 0;
    int largestHeight = 0;
};

// Reads every page's directory and decodes all its image data once. Anything that is not a
// regular file is never opened.
TiffInspection inspectTiff(const QString& path);
// The same on a thread of its own, calling `pause` every 40 ms until it is done, so a window
// can process its events.
TiffInspection inspectTiff(const QString& path, const std::function<void()>& pause);
// The same checks on a file held in memory; never touches the disk.
TiffInspection inspectTiffBytes(const QByteArray& bytes);

} // namespace vormelle::convert
