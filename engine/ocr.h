// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/pagereader.h" // PixelKind

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <memory>

namespace vormelle::platform {
class RegularFile;
}

namespace vormelle::engine {

// A searchable text layer: Tesseract reads each page's own pixels (as TiffPageReader delivers
// them), and its words, lines and paragraphs go into the DjVu page as hidden text with
// the codec's text chunks (codec/text.h).

// What Tesseract found on one page. Boxes are in the page's pixels, origin at the top left, as
// Tesseract gives them; the text layer turns them over for DjVu.
struct OcrWord {
    QRect box;
    QString text;
};
struct OcrLine {
    QRect box;
    QList<OcrWord> words;
};
struct OcrParagraph {
    QRect box;
    QList<OcrLine> lines;
};
struct PageText {
    QSize size; // the page's pixels
    QList<OcrParagraph> paragraphs;
    bool isEmpty() const { return paragraphs.isEmpty(); }
    // Every word in reading order.
    QList<OcrWord> words() const;
};

// One Tesseract instance, for one worker thread: it is not shared, and it runs on the calling
// thread alone, so the run's workers share the cores as they do for encoding.
class Recognizer final {
public:
    // `languages` as Tesseract names them, joined with '+' ("eng+deu").
    explicit Recognizer(const QString& languages);
    ~Recognizer();
    Recognizer(const Recognizer&) = delete;
    Recognizer& operator=(const Recognizer&) = delete;

    // "" when Tesseract is ready; otherwise why not.
    QString problem() const;

    // Recognizes one page given as rows from the top: `bytesPerPixel` 0 for 1 bit a pixel with
    // 1 for black (PBM's order), 1 for grey. Returns early, empty, when `stop` becomes true.
    PageText recognize(const uchar* pixels, int width, int height, int bytesPerPixel,
                       qsizetype bytesPerLine, int dpi, const std::atomic<bool>* stop = nullptr);

private:
    struct State;
    std::unique_ptr<State> m;
};

// The languages a run uses when the setting "OcrLanguages" is missing or empty: English, and the
// user's locale language when Tesseract has its data.
QString defaultOcrLanguages();

// Whether `text` names languages as Tesseract's data files are named ("eng", "chi_sim",
// "script/Latin"), joined with '+' (spaces around a name allowed), with no empty name.
bool isLanguageList(const QString& text);

// "" when Tesseract has data for every language of `languages`; otherwise the refusal shown once
// before a run ("Nothing was converted: ...").
QString ocrLanguageProblem(const QString& languages);

// Recognizes one page held whole (rows from the top, `stride` bytes apart) as the page reader
// delivers it: 1-bit and grey pages as they are, colour through grey, which is what Tesseract
// looks at (a grey copy of a third of the page's size).
PageText recognizePage(Recognizer& recognizer, const uchar* pixels, PixelKind kind, int width,
                       int height, qsizetype stride, int dpi,
                       const std::atomic<bool>* stop = nullptr);

struct TextLayerResult {
    QString problem;         // "" when the text went in
    QList<int> pagesWithout; // pages (from 1) where nothing was found
    bool stopped = false;
};

// Reads every page of `tiff`, recognizes it and writes the words into the pages of `djvu`
// (which has as many pages), writing the document once with the codec. Works on a copy in
// `workFolder`: `djvu` is only replaced when all went well, so a failure leaves it as it was,
// without text.
TextLayerResult addTextLayer(Recognizer& recognizer, const QString& tiff, const QString& djvu,
                             const QString& workFolder, const std::atomic<bool>* stop = nullptr);
// The same, from the TIFF the run holds open (the file it inspected).
TextLayerResult addTextLayer(Recognizer& recognizer, const platform::RegularFile& tiff,
                             const QString& djvu, const QString& workFolder,
                             const std::atomic<bool>* stop = nullptr);

} // namespace vormelle::engine
