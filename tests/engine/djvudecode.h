// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QString>

namespace vormelle::test {

struct DjvuPage {
    QImage image; // RGB888, the page's full size
    int dpi = 0;
};

// Every page of a DjVu document decoded with DjVuLibre's library and rendered at its own size;
// empty when the document cannot be read.
QList<DjvuPage> decodeDjvu(const QString& path);

// Every page of a TIFF as libtiff's own RGBA reader sees it, over white, as RGB888; pages that
// are reduced-resolution copies are skipped. Empty when the file cannot be read.
QList<QImage> readTiffPixels(const QString& path);

// Pixels that differ in any channel.
qint64 differentPixels(const QImage& a, const QImage& b);
// Peak signal-to-noise ratio over all channels, in dB (1000 for equal images); -1 when the sizes
// differ. With `area`, only that part counts.
double psnr(const QImage& a, const QImage& b, const QRect& area = {});

} // namespace vormelle::test
