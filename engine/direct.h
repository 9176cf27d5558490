// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/outcome.h"   // Step
#include "engine/toolstage.h" // kPhotoEncoder

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

namespace vormelle::platform {
class RegularFile;
}

namespace vormelle::engine {

// The direct route: every TIFF page encoded straight into DjVu. 1-bit pages are coded by the
// codec's own JB2 coder (codec/jb2page.h: exact, every pixel as in the TIFF; with `lossy`, twin
// shapes drawn as one, at most 1 % of a page's pixels changed; compound masks too). Grey and colour
// pages go to DjVuLibre's encoders, found on the PATH (Debian's djvulibre-bin): those with text
// become compound pages (the codec's JB2 mask, a colour per mask shape, a reduced `c44`
// background), those without text, or all with ColourPages::Layer, one `c44` (IW44) layer from
// a PGM or PPM; each page is held in memory and encoded through ToolStage (engine/toolstage.h).
// The pages are read with TiffPageReader (engine/pagereader.h), so alpha channels are laid over
// white and 16-bit samples scaled to 8 bits. Each DjVu page has its TIFF page's pixel size and
// resolution (pageDpi in engine/tiffinspect.h: the tag when plausible, otherwise kDefaultDpi).
// Several pages make one bundled document (codec/document.h, no tool), in page order; one page
// makes a single-page document. The coders put no date or name of their own in what they write: the
// same file gives the same bytes each time.

class Recognizer;

struct DirectResult {
    // "" when the document was made; otherwise why not, in the closing box's words: what the
    // inspection says of a page it cannot read ("page 2: the image data is damaged"), or what a
    // failing encoder said ("cjb2 crashed (Segmentation fault)", its last line, ...).
    QString problem;
    int pages = 0;        // pages encoded
    bool stopped = false; // the stop flag was raised; `problem` says so too
    bool noSpace = false; // an encoder or the document writer found the work folder full
    // With a text layer: why the document has none ("" when it has one), and the pages (from
    // 1) where Tesseract found nothing.
    QString textProblem;
    QList<int> pagesWithoutText;
    QList<int> pagesCutShort;               // pages whose recognition reached its bound
    QList<std::pair<int, int>> pagesTurned; // pages read turned: (page, degrees clockwise)
    QList<int> pagesOrientationUnsure;
    QList<std::pair<int, QString>> pagesTextLost; // pages whose reading failed: (page, why)
    // Every encoder and bundler call, in order; the output only of one that failed.
    QList<Step> steps;
    // Per page, how it was coded and what each layer cost, for the run log (ToolStage's).
    QStringList profiles;
};

// Encodes the TIFF into `resultDjvu`, working in `workFolder` (the caller's private folder; its
// intermediate files are removed again, whatever happens). Safe to call from several threads at
// once with different work folders; it never touches a window. It holds one page's pixels at a
// time, in memory, which the encoder reads as its input. When `stop` is given and becomes true,
// the running encoder is killed and the call returns at once with `stopped` set.
//
// The result is written in the work folder first and then renamed onto `resultDjvu`, which
// should therefore lie in the work folder too; checking the page count against the inspection
// and placing the result at its output path are the caller's.
//
// With a `recognizer`, each page's pixels, decoded once and held whole in memory (not on disk)
// while its encoder runs, also go to Tesseract, and the words of every page go into the
// document as it is written. A failing text layer costs the document its text, not the
// document (textProblem says why).
DirectResult encodeDirect(const QString& tiffPath, const QString& workFolder,
                          const QString& resultDjvu, const std::atomic<bool>* stop = nullptr,
                          Recognizer* recognizer = nullptr,
                          ColourPages colourPages = ColourPages::Compound, bool lossy = false);
// The same from a file the caller holds open, read through its descriptor: the pages encoded
// are the ones the caller inspected, whatever has taken the file's name since.
DirectResult encodeDirect(const platform::RegularFile& tiff, const QString& workFolder,
                          const QString& resultDjvu, const std::atomic<bool>* stop = nullptr,
                          Recognizer* recognizer = nullptr,
                          ColourPages colourPages = ColourPages::Compound, bool lossy = false);

// "" when c44 and djvumake are on the PATH (bitonal pages need no program); otherwise the
// refusal to show once before a run: "Nothing was converted: c44 was not found. ...".
QString directEncoderProblem();

} // namespace vormelle::engine
