// SPDX-License-Identifier: GPL-3.0-or-later
// Bitonal coders on scanned-looking pages (bench/codec/scanpages.h): a 300 dpi page, a 600 dpi
// page, a 20-page book in one font and a table of six-digit figures in 7-point type. In the same
// run: `cjb2` (lossless) and `cjb2 -lossy` page by page, `minidjvu -p 20` (one dictionary for up
// to 20 pages) on each set, and this program's JB2 coder, exact and lossy (codec/jb2page.h), page
// by page and, on the book, with the dictionary its pages share (codec::Jb2Stage). For each: bytes,
// processor time (the child's, or ours), pixels changed (every page decoded by `ddjvu`), and what
// Tesseract (one thread) reads on the decoded pages against the words painted; on the table, the
// figures it reads right.
//   vormelle-bench-jb2 [--no-ocr] [--pages DIR] [--minidjvu-seconds N] [set]...
//     --pages DIR   also write each set as a TIFF into DIR (to convert them through the program)
//     --minidjvu-seconds N  stop minidjvu after N seconds of wall time (default 900): it has
//                   taken over an hour on the book
//     --only NAME   run only this coder ("ours lossy"; may be given more than once)
//     set           300, 600, book or table (default: all four)
#include "bench/codec/scanpages.h"
#include "bench/convert/cpuclock.h"
#include "codec/document.h"
#include "codec/iff.h"
#include "codec/jb2page.h"
#include "engine/ocr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

using namespace vormelle;

namespace {

// The figures of several pages as one.
void addStats(codec::Jb2Stats& total, const codec::Jb2Stats& page) {
    total.shapes += page.shapes;
    total.copies += page.copies;
    total.refinements += page.refinements;
    total.direct += page.direct;
    total.twins += page.twins;
    total.changed += page.changed;
}

struct PageSet {
    QString name;
    int dpi = 300;
    QList<bench::ScanPage> pages;
    bool table = false;
};

// A coder's product: the DjVu files, and for each page the file and the page within it (from 1).
struct Coded {
    QStringList files;
    QList<QPair<QString, int>> pages;
};

// A document of `pages` pages in one file.
Coded oneDocument(const QString& file, int pages) {
    Coded coded;
    coded.files << file;
    for (int i = 0; i < pages; ++i)
        coded.pages.append({file, i + 1});
    return coded;
}

struct Coder {
    QString name;
    bool lossless = false;
    // Encodes the PBMs into `out`; empty on failure.
    std::function<Coded(const QStringList& pbms, int dpi, const QString& out)> encode;
};

bool run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, arguments);
    if (!p.waitForStarted() || !p.waitForFinished(-1))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Coded cjb2(const QStringList& pbms, int dpi, const QString& out, bool lossy) {
    Coded coded;
    for (int i = 0; i < pbms.size(); ++i) {
        const QString file = out + QStringLiteral("/p%1.djvu").arg(i + 1, 3, 10, QLatin1Char('0'));
        QStringList arguments{QStringLiteral("-dpi"), QString::number(dpi)};
        if (lossy)
            arguments << QStringLiteral("-lossy");
        if (!run(QStringLiteral("cjb2"), arguments << pbms[i] << file))
            return {};
        coded.files << file;
        coded.pages.append({file, 1});
    }
    return coded;
}

int minidjvuSeconds = 900;

Coded minidjvu(const QStringList& pbms, int dpi, const QString& out) {
    const QString file = out + QStringLiteral("/book.djvu");
    if (!run(QStringLiteral("timeout"),
             QStringList{QString::number(minidjvuSeconds), QStringLiteral("minidjvu"),
                         QStringLiteral("-d"), QString::number(dpi), QStringLiteral("-p"),
                         QStringLiteral("20")}
                 << pbms << file))
        return {};
    return oneDocument(file, int(pbms.size()));
}

QImage readPbm(const QString& path);

// How our coder coded the pages of the last set.
codec::Jb2Stats oursStats;

// Our JB2 coder, in this process, a page file each.
Coded ours(const QStringList& pbms, int dpi, const QString& out, bool lossy) {
    Coded coded;
    codec::Jb2Options options;
    options.lossy = lossy;
    oursStats = {};
    for (int i = 0; i < pbms.size(); ++i) {
        const QImage page = readPbm(pbms[i]);
        if (page.isNull())
            return {};
        const codec::PageView view{
            codec::PixelKind::Bitonal, page.width(),       page.height(), dpi,
            page.constBits(),          page.bytesPerLine()};
        using codec::Chunk;
        codec::Jb2Stats stats;
        const std::optional<codec::Bytes> bytes = codec::fileBytes(Chunk::form(
            "DJVU", {Chunk::data("INFO", codec::infoChunk(view.width, view.height, dpi)),
                     Chunk::data("Sjbz", codec::encodeJb2Page(view, options, &stats))}));
        addStats(oursStats, stats);
        const QString file = out + QStringLiteral("/p%1.djvu").arg(i + 1, 3, 10, QLatin1Char('0'));
        QFile f(file);
        if (!bytes || !f.open(QIODevice::WriteOnly) ||
            f.write(reinterpret_cast<const char*>(bytes->data()), qint64(bytes->size())) !=
                qint64(bytes->size()))
            return {};
        coded.files << file;
        coded.pages.append({file, 1});
    }
    return coded;
}

// What the sharing stage hands out, as one bundled document.
struct DocumentSink final : codec::PageSink {
    codec::DocumentWriter doc;
    std::map<int, std::vector<codec::Chunk>> open;
    bool failed = false;
    bool chunk(int index, std::string_view id, const codec::Bytes& content) override {
        open[index].push_back(codec::Chunk::data(id, content));
        return true;
    }
    bool pageDone(int index) override {
        failed = failed || doc.addPage(codec::Chunk::form("DJVU", std::move(open[index]))) !=
                               codec::Error::None;
        open.erase(index);
        return !failed;
    }
    bool pageFile(int, const QString&) override { return false; }
    bool shared(std::string_view id, const codec::Bytes& content) override {
        failed = failed ||
                 doc.addShared(codec::Chunk::form("DJVI", {codec::Chunk::data("Djbz", content)}),
                               std::string(id)) != codec::Error::None;
        return !failed;
    }
};

// Our JB2 coder with a dictionary the pages share, as the program codes a document.
Coded oursDocument(const QStringList& pbms, int dpi, const QString& out, bool lossy) {
    codec::Jb2Options options;
    options.lossy = lossy;
    codec::Jb2Stage stage(options, true);
    DocumentSink sink;
    QList<QImage> pages;
    for (const QString& pbm : pbms) {
        const QImage page = readPbm(pbm);
        if (page.isNull())
            return {};
        const codec::PageView view{
            codec::PixelKind::Bitonal, page.width(),       page.height(), dpi,
            page.constBits(),          page.bytesPerLine()};
        if (!stage.addPage(view, sink, {}).ok())
            return {};
    }
    if (!stage.finish(sink, {}).ok() || sink.failed)
        return {};
    oursStats = {};
    for (int i = 0; i < pbms.size(); ++i) {
        addStats(oursStats, stage.pageStats(i));
    }
    const QString file = out + QStringLiteral("/book.djvu");
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) ||
        sink.doc.finish([&](const std::uint8_t* data, std::size_t size) {
            return f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size);
        }) != codec::Error::None)
        return {};
    return oneDocument(file, int(pbms.size()));
}

// A P4 PBM as Format_Mono with 1 for black, as the pages are made; null when it is not one.
QImage readPbm(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    // "P4", white space, width, white space, height, one white space character, the rows.
    qsizetype at = 2;
    auto number = [&]() {
        while (at < all.size() && (all[at] == '#' || QChar(all[at]).isSpace())) {
            if (all[at] == '#')
                while (at < all.size() && all[at] != '\n')
                    ++at;
            ++at;
        }
        int n = 0;
        while (at < all.size() && all[at] >= '0' && all[at] <= '9')
            n = n * 10 + (all[at++] - '0');
        return n;
    };
    if (!all.startsWith("P4"))
        return {};
    const int w = number(), h = number();
    ++at;
    const qsizetype rowBytes = (w + 7) / 8;
    if (w <= 0 || h <= 0 || all.size() - at < rowBytes * h)
        return {};
    QImage image(w, h, QImage::Format_Mono);
    for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), all.constData() + at + y * rowBytes, size_t(rowBytes));
    return image;
}

qint64 changedPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return qint64(a.width()) * a.height();
    qint64 changed = 0;
    const int whole = a.width() / 8, rest = a.width() % 8;
    for (int y = 0; y < a.height(); ++y) {
        const uchar *p = a.constScanLine(y), *q = b.constScanLine(y);
        for (int x = 0; x < whole; ++x)
            changed += std::popcount(unsigned(p[x] ^ q[x]));
        if (rest)
            changed += std::popcount(unsigned((p[whole] ^ q[whole]) & (0xff00 >> rest)));
    }
    return changed;
}

// Words, one space between.
QString normalised(const QString& text) {
    return text.simplified();
}

// Levenshtein distance between two sequences.
template <typename T> int editDistance(const QList<T>& a, const QList<T>& b) {
    std::vector<int> previous(size_t(b.size() + 1)), current(size_t(b.size() + 1));
    for (qsizetype j = 0; j <= b.size(); ++j)
        previous[size_t(j)] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            current[size_t(j)] =
                std::min({previous[size_t(j)] + 1, current[size_t(j - 1)] + 1,
                          previous[size_t(j - 1)] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        }
        std::swap(previous, current);
    }
    return previous[size_t(b.size())];
}

// The share of the painted characters Tesseract reads right, in per cent.
double characterAccuracy(const QString& truth, const QString& read) {
    const QString t = normalised(truth), r = normalised(read);
    const QList<QChar> a(t.begin(), t.end()), b(r.begin(), r.end());
    return 100.0 * (1.0 - double(editDistance(a, b)) / double(std::max<qsizetype>(1, a.size())));
}

// How many of the painted figures are read, in order, exactly (the longest common run of the
// two sequences of figures).
int figuresRead(const QStringList& truth, const QString& read) {
    QStringList found;
    for (const QString& w : read.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (w.size() == 6 && std::all_of(w.begin(), w.end(), [](QChar c) { return c.isDigit(); }))
            found << w;
    }
    std::vector<int> previous(size_t(found.size() + 1)), current(size_t(found.size() + 1));
    for (qsizetype i = 1; i <= truth.size(); ++i) {
        for (qsizetype j = 1; j <= found.size(); ++j) {
            current[size_t(j)] = truth[i - 1] == found[j - 1]
                                     ? previous[size_t(j - 1)] + 1
                                     : std::max(previous[size_t(j)], current[size_t(j - 1)]);
        }
        std::swap(previous, current);
    }
    return previous[size_t(found.size())];
}

QString readPage(engine::Recognizer& tesseract, const QImage& mono, int dpi) {
    const engine::PageText text = tesseract.recognize(mono.constBits(), mono.width(), mono.height(),
                                                      0, mono.bytesPerLine(), dpi);
    QStringList words;
    for (const engine::OcrWord& w : text.words())
        words << w.text;
    return words.join(QLatin1Char(' '));
}

struct Reading {
    double accuracy = 0; // mean over the pages, per cent
    int figures = 0;     // table: figures read right, summed over the pages
    // Table: painted figures found among those read, in any order (Tesseract's order through a
    // table changes with its layout analysis, which edge noise can turn).
    int found = 0;
};

int figuresFound(const QStringList& truth, const QString& read) {
    QMap<QString, int> left;
    for (const QString& f : truth)
        ++left[f];
    int found = 0;
    for (const QString& w : read.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        auto it = left.find(w);
        if (it != left.end() && it.value() > 0) {
            --it.value();
            ++found;
        }
    }
    return found;
}

// Each page read by a Tesseract of its own: one that has read other pages has learnt from them
// (its adaptive classifier), and reads the next page differently.
Reading readPages(engine::Recognizer&, const PageSet& set, const QList<QImage>& images) {
    Reading r;
    for (int i = 0; i < set.pages.size(); ++i) {
        // The recognition helper lives beside the program.
        engine::Recognizer tesseract(QStringLiteral("eng"),
                                     QStringLiteral(VORMELLE_BUILT_PROGRAM_DIR));
        if (!tesseract.helperProblem().isEmpty())
            std::fprintf(stderr, "no OCR helper: %s\n", qPrintable(tesseract.helperProblem()));
        const QString read = readPage(tesseract, images[i], set.dpi);
        r.accuracy += characterAccuracy(set.pages[i].text, read) / double(set.pages.size());
        if (set.table) {
            r.figures += figuresRead(set.pages[i].figures, read);
            r.found += figuresFound(set.pages[i].figures, read);
        }
    }
    return r;
}

PageSet makeSet(const QString& name) {
    PageSet set;
    set.name = name;
    if (name == QLatin1String("300")) {
        set.pages << bench::textPage(300, QStringLiteral("Liberation Serif"), 10, 1);
    } else if (name == QLatin1String("600")) {
        set.dpi = 600;
        set.pages << bench::textPage(600, QStringLiteral("Liberation Serif"), 10, 2);
    } else if (name == QLatin1String("book")) {
        for (int i = 0; i < 20; ++i)
            set.pages << bench::textPage(300, QStringLiteral("DejaVu Serif"), 10, 100 + i);
    } else if (name == QLatin1String("table")) {
        set.table = true;
        set.pages << bench::tablePage(300, QStringLiteral("Liberation Sans"), 7, 5);
    }
    return set;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    bool ocr = true;
    QString pagesFolder;
    QStringList sets, only;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--no-ocr"))
            ocr = false;
        else if (a == QLatin1String("--pages") && i + 1 < argc)
            pagesFolder = QString::fromLocal8Bit(argv[++i]);
        else if (a == QLatin1String("--minidjvu-seconds") && i + 1 < argc)
            minidjvuSeconds = std::max(1, QString::fromLocal8Bit(argv[++i]).toInt());
        else if (a == QLatin1String("--only") && i + 1 < argc)
            only << QString::fromLocal8Bit(argv[++i]);
        else
            sets << a;
    }
    if (sets.isEmpty())
        sets = {QStringLiteral("300"), QStringLiteral("600"), QStringLiteral("book"),
                QStringLiteral("table")};

    const QList<Coder> coders = {
        {QStringLiteral("cjb2"), true,
         [](const QStringList& p, int dpi, const QString& o) { return cjb2(p, dpi, o, false); }},
        {QStringLiteral("cjb2 -lossy"), false,
         [](const QStringList& p, int dpi, const QString& o) { return cjb2(p, dpi, o, true); }},
        {QStringLiteral("minidjvu -p 20"), false, minidjvu},
        {QStringLiteral("ours exact"), true,
         [](const QStringList& p, int dpi, const QString& o) { return ours(p, dpi, o, false); }},
        {QStringLiteral("ours lossy"), false,
         [](const QStringList& p, int dpi, const QString& o) { return ours(p, dpi, o, true); }},
        // Documents of more than one page only.
        {QStringLiteral("ours exact doc"), true,
         [](const QStringList& p, int dpi, const QString& o) {
             return oursDocument(p, dpi, o, false);
         }},
        {QStringLiteral("ours lossy doc"), false,
         [](const QStringList& p, int dpi, const QString& o) {
             return oursDocument(p, dpi, o, true);
         }},
    };
    enum { Cjb2, Cjb2Lossy, Minidjvu, OursExact, OursLossy, OursExactDoc, OursLossyDoc };

    engine::Recognizer tesseract(QStringLiteral("eng"), QStringLiteral(VORMELLE_BUILT_PROGRAM_DIR));
    if (ocr && !tesseract.problem().isEmpty()) {
        std::fprintf(stderr, "no OCR: %s\n", qPrintable(tesseract.problem()));
        ocr = false;
    }
    QTemporaryDir dir;
    for (const QString& name : sets) {
        const PageSet set = makeSet(name);
        if (set.pages.isEmpty()) {
            std::fprintf(stderr, "no such set: %s\n", qPrintable(name));
            return 2;
        }
        const QString folder = dir.path() + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        QStringList pbms;
        QList<QImage> sources;
        qint64 pixels = 0;
        for (int i = 0; i < set.pages.size(); ++i) {
            pbms << folder + QStringLiteral("/p%1.pbm").arg(i + 1, 3, 10, QLatin1Char('0'));
            sources << set.pages[i].image;
            pixels += qint64(sources.last().width()) * sources.last().height();
            if (!bench::writePbm(pbms.last(), sources.last()))
                return 1;
        }
        if (!pagesFolder.isEmpty()) {
            QDir().mkpath(pagesFolder);
            bench::writeTiff(pagesFolder + QStringLiteral("/scan-%1.tif").arg(name), sources,
                             set.dpi);
        }
        std::printf("== %s: %lld page(s) at %d dpi, %lld pixels\n", qPrintable(name),
                    qlonglong(set.pages.size()), set.dpi, qlonglong(pixels));
        Reading source;
        if (ocr) {
            source = readPages(tesseract, set, sources);
            std::printf("  TIFF: Tesseract reads %.2f %% of the characters", source.accuracy);
            if (set.table)
                std::printf(", %d of %lld figures in order, %d in any order", source.figures,
                            qlonglong(set.pages.first().figures.size()), source.found);
            std::printf("\n");
        }
        struct Row {
            qint64 bytes = 0;
            double cpu = 0;
            double worst = 0; // per cent of a page's pixels
            Reading reading;
        };
        QList<Row> rows;
        for (const Coder& coder : coders) {
            if ((!only.isEmpty() && !only.contains(coder.name)) ||
                (coder.name.endsWith(QLatin1String(" doc")) && set.pages.size() < 2)) {
                rows.append(Row{});
                continue;
            }
            const QString out = folder + QLatin1Char('/') + QString(coder.name).replace(' ', '_');
            QDir().mkpath(out);
            const double before = bench::cpuSeconds();
            const Coded coded = coder.encode(pbms, set.dpi, out);
            const double cpu = bench::cpuSeconds() - before;
            if (coded.pages.size() != set.pages.size()) {
                std::printf("  %-16s failed (%.1f s)\n", qPrintable(coder.name), cpu);
                rows.append(Row{});
                continue;
            }
            qint64 bytes = 0;
            for (const QString& f : coded.files)
                bytes += QFileInfo(f).size();
            // Every page decoded by DjVuLibre, compared with what was encoded.
            QList<QImage> decoded;
            qint64 changed = 0;
            double worst = 0;
            for (int i = 0; i < coded.pages.size(); ++i) {
                const QString pbm = out + QStringLiteral("/d%1.pbm").arg(i + 1);
                run(QStringLiteral("ddjvu"), {QStringLiteral("-format=pbm"),
                                              QStringLiteral("-page=%1").arg(coded.pages[i].second),
                                              coded.pages[i].first, pbm});
                decoded << readPbm(pbm);
                const qint64 c = changedPixels(sources[i], decoded.last());
                changed += c;
                worst =
                    std::max(worst, 100.0 * double(c) /
                                        double(qint64(sources[i].width()) * sources[i].height()));
            }
            rows.append({bytes, cpu, worst, {}});
            std::printf("  %-16s %10lld bytes  %7.3f s  pixels changed %lld (worst page %.3f %%)",
                        qPrintable(coder.name), qlonglong(bytes), cpu, qlonglong(changed), worst);
            if (ocr) {
                // Pages that decode to the TIFF's pixels read as the TIFF does.
                const Reading r = changed == 0 ? source : readPages(tesseract, set, decoded);
                rows.last().reading = r;
                std::printf("  reads %.2f %% (%+.2f)", r.accuracy, r.accuracy - source.accuracy);
                if (set.table)
                    std::printf(", figures %d (%+d), any order %d (%+d)", r.figures,
                                r.figures - source.figures, r.found, r.found - source.found);
            }
            if (coder.name.startsWith(QLatin1String("ours")))
                std::printf("\n    %d shapes: %d copies (%d of them twins), %d refined, %d direct",
                            oursStats.shapes, oursStats.copies, oursStats.twins,
                            oursStats.refinements, oursStats.direct);
            std::printf("\n");
            std::fflush(stdout);
        }
        // Ratios against cjb2 -lossy, the baseline of the lossy targets, and against cjb2.
        auto ratio = [&](int a, int b, bool time) {
            const double x = time ? rows[a].cpu : double(rows[a].bytes);
            const double y = time ? rows[b].cpu : double(rows[b].bytes);
            return rows[a].bytes && rows[b].bytes && y > 0 ? x / y : 0.0;
        };
        std::printf("  bytes: ours lossy / cjb2 -lossy %.3f, ours lossy / minidjvu %.3f, "
                    "ours exact / cjb2 %.3f, cjb2 -lossy / cjb2 %.3f\n",
                    ratio(OursLossy, Cjb2Lossy, false), ratio(OursLossy, Minidjvu, false),
                    ratio(OursExact, Cjb2, false), ratio(Cjb2Lossy, Cjb2, false));
        std::printf("  throughput: ours lossy / cjb2 -lossy %.2f, ours exact / cjb2 %.2f, "
                    "minidjvu / cjb2 -lossy %.2f\n",
                    ratio(Cjb2Lossy, OursLossy, true), ratio(Cjb2, OursExact, true),
                    ratio(Cjb2Lossy, Minidjvu, true));
        if (rows[OursLossyDoc].bytes)
            std::printf(
                "  with the dictionary: bytes ours lossy doc / cjb2 -lossy %.3f, / minidjvu "
                "%.3f, / ours exact doc %.3f; throughput / cjb2 -lossy %.2f\n",
                ratio(OursLossyDoc, Cjb2Lossy, false), ratio(OursLossyDoc, Minidjvu, false),
                ratio(OursLossyDoc, OursExactDoc, false), ratio(Cjb2Lossy, OursLossyDoc, true));
        if (ocr && rows[OursLossy].bytes)
            std::printf("  ours lossy: worst page %.3f %% changed, reads %+.2f points against the "
                        "TIFF%s\n",
                        rows[OursLossy].worst, rows[OursLossy].reading.accuracy - source.accuracy,
                        set.table ? qPrintable(QStringLiteral(", figures %1 of %2 as on the TIFF")
                                                   .arg(rows[OursLossy].reading.figures)
                                                   .arg(source.figures))
                                  : "");
        std::fflush(stdout);
    }
    return 0;
}
