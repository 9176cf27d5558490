// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

namespace vormelle::platform {
class RegularFile;
}

namespace vormelle::engine {

// What a page's pixels are delivered as.
enum class PixelKind {
    Bitonal, // 1 bit a pixel, 8 pixels a byte, the leftmost in the high bit, 1 for black (PBM)
    Grey,    // 1 byte a pixel, 0 black to 255 white
    Colour,  // 3 bytes a pixel: red, green, blue
};

struct PageFormat {
    int width = 0;
    int height = 0;
    int dpi = 0; // the resolution the DjVu page gets: pageDpi() of the horizontal one
    PixelKind kind = PixelKind::Bitonal;
};

// The pages of a TIFF, one after another, each as rows of pixels from the top of the page as
// it is shown (the Orientation tag applied): 1-bit pages as they are, grey pages (1 to 16 bits)
// as 8-bit grey, every other colour model (palette, RGB, CMYK, CIE L*a*b*, YCbCr) as 8-bit RGB;
// the first alpha sample is laid over white, extra samples that mean nothing are ignored.
// Reduced-resolution copies are skipped, as they are not pages.
//
// The image data is decoded by strips, lines or rows of tiles, and of a tile only the rows
// inside the page, so the reader holds a band, not a page. Pages shown upside down or sideways
// (Orientation 3 to 8) are the exception for nextRow(): they are read whole, at the size
// delivered, before their first row; readPage() puts them into the caller's memory instead. The
// file is opened once and only if it is a regular file (separate planes read line by line get a
// libtiff handle each on it). Each reader keeps libtiff's messages to itself; readers on different
// threads share nothing.
class TiffPageReader final {
public:
    explicit TiffPageReader(const QString& path);
    // The same over a file the caller holds open (and keeps open while the reader lives).
    explicit TiffPageReader(const platform::RegularFile& file);
    // The same over a file held in memory; never touches the disk.
    struct InMemory {};
    TiffPageReader(const QByteArray& bytes, InMemory);
    ~TiffPageReader();
    Q_DISABLE_COPY_MOVE(TiffPageReader)

    // Moves to the next page (the first one on the first call). False at the end of the file
    // and when something went wrong (see problem()).
    bool nextPage();
    // The page's number, from 1, and its format as shown; valid after nextPage() returned true.
    int pageNumber() const;
    const PageFormat& format() const;
    // Bytes in one delivered row.
    qsizetype rowBytes() const;
    // The page's next row, valid until the next call; null after the last row and when the
    // image data cannot be decoded.
    const uchar* nextRow();

    // The whole page as shown, row after row `stride` bytes apart, into memory the caller holds;
    // instead of nextRow(), before it. A page shown turned goes there without a copy of its own.
    // False when the image data cannot be decoded (see problem()) or `stop` was set.
    bool readPage(uchar* pixels, qsizetype stride, const std::atomic<bool>* stop = nullptr);

    // What went wrong, as the inspection names it ("page 2: the image data is damaged"); ""
    // while all is well.
    QString problem() const;

private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace vormelle::engine
