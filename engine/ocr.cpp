// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ocr.h"
#include "engine/tesseractreader.h"

#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/outcome.h"
#include "engine/pagereader.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "platform/basicerror.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

#include <leptonica/allheaders.h>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace vormelle::engine {

namespace {

// Tesseract's own messages would only clutter the console: what matters reaches the row.
// debug_file is one of Tesseract's process-wide settings, whatever object sets it: two workers
// starting their recognizers at once wrote the same string together. It is set once.
void quieten(tesseract::TessBaseAPI& api) {
    static std::once_flag once;
    std::call_once(once, [&api] { api.SetVariable("debug_file", "/dev/null"); });
}

// Language names as Tesseract's data files are named: "eng", "chi_sim", "script/Latin". Nothing
// that could climb out of its data folder.
bool isLanguageName(const QString& name) {
    static const QRegularExpression valid(
        QStringLiteral("^[A-Za-z][A-Za-z0-9_]*(/[A-Za-z][A-Za-z0-9_]*)?$"));
    return valid.match(name).hasMatch();
}

// "eng + deu" as typed into the settings file is "eng+deu".
QStringList languageList(const QString& languages) {
    QStringList list;
    for (const QString& part : languages.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        if (!part.trimmed().isEmpty())
            list.append(part.trimmed());
    }
    return list;
}

// The languages Tesseract has data for, and the folder it looks in. A probe that cannot load
// anything is enough: Tesseract still says where it looked and what is there.
struct InstalledData {
    QString folder;
    QStringList languages;
};
InstalledData installedData() {
    tesseract::TessBaseAPI api;
    quieten(api);
    api.Init(nullptr, "vormelle_probe", tesseract::OEM_DEFAULT);
    InstalledData data;
    data.folder = QString::fromLocal8Bit(api.GetDatapath());
    std::vector<std::string> found;
    api.GetAvailableLanguagesAsVector(&found);
    for (const std::string& l : found)
        data.languages.append(QString::fromStdString(l));
    return data;
}

// The Debian package that holds a language's data: "tesseract-ocr-chi-sim" for chi_sim. Scripts
// are packaged under their ISO 15924 codes: script/Latin is tesseract-ocr-script-latn.
QString debianPackage(const QString& language) {
    static const QHash<QString, QString> scripts = [] {
        QHash<QString, QString> codes;
        const QString list = QStringLiteral(
            "Arabic=arab Armenian=armn Bengali=beng Canadian_Aboriginal=cans Cherokee=cher "
            "Cyrillic=cyrl Devanagari=deva Ethiopic=ethi Fraktur=frak Georgian=geor "
            "Greek=grek Gujarati=gujr Gurmukhi=guru Hangul=hang Hangul_vert=hang-vert "
            "HanS=hans HanS_vert=hans-vert HanT=hant HanT_vert=hant-vert Hebrew=hebr "
            "Japanese=jpan Japanese_vert=jpan-vert Kannada=knda Khmer=khmr Lao=laoo "
            "Latin=latn Malayalam=mlym Myanmar=mymr Oriya=orya Sinhala=sinh Syriac=syrc "
            "Tamil=taml Telugu=telu Thaana=thaa Thai=thai Tibetan=tibt Vietnamese=viet");
        for (const QString& pair : list.split(u' '))
            codes.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        return codes;
    }();
    static const QString prefix = QStringLiteral("script/");
    if (language.startsWith(prefix)) {
        const auto code = scripts.constFind(language.mid(prefix.size()));
        if (code != scripts.constEnd())
            return QStringLiteral("tesseract-ocr-script-") + *code;
    }
    return QStringLiteral("tesseract-ocr-") +
           language.toLower().replace(u'_', u'-').replace(u'/', u'-');
}

} // namespace

QList<OcrWord> PageText::words() const {
    QList<OcrWord> all;
    for (const OcrParagraph& p : paragraphs)
        for (const OcrLine& l : p.lines)
            all += l.words;
    return all;
}

// Tesseract's own margin for turning a page it reads with orientation detection
// (min_orientation_margin): below it, a turn is a guess.
constexpr float kSureOrientation = 7.0F;

struct TesseractReader::State {
    tesseract::TessBaseAPI api;
    bool loaded = false;
    // Orientation detection, with Tesseract's osd data; made for the first page, null when the
    // data cannot be loaded.
    std::unique_ptr<tesseract::TessBaseAPI> osd;
    bool osdTried = false;

    tesseract::TessBaseAPI* orientationDetector() {
        if (!osdTried) {
            osdTried = true;
            auto made = std::make_unique<tesseract::TessBaseAPI>();
            quieten(*made);
            if (made->Init(nullptr, "osd", tesseract::OEM_DEFAULT) == 0) {
                made->SetPageSegMode(tesseract::PSM_OSD_ONLY);
                osd = std::move(made);
            }
        }
        return osd.get();
    }
};

namespace {

// The page as Tesseract takes it from memory: 1-bit rows with 1 for white, or grey.
void setPage(tesseract::TessBaseAPI& api, const uchar* pixels, int width, int height,
             int bytesPerPixel, qsizetype bytesPerLine, std::vector<uchar>& inverted) {
    if (bytesPerPixel == 0) {
        if (inverted.empty()) {
            inverted.resize(size_t(bytesPerLine) * size_t(height));
            for (size_t i = 0; i < inverted.size(); ++i)
                inverted[i] = uchar(~pixels[i]);
        }
        api.SetImage(inverted.data(), width, height, 0, int(bytesPerLine));
    } else {
        api.SetImage(pixels, width, height, bytesPerPixel, int(bytesPerLine));
    }
}

// A copy of the page turned `quarters` times clockwise, for Tesseract alone: Leptonica's 1 is
// black, as in our rows, and it keeps its bytes in words of the machine's order.
Pix* turnedCopy(const uchar* pixels, int width, int height, int bytesPerPixel,
                qsizetype bytesPerLine, int quarters) {
    Pix* pix = pixCreate(width, height, bytesPerPixel == 0 ? 1 : 8);
    if (!pix)
        return nullptr;
    const size_t rowBytes = bytesPerPixel == 0 ? size_t(width + 7) / 8 : size_t(width);
    l_uint32* data = pixGetData(pix);
    const int wpl = pixGetWpl(pix);
    for (int y = 0; y < height; ++y)
        std::memcpy(data + size_t(y) * size_t(wpl), pixels + qsizetype(y) * bytesPerLine, rowBytes);
    pixEndianByteSwap(pix);
    pixSetPadBits(pix, 0);
    Pix* turned = pixRotateOrth(pix, quarters);
    pixDestroy(&pix);
    return turned;
}

// `box` on a page `size` turned a quarter clockwise: (x, y) goes to (h - 1 - y, x).
QRect quarterClockwise(const QRect& box, QSize& size) {
    const QRect turned(QPoint(size.height() - 1 - box.bottom(), box.left()),
                       QPoint(size.height() - 1 - box.top(), box.right()));
    size.transpose();
    return turned;
}

// Boxes read on the upright copy, put back on the page as it is (turned `degrees` clockwise
// from upright).
void placeOnThePage(PageText& page, QSize upright, int degrees) {
    auto place = [&](QRect& box) {
        QSize size = upright;
        for (int q = 0; q < degrees / 90; ++q)
            box = quarterClockwise(box, size);
    };
    for (OcrParagraph& p : page.paragraphs) {
        place(p.box);
        for (OcrLine& l : p.lines) {
            place(l.box);
            for (OcrWord& w : l.words)
                place(w.box);
        }
    }
}

// How far the page is turned, by Tesseract's orientation detection.
void detectOrientation(tesseract::TessBaseAPI& osd, PageText& page) {
    int degrees = 0;
    float confidence = 0;
    const char* script = nullptr;
    float scriptConfidence = 0;
    if (osd.DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence) &&
        degrees % 90 == 0 && degrees > 0 && degrees < 360) {
        if (confidence >= kSureOrientation)
            page.turned = degrees;
        else
            page.orientationUnsure = true;
    }
}

// The recognized words, grouped into the lines and paragraphs they came in.
void appendWords(tesseract::ResultIterator& it, PageText& page) {
    // The page is walked in its layout's order with the base iterators' steps, each of which
    // costs the same wherever it is. ResultIterator's own Next and GetUTF8Text put each line in
    // reading order for right-to-left scripts, at a cost that grows with the square of a line's
    // words; so does Tesseract's paragraph pass that reads the text (off, see the constructor).
    using tesseract::LTRResultIterator;
    using tesseract::PageIterator;
    using tesseract::RIL_PARA;
    using tesseract::RIL_TEXTLINE;
    using tesseract::RIL_WORD;
    bool newParagraph = true;
    bool newLine = true;
    do {
        if (it.PageIterator::IsAtBeginningOf(RIL_PARA))
            newParagraph = true;
        if (it.PageIterator::IsAtBeginningOf(RIL_TEXTLINE))
            newLine = true;
        if (it.Empty(RIL_WORD))
            continue;
        const std::unique_ptr<char[]> text(it.LTRResultIterator::GetUTF8Text(RIL_WORD));
        const QString word = text ? QString::fromUtf8(text.get()).trimmed() : QString();
        int left = 0, top = 0, right = 0, bottom = 0;
        if (word.isEmpty() || !it.BoundingBox(RIL_WORD, &left, &top, &right, &bottom))
            continue;
        if (newParagraph || page.paragraphs.isEmpty()) {
            page.paragraphs.append(OcrParagraph{});
            newParagraph = false;
            newLine = true;
        }
        OcrParagraph& paragraph = page.paragraphs.last();
        if (newLine || paragraph.lines.isEmpty()) {
            paragraph.lines.append(OcrLine{});
            newLine = false;
        }
        const QRect box(QPoint(left, top), QPoint(right - 1, bottom - 1));
        OcrLine& line = paragraph.lines.last();
        line.words.append({box, word});
        // Each zone holds its children: DjVu viewers look for words inside their lines.
        line.box = line.box.united(box);
        paragraph.box = paragraph.box.united(box);
    } while (it.PageIterator::Next(RIL_WORD));
}

} // namespace

TesseractReader::TesseractReader(const QString& languages) : m(std::make_unique<State>()) {
    quieten(m->api);
    for (const QString& l : languageList(languages)) {
        if (!isLanguageName(l))
            return;
    }
    const QByteArray names = languageList(languages).join(QLatin1Char('+')).toLatin1();
    if (m->api.Init(nullptr, names.constData(), tesseract::OEM_DEFAULT) != 0)
        return;
    m->loaded = true;
    // Blocks, paragraphs and lines as Tesseract finds them on the page.
    m->api.SetPageSegMode(tesseract::PSM_AUTO);
    // Paragraphs from the layout alone, before the words are read: the pass that reads their
    // text afterwards never looks at a stop, and on long lines it takes longer than the
    // recognition itself.
    m->api.SetVariable("paragraph_text_based", "false");
}

TesseractReader::~TesseractReader() = default;

bool TesseractReader::loaded() const {
    return m->loaded;
}

PageText TesseractReader::read(const uchar* pixels, int width, int height, int bytesPerPixel,
                               qsizetype bytesPerLine, int dpi, int boundMs) {
    PageText page;
    page.size = QSize(width, height);
    if (!m->loaded || width <= 0 || height <= 0)
        return page;
    // Tesseract runs parts of its recognition on OpenMP threads of its own. The run's workers
    // already keep every core busy; more threads only fight over them. Its environment variable
    // (OMP_THREAD_LIMIT) is read when the program starts, so the limit is set here, for the
    // thread that reads (the recognizer may have been made on another).
    omp_set_max_active_levels(0);
    std::vector<uchar> inverted;
    // A scan turned on the glass (pixels turned, no tag) is read the right way up; its pixels
    // stay as they are, only Tesseract's copy is turned.
    if (tesseract::TessBaseAPI* osd = m->orientationDetector()) {
        setPage(*osd, pixels, width, height, bytesPerPixel, bytesPerLine, inverted);
        osd->SetSourceResolution(dpi);
        detectOrientation(*osd, page);
        osd->Clear();
    }
    Pix* upright = nullptr;
    if (page.turned != 0) {
        upright = turnedCopy(pixels, width, height, bytesPerPixel, bytesPerLine,
                             (360 - page.turned) / 90);
        if (!upright)
            page.turned = 0;
    }
    if (upright) {
        m->api.SetImage(upright);
        inverted = {};
    } else {
        setPage(m->api, pixels, width, height, bytesPerPixel, bytesPerLine, inverted);
    }
    m->api.SetSourceResolution(dpi);
    const auto finish = [&] {
        m->api.Clear();
        pixDestroy(&upright);
    };
    // A stop does not reach this process: the program ends it.
    tesseract::ETEXT_DESC monitor;
    monitor.set_deadline_msecs(std::max(1, boundMs));
    const bool recognized = m->api.Recognize(&monitor) == 0;
    // Past its bound Tesseract leaves the words it did not reach empty: the others count.
    page.cutShort = !recognized && monitor.deadline_exceeded();
    std::unique_ptr<tesseract::ResultIterator> it(recognized || page.cutShort ? m->api.GetIterator()
                                                                              : nullptr);
    if (!it) {
        finish();
        return page;
    }
    appendWords(*it, page);
    it.reset();
    finish();
    if (page.turned != 0)
        placeOnThePage(page, page.turned % 180 != 0 ? QSize(height, width) : QSize(width, height),
                       page.turned);
    return page;
}

int recognitionBoundMs(int width, int height) {
    const double megapixels = double(std::max(width, 0)) * double(std::max(height, 0)) / 1e6;
    return int(std::min(60'000.0 + 4'000.0 * megapixels, double(INT_MAX / 2)));
}

bool isLanguageList(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('+'));
    return std::all_of(parts.cbegin(), parts.cend(),
                       [](const QString& part) { return isLanguageName(part.trimmed()); });
}

QString defaultOcrLanguages() {
    const InstalledData data = installedData();
    QStringList languages{QStringLiteral("eng")};
    const QString own = QLocale::languageToCode(QLocale().language(), QLocale::ISO639Part2T);
    if (!own.isEmpty() && !languages.contains(own) && data.languages.contains(own))
        languages.append(own);
    return languages.join(QLatin1Char('+'));
}

QString notALanguage(const QString& languages) {
    for (const QString& l : languageList(languages)) {
        if (l.compare(QLatin1String("osd"), Qt::CaseInsensitive) == 0)
            return engine::Texts::tr("\"%1\" is Tesseract's model for a page's orientation and "
                                     "script, not a language")
                .arg(l);
        if (l.compare(QLatin1String("equ"), Qt::CaseInsensitive) == 0)
            return engine::Texts::tr("\"%1\" is Tesseract's model for finding equations, not a "
                                     "language")
                .arg(l);
    }
    return {};
}

QString ocrLanguageProblem(const QString& languages) {
    const QStringList wanted = languageList(languages);
    if (wanted.isEmpty())
        return engine::Texts::tr("Nothing was converted: no language is given for the text layer.");
    for (const QString& l : wanted) {
        if (!isLanguageName(l))
            return engine::Texts::tr(
                       "Nothing was converted: \"%1\" is not a language for the text layer "
                       "(languages look like eng or deu+eng).")
                .arg(l);
    }
    // Tesseract loads them and reads garbage with them.
    if (const QString model = notALanguage(languages); !model.isEmpty())
        return engine::Texts::tr("Nothing was converted: %1.").arg(model);
    const InstalledData data = installedData();
    QStringList missing;
    for (const QString& l : wanted) {
        if (!data.languages.contains(l))
            missing.append(l);
    }
    if (missing.isEmpty())
        return {};
    // "ENG" for "eng": the data is there, under a name spelt otherwise.
    for (const QString& l : std::as_const(missing)) {
        for (const QString& installed : std::as_const(data.languages)) {
            if (installed.compare(l, Qt::CaseInsensitive) == 0)
                return engine::Texts::tr("Nothing was converted: Tesseract has no language "
                                         "\"%1\", but has \"%2\": language names are "
                                         "case-sensitive.")
                    .arg(l, installed);
        }
    }
    QStringList packages;
    for (const QString& l : std::as_const(missing))
        packages.append(debianPackage(l));
    return engine::Texts::tr(
               "Nothing was converted: Tesseract has no data for the language(s) %1 in %2 "
               "(Debian's package(s) %3).")
        .arg(missing.join(QStringLiteral(", ")), QDir::toNativeSeparators(data.folder),
             packages.join(QStringLiteral(", ")));
}

QString loadProblem(const Recognizer& recognizer, const QString& languages) {
    if (recognizer.problem().isEmpty())
        return {};
    if (const QString why = recognizer.helperProblem(); !why.isEmpty())
        return engine::Texts::tr("Nothing was converted: the text layer's helper %1 cannot be "
                                 "started (%2).")
            .arg(QDir::toNativeSeparators(recognizer.helperPath()), why);
    const QStringList wanted = languageList(languages);
    QStringList packages;
    for (const QString& l : wanted)
        packages.append(debianPackage(l));
    return engine::Texts::tr("Nothing was converted: Tesseract cannot load its data for %1 from "
                             "%2; a file may be damaged (reinstall Debian's package(s) %3).")
        .arg(wanted.join(QLatin1Char('+')), QDir::toNativeSeparators(installedData().folder),
             packages.join(QStringLiteral(", ")));
}

} // namespace vormelle::engine
