// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace vormelle::bench {

// Bitonal pages that look scanned: text painted in grey with anti-aliasing by a font the system
// ships, turned a little, blurred as a scanner's optics do, given sensor noise, then cut at a
// threshold. The same letter comes out a little different each time it is printed, as on paper.

struct ScanPage {
    QImage image;        // Format_Mono, white 0, black 1 (Qt's default colour table)
    QString text;        // what the page says, words separated by single spaces
    QStringList figures; // the six-digit figures, in reading order (table pages only)
};

struct ScanLook {
    double blur = 0.8; // Gaussian sigma, in pixels at 300 dpi (scaled with the resolution)
    double noise = 14; // sensor noise, standard deviation in grey levels
    double skewDegrees = 0.25;
    int threshold = 140; // grey below it is black
};

// A4 at `dpi` of running text (sentences with capitals, commas and full stops) in `family`
// at `points`; `seed` chooses the words and the noise.
ScanPage textPage(int dpi, const QString& family, double points, int seed,
                  const ScanLook& look = {});

// A4 at `dpi`: a table of six-digit figures, as many to a row as the width holds, in
// `family` at `points`.
ScanPage tablePage(int dpi, const QString& family, double points, int seed,
                   const ScanLook& look = {});

// The page as a scanner gives it from a grey rendering (white 255): turned, blurred, noised
// and thresholded.
QImage scanned(const QImage& grey, int dpi, quint32 seed, const ScanLook& look = {});

// Writes a PBM (P4) of a Format_Mono image.
bool writePbm(const QString& path, const QImage& mono);

// Writes the pages into one TIFF (CCITT G4, min-is-white) at `dpi`.
bool writeTiff(const QString& path, const QList<QImage>& pages, int dpi);

} // namespace vormelle::bench
