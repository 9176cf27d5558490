#include "engine/ocr.h"

#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/outcome.h"
#include "engine/pagereader.h"
#include "engine/runner.h"
#include "platform/basicerror.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

#include <leptonica/allheaders.h>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

namespace vormelle::engine {

namespace {

constexpr char kTextTool[] = "djvused";
constexpr std::chrono::milliseconds kStopCheck{50};

QString tr(const char* text) {
    return QCoreApplication::translate("TextLayer", text);
}

// Tesseract's own messages would only clutter the console: what matters reaches the row.
void quieten(tesseract::TessBaseAPI& api) {
    api.SetVariable("debug_file", "/dev/null");
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

bool cancelled(void* stop, int) {
    return static_cast<const std::atomic<bool>*>(stop)->load();
}

// A DjVu box from a box with its origin at the top left, scaled to the DjVu page.
QByteArray djvuBox(const QRect& box, const QSize& from, const QSize& to) {
    const double sx = from.width() > 0 ? double(to.width()) / from.width() : 1;
    const double sy = from.height() > 0 ? double(to.height()) / from.height() : 1;
    const int x0 = qRound(box.left() * sx);
    const int x1 = qRound((box.left() + box.width()) * sx);
    const int y0 = to.height() - qRound((box.top() + box.height()) * sy);
    const int y1 = to.height() - qRound(box.top() * sy);
    return QByteArray::number(std::max(x0, 0)) + ' ' + QByteArray::number(std::max(y0, 0)) + ' ' +
           QByteArray::number(std::min(x1, to.width())) + ' ' +
           QByteArray::number(std::min(y1, to.height()));
}

// A djvused string: UTF-8 with quotes and backslashes escaped, control characters in octal.
QByteArray quoted(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            out += '\\';
            out += QByteArray::number(u, 8).rightJustified(3, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

// Runs djvused to its end; "" when it ended with 0.
QString runTextTool(const QStringList& arguments, const QString& workFolder,
                    const std::atomic<bool>* stop, bool& stopped) {
    const QString program = QStandardPaths::findExecutable(QString::fromLatin1(kTextTool));
    std::optional<platform::ChildProcess> child;
    try {
        child.emplace(program, arguments,
                      converterEnvironment(workFolder, platform::localeIsUtf8()));
    } catch (const BasicError& e) {
        return converterReason(kTextTool, kStartFailed + e.number(), 0, {});
    }
    while (!child->waitFor(kStopCheck)) {
        if (stop && stop->load()) {
            child->kill();
            while (!child->waitFor(kStopCheck)) {
            }
            stopped = true;
            return tr("the conversion was stopped");
        }
    }
    if (child->exitCode() != 0 || child->endingSignal() != 0)
        return converterReason(kTextTool, child->exitCode(), child->endingSignal(),
                               child->output());
    return {};
}

} // namespace

QList<OcrWord> PageText::words() const {
    QList<OcrWord> all;
    for (const OcrParagraph& p : paragraphs)
        for (const OcrLine& l : p.lines)
            all += l.words;
    return all;
}

struct Recognizer::State {
    tesseract::TessBaseAPI api;
    QString problem;
};

Recognizer::Recognizer(const QString& languages) : m(std::make_unique<State>()) {
    // Tesseract runs parts of its recognition on OpenMP threads of its own. The run's workers
    // already keep every core busy; more threads only fight over them. Its environment variable
    // (OMP_THREAD_LIMIT) is read when the program starts, so the limit is set here, for the
    // worker's own thread.
    omp_set_max_active_levels(0);
    quieten(m->api);
    for (const QString& l : languageList(languages)) {
        if (!isLanguageName(l)) {
            m->problem = tr("\"%1\" is not a language name").arg(l);
            return;
        }
    }
    const QByteArray names = languageList(languages).join(QLatin1Char('+')).toLatin1();
    if (m->api.Init(nullptr, names.constData(), tesseract::OEM_DEFAULT) != 0) {
        m->problem = tr("Tesseract cannot load the languages %1").arg(languages);
        return;
    }
    // Blocks, paragraphs and lines as Tesseract finds them on the page.
    m->api.SetPageSegMode(tesseract::PSM_AUTO);
}

Recognizer::~Recognizer() = default;

QString Recognizer::problem() const {
    return m->problem;
}

PageText Recognizer::recognize(const uchar* pixels, int width, int height, int bytesPerPixel,
                               qsizetype bytesPerLine, int dpi, const std::atomic<bool>* stop) {
    PageText page;
    page.size = QSize(width, height);
    if (!m->problem.isEmpty() || width <= 0 || height <= 0)
        return page;
    if (bytesPerPixel == 0) {
        // Tesseract takes 1 for white in its 1-bit images.
        std::vector<uchar> inverted(size_t(bytesPerLine) * size_t(height));
        for (size_t i = 0; i < inverted.size(); ++i)
            inverted[i] = uchar(~pixels[i]);
        m->api.SetImage(inverted.data(), width, height, 0, int(bytesPerLine));
    } else {
        m->api.SetImage(pixels, width, height, bytesPerPixel, int(bytesPerLine));
    }
    m->api.SetSourceResolution(dpi);
    tesseract::ETEXT_DESC monitor;
    if (stop) {
        monitor.cancel = &cancelled;
        monitor.cancel_this = const_cast<std::atomic<bool>*>(stop);
    }
    if (m->api.Recognize(&monitor) != 0 || (stop && stop->load())) {
        m->api.Clear();
        return page;
    }
    std::unique_ptr<tesseract::ResultIterator> it(m->api.GetIterator());
    if (!it) {
        m->api.Clear();
        return page;
    }
    using tesseract::RIL_PARA;
    using tesseract::RIL_TEXTLINE;
    using tesseract::RIL_WORD;
    bool newParagraph = true;
    bool newLine = true;
    do {
        if (it->IsAtBeginningOf(RIL_PARA))
            newParagraph = true;
        if (it->IsAtBeginningOf(RIL_TEXTLINE))
            newLine = true;
        if (it->Empty(RIL_WORD))
            continue;
        const std::unique_ptr<char[]> text(it->GetUTF8Text(RIL_WORD));
        const QString word = text ? QString::fromUtf8(text.get()).trimmed() : QString();
        int left = 0, top = 0, right = 0, bottom = 0;
        if (word.isEmpty() || !it->BoundingBox(RIL_WORD, &left, &top, &right, &bottom))
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
    } while (it->Next(RIL_WORD));
    m->api.Clear();
    return page;
}

QByteArray textLayerExpression(const PageText& page, const QSize& djvuPage) {
    const QSize to = djvuPage.isValid() ? djvuPage : page.size;
    QByteArray out =
        "(page 0 0 " + QByteArray::number(to.width()) + ' ' + QByteArray::number(to.height());
    for (const OcrParagraph& p : page.paragraphs) {
        out += "\n (para " + djvuBox(p.box, page.size, to);
        for (const OcrLine& l : p.lines) {
            out += "\n  (line " + djvuBox(l.box, page.size, to);
            for (const OcrWord& w : l.words)
                out += "\n   (word " + djvuBox(w.box, page.size, to) + ' ' + quoted(w.text) + ')';
            out += ')';
        }
        out += ')';
    }
    return out + ')';
}

QString defaultOcrLanguages() {
    const InstalledData data = installedData();
    QStringList languages{QStringLiteral("eng")};
    const QString own = QLocale::languageToCode(QLocale().language(), QLocale::ISO639Part2T);
    if (!own.isEmpty() && !languages.contains(own) && data.languages.contains(own))
        languages.append(own);
    return languages.join(QLatin1Char('+'));
}

QString ocrLanguageProblem(const QString& languages) {
    if (QStandardPaths::findExecutable(QString::fromLatin1(kTextTool)).isEmpty())
        return tr("Nothing was converted: djvused was not found. The text layer is written with "
                  "DjVuLibre's djvused, which must be on the PATH (Debian's package "
                  "djvulibre-bin).");
    const QStringList wanted = languageList(languages);
    if (wanted.isEmpty())
        return tr("Nothing was converted: no language is given for the text layer.");
    for (const QString& l : wanted) {
        if (!isLanguageName(l))
            return tr("Nothing was converted: \"%1\" is not a language for the text layer "
                      "(languages look like eng or deu+eng).")
                .arg(l);
    }
    const InstalledData data = installedData();
    QStringList missing;
    for (const QString& l : wanted) {
        if (!data.languages.contains(l))
            missing.append(l);
    }
    if (missing.isEmpty())
        return {};
    QStringList packages;
    for (const QString& l : std::as_const(missing))
        packages.append(QStringLiteral("tesseract-ocr-") + l.toLower().replace(u'_', u'-'));
    return tr("Nothing was converted: Tesseract has no data for the language(s) %1 in %2 "
              "(Debian's package(s) %3).")
        .arg(missing.join(QStringLiteral(", ")), QDir::toNativeSeparators(data.folder),
             packages.join(QStringLiteral(", ")));
}

namespace {

TextLayerResult addTextLayerFrom(Recognizer& recognizer, TiffPageReader& reader,
                                 const QString& djvu, const QString& workFolder,
                                 const std::atomic<bool>* stop) {
    TextLayerResult result;
    if (!recognizer.problem().isEmpty()) {
        result.problem = recognizer.problem();
        return result;
    }
    const QList<QSize> sizes = djvuPageSizes(djvu);
    if (sizes.isEmpty()) {
        result.problem = tr("the DjVu result could not be read");
        return result;
    }

    QByteArray script;
    std::vector<uchar> pixels;
    while (reader.nextPage()) {
        const int number = reader.pageNumber();
        if (number > sizes.size()) {
            result.problem = tr("the DjVu result has fewer pages than the TIFF");
            return result;
        }
        const PageFormat& f = reader.format();
        // 1-bit pages go as they are; colour goes as grey, which is what Tesseract looks at.
        const qsizetype stride = f.kind == PixelKind::Bitonal ? reader.rowBytes() : f.width;
        pixels.assign(size_t(stride) * size_t(f.height), 0);
        for (int y = 0; y < f.height; ++y) {
            const uchar* row = reader.nextRow();
            if (!row) {
                result.problem = reader.problem();
                return result;
            }
            uchar* to = pixels.data() + size_t(y) * size_t(stride);
            if (f.kind == PixelKind::Colour) {
                for (int x = 0; x < f.width; ++x)
                    to[x] = uchar(
                        (299 * row[3 * x] + 587 * row[3 * x + 1] + 114 * row[3 * x + 2] + 500) /
                        1000);
            } else {
                std::copy_n(row, stride, to);
            }
        }
        const PageText text =
            recognizer.recognize(pixels.data(), f.width, f.height,
                                 f.kind == PixelKind::Bitonal ? 0 : 1, stride, f.dpi, stop);
        if (stop && stop->load()) {
            result.stopped = true;
            result.problem = tr("the conversion was stopped");
            return result;
        }
        if (text.isEmpty()) {
            result.pagesWithout.append(number);
            continue;
        }
        script += "select " + QByteArray::number(number) + "\nset-txt\n" +
                  textLayerExpression(text, sizes[number - 1]) + "\n.\n";
    }
    if (!reader.problem().isEmpty()) {
        result.problem = reader.problem();
        return result;
    }
    if (script.isEmpty())
        return result; // nothing found anywhere: the document stays as it is

    // djvused saves in place: it works on a copy, which replaces the document when all is well.
    const QString scriptPath = workFolder + QStringLiteral("/text.dsed");
    const QString copy = workFolder + QStringLiteral("/text.djvu");
    QFile scriptFile(scriptPath);
    QFile::remove(copy);
    if (!scriptFile.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        scriptFile.write(script) != script.size() || !scriptFile.flush() ||
        !QFile::copy(djvu, copy)) {
        result.problem = tr("cannot write in the temporary folder: %1")
                             .arg(scriptFile.error() != QFileDevice::NoError
                                      ? scriptFile.errorString()
                                      : tr("the result could not be copied"));
        scriptFile.close();
        QFile::remove(scriptPath);
        QFile::remove(copy);
        return result;
    }
    scriptFile.close();
    result.problem = runTextTool({QStringLiteral("-s"), QStringLiteral("-f"), scriptPath, copy},
                                 workFolder, stop, result.stopped);
    QFile::remove(scriptPath);
    // One rename: the document is either the old one or the one with text, never gone.
    if (result.problem.isEmpty() && ::rename(platform::encodePath(copy).constData(),
                                             platform::encodePath(djvu).constData()) != 0)
        result.problem =
            tr("cannot write in the temporary folder: %1").arg(platform::systemErrorText(errno));
    QFile::remove(copy);
    return result;
}

} // namespace

TextLayerResult addTextLayer(Recognizer& recognizer, const QString& tiff, const QString& djvu,
                             const QString& workFolder, const std::atomic<bool>* stop) {
    TiffPageReader reader(tiff);
    return addTextLayerFrom(recognizer, reader, djvu, workFolder, stop);
}

TextLayerResult addTextLayer(Recognizer& recognizer, const platform::RegularFile& tiff,
                             const QString& djvu, const QString& workFolder,
                             const std::atomic<bool>* stop) {
    TiffPageReader reader(tiff);
    return addTextLayerFrom(recognizer, reader, djvu, workFolder, stop);
}

} // namespace vormelle::engine
