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
#include <utility>

namespace vormelle::platform {
class MemoryFile;
class RegularFile;
} // namespace vormelle::platform

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
    // The recognition reached the page's bound (recognitionBound): the words read until then.
    bool cutShort = false;
    // The text was found turned by this many degrees clockwise (90, 180, 270) and read the right
    // way up; the boxes are on the page as it is.
    int turned = 0;
    // Tesseract's orientation detection thought the page turned, but not surely: read as it is.
    bool orientationUnsure = false;
    // Why the page has no text although it was read ("vormelle-ocr crashed (...)"); "" when
    // none was lost.
    QString lost;
    bool isEmpty() const { return paragraphs.isEmpty(); }
    // Every word in reading order.
    QList<OcrWord> words() const;
};

// The program that reads text for the program, beside it in its folder.
inline constexpr char kRecognitionHelper[] = "vormelle-ocr";

// One Tesseract, for one worker thread, in a process of its own (the recognition helper, which
// loads the languages once and reads page after page): parts of Tesseract's work never look at
// a stop, so a stop, and a page past its bound, end the process instead. A crash of the helper
// costs that page's text, not the run; the next page starts a new one.
class Recognizer final {
public:
    // `languages` as Tesseract names them, joined with '+' ("eng+deu"). Starts the helper from
    // `programFolder` (the program's own folder when empty) and waits until it has loaded them.
    explicit Recognizer(const QString& languages, const QString& programFolder = {});
    ~Recognizer();
    Recognizer(const Recognizer&) = delete;
    Recognizer& operator=(const Recognizer&) = delete;

    // "" when Tesseract is ready; otherwise why not.
    QString problem() const;
    // Why the helper was not there, could not be started, or ended without a word; "" when
    // it answered.
    QString helperProblem() const;
    // Where the helper is looked for.
    QString helperPath() const;

    // Recognizes one page given as rows from the top: `bytesPerPixel` 0 for 1 bit a pixel with
    // 1 for black (PBM's order), 1 for grey. The helper reads the pixels from `file` when they
    // lie in it (the memory file the page was decoded into), otherwise from a copy. Returns
    // early, empty, when `stop` becomes true; with the words read so far when the page's bound
    // is reached; cut short and empty when the helper had to be ended at its hard bound.
    PageText recognize(const uchar* pixels, int width, int height, int bytesPerPixel,
                       qsizetype bytesPerLine, int dpi, const std::atomic<bool>* stop = nullptr,
                       const platform::MemoryFile* file = nullptr);

    // The bound of each page is recognitionBound() times `scale` (tests make it small).
    void setBoundScale(double scale);

private:
    struct State;
    std::unique_ptr<State> m;
};

// What the helper process runs (argv[1] the languages, descriptor 3 the program's channel);
// returns its exit status.
int serveRecognition(int argc, char** argv);

// The longest one page's recognition may take, by its size: 60 s, and 4 s more for every million
// pixels (a 300 dpi A4 page: 95 s; 9000 x 12000 pixels: 8.2 minutes). Tesseract reads an A4 page
// of text in about 10 s, so only a page that would take unbounded time reaches it.
int recognitionBoundMs(int width, int height);
// Tesseract keeps to the bound only during its recognition: past half as much again and 5 s
// more, the helper is ended.
int recognitionHardBoundMs(int boundMs);

// The languages a run uses when the setting "OcrLanguages" is missing or empty: English, and the
// user's locale language when Tesseract has its data.
QString defaultOcrLanguages();

// Whether `text` names languages as Tesseract's data files are named ("eng", "chi_sim",
// "script/Latin"), joined with '+' (spaces around a name allowed), with no empty name.
bool isLanguageList(const QString& text);

// Why a name of `languages` is one of Tesseract's models that reads no text ("osd": a page's
// orientation and script; "equ": equations); "" when none is.
QString notALanguage(const QString& languages);

// "" when Tesseract has data for every language of `languages`; otherwise the refusal shown once
// before a run ("Nothing was converted: ..."). The data is not loaded: see loadProblem().
QString ocrLanguageProblem(const QString& languages);

// The refusal before a run when Tesseract has the data of `recognizer`'s languages but cannot
// load it (a damaged file); "" when it loaded.
QString loadProblem(const Recognizer& recognizer, const QString& languages);

// Recognizes one page held whole (rows from the top, `stride` bytes apart) as the page reader
// delivers it: 1-bit and grey pages as they are, colour through grey, which is what Tesseract
// looks at (a grey copy of a third of the page's size).
// `file`: the memory file the pixels lie in, if they do.
PageText recognizePage(Recognizer& recognizer, const uchar* pixels, PixelKind kind, int width,
                       int height, qsizetype stride, int dpi,
                       const std::atomic<bool>* stop = nullptr,
                       const platform::MemoryFile* file = nullptr);

struct TextLayerResult {
    QString problem;                        // "" when the text went in
    QList<int> pagesWithout;                // pages (from 1) where nothing was found
    QList<int> pagesCutShort;               // pages whose recognition reached its bound
    QList<std::pair<int, int>> pagesTurned; // pages read turned: (page, degrees clockwise)
    QList<int> pagesOrientationUnsure;      // pages read as they are, their orientation unsure
    QList<std::pair<int, QString>> pagesTextLost; // pages whose reading failed: (page, why)
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
