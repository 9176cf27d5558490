// SPDX-License-Identifier: GPL-3.0-or-later
// The exact JB2 coder against DjVuLibre's `cjb2` (lossless) on the same bitonal pages, in the
// same run: bytes, processor time (cjb2's as a child, ours in this process; medians of rounds
// that alternate which goes first) and pixels changed (both decoded by `ddjvu`). The pages are
// the scanned-looking sets of bench/codec/scanpages.h (300 dpi, 600 dpi, the 20-page book, the
// 7-point table), the bench's own lightly noised A4 text ("plain"), or PBM files given on the
// command line.
//   vormelle-bench-jb2exact [--rounds N] [--set NAME]... [page.pbm ...]
//     --set NAME   300, 600, book, table or plain (default: all)
//     --tiff DIR   also write each set as a multi-page TIFF (G4) into DIR, to convert it
//     --minidjvu S the time limit for `minidjvu -p 20` on a set of several pages (default 900 s)
//     --ours       our coder alone: each page's bytes, a checksum of them and our processor time
//                  (to see that a change to the coder's speed leaves its output as it was, and to
//                  count its instructions without the rest)
//     --lossy      with --ours: our lossy mode
//     --parts      with --ours: where each page's bytes go (record types, library indices, places
//                  on a line and at a line's start, direct and refined shapes' pixels), and the
//                  records of each type
// On a set of several pages (the book) also: our document pass (one shared dictionary) page by
// page against cjb2, and `minidjvu -p 20` (lossless as it goes: it has no exact mode), in time
// limited by `timeout`.
#include "bench/codec/scanpages.h"
#include "bench/convert/cpuclock.h"
#include "codec/document.h"
#include "codec/iff.h"
#include "codec/jb2page.h"
#include "tests/engine/textpage.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>

using namespace vormelle;

namespace {

struct Page {
    QString name;
    int width = 0;
    int height = 0;
    int dpi = 300;
    QByteArray rows; // PBM order: 1 bit a pixel, 1 black, rows padded to bytes
};

bool run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, arguments);
    return p.waitForStarted() && p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
}

// A scanned-looking page of running text: painted with grey edges, given noise, thresholded.
Page textPage(int dpi, unsigned seed) {
    test::TextPageLayout layout;
    layout.width = dpi * 827 / 100;
    layout.height = dpi * 1169 / 100;
    layout.pixelSize = dpi * 42 / 300;
    layout.antialiased = true;
    layout.lines = test::knownLines(int(seed), layout.height / (layout.pixelSize * 3 / 2), 11);
    const QImage grey = test::paintTextPage(layout).image;
    Page page{QStringLiteral("text %1 dpi").arg(dpi), grey.width(), grey.height(), dpi, {}};
    const int stride = (page.width + 7) / 8;
    page.rows = QByteArray(stride * page.height, 0);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 24);
    for (int y = 0; y < page.height; ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < page.width; ++x) {
            const int v = line[x];
            // Only the letters' edges are grey; noise there makes each letter a little different.
            const double n = (v > 8 && v < 247) ? noise(random) : 0;
            if (v + n < 128)
                page.rows[y * stride + x / 8] =
                    char(page.rows[y * stride + x / 8] | (0x80 >> (x % 8)));
        }
    }
    return page;
}

Page fromMono(const QString& name, const QImage& mono, int dpi) {
    Page page{name, mono.width(), mono.height(), dpi, {}};
    const int stride = (page.width + 7) / 8;
    page.rows.reserve(stride * page.height);
    for (int y = 0; y < page.height; ++y)
        page.rows.append(reinterpret_cast<const char*>(mono.constScanLine(y)), stride);
    return page;
}

// The sets of bench/codec/jb2.cpp, made the same way.
QList<Page> makeSet(const QString& name) {
    QList<Page> pages;
    if (name == QLatin1String("300")) {
        pages << fromMono(QStringLiteral("scan 300 dpi"),
                          bench::textPage(300, QStringLiteral("Liberation Serif"), 10, 1).image,
                          300);
    } else if (name == QLatin1String("600")) {
        pages << fromMono(QStringLiteral("scan 600 dpi"),
                          bench::textPage(600, QStringLiteral("Liberation Serif"), 10, 2).image,
                          600);
    } else if (name == QLatin1String("book")) {
        for (int i = 0; i < 20; ++i)
            pages << fromMono(
                QStringLiteral("book p%1").arg(i + 1),
                bench::textPage(300, QStringLiteral("DejaVu Serif"), 10, 100 + i).image, 300);
    } else if (name == QLatin1String("table")) {
        pages << fromMono(QStringLiteral("table 7 pt"),
                          bench::tablePage(300, QStringLiteral("Liberation Sans"), 7, 5).image,
                          300);
    } else if (name == QLatin1String("plain")) {
        pages << textPage(300, 1) << textPage(600, 2);
    }
    return pages;
}

QByteArray pbm(const Page& page) {
    return "P4\n" + QByteArray::number(page.width) + ' ' + QByteArray::number(page.height) + '\n' +
           page.rows;
}

std::optional<Page> readPbm(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    // "P4", width, height, one whitespace, then the rows (no comments in the files we read).
    QList<QByteArray> head;
    qsizetype at = 0;
    while (head.size() < 3 && at < all.size()) {
        while (at < all.size() && QChar(all[at]).isSpace())
            ++at;
        const qsizetype start = at;
        while (at < all.size() && !QChar(all[at]).isSpace())
            ++at;
        head << all.mid(start, at - start);
    }
    if (head.size() != 3 || head[0] != "P4")
        return {};
    Page page{QFileInfo(path).fileName(), head[1].toInt(), head[2].toInt(), 300, all.mid(at + 1)};
    if (page.width <= 0 || page.height <= 0 ||
        page.rows.size() < qsizetype((page.width + 7) / 8) * page.height)
        return {};
    return page;
}

// Pixels that differ between two PBMs of the same size; -1 when they cannot be compared.
qint64 changed(const QString& a, const QString& b) {
    const std::optional<Page> x = readPbm(a), y = readPbm(b);
    if (!x || !y || x->width != y->width || x->height != y->height)
        return -1;
    const int stride = (x->width + 7) / 8;
    qint64 n = 0;
    for (int r = 0; r < x->height; ++r)
        for (int i = 0; i < stride; ++i) {
            int d = uchar(x->rows[r * stride + i] ^ y->rows[r * stride + i]);
            if (i == stride - 1 && x->width % 8)
                d &= 0xff00 >> (x->width % 8);
            n += __builtin_popcount(unsigned(d));
        }
    return n;
}

// What the sharing stage hands out: the dictionary and the pages, made into one document.
struct Recorder final : codec::PageSink {
    std::string sharedId;
    codec::Bytes dictionary;
    size_t dictionaryBytes = 0;
    std::map<int, std::vector<codec::Chunk>> open;
    std::vector<codec::Chunk> pages;
    std::vector<size_t> pageBytes; // each page's Sjbz
    bool chunk(int index, std::string_view id, const codec::Bytes& content) override {
        if (id == "Sjbz")
            pageBytes.push_back(content.size());
        open[index].push_back(codec::Chunk::data(id, content));
        return true;
    }
    bool pageDone(int index) override {
        pages.push_back(codec::Chunk::form("DJVU", std::move(open[index])));
        open.erase(index);
        return true;
    }
    bool pageFile(int, const QString&) override { return false; }
    bool shared(std::string_view id, const codec::Bytes& content) override {
        sharedId = std::string(id);
        dictionary = content;
        dictionaryBytes = content.size();
        return true;
    }
    codec::Bytes document() const {
        codec::DocumentWriter doc;
        if (!sharedId.empty() &&
            doc.addShared(codec::Chunk::form("DJVI", {codec::Chunk::data("Djbz", dictionary)}),
                          sharedId) != codec::Error::None)
            return {};
        for (const codec::Chunk& page : pages)
            if (doc.addPage(page) != codec::Error::None)
                return {};
        codec::Bytes file;
        if (doc.finish([&](const std::uint8_t* data, std::size_t size) {
                file.insert(file.end(), data, data + size);
                return true;
            }) != codec::Error::None)
            return {};
        return file;
    }
};

codec::PageView viewOf(const Page& page) {
    return {codec::PixelKind::Bitonal,
            page.width,
            page.height,
            page.dpi,
            reinterpret_cast<const std::uint8_t*>(page.rows.constData()),
            (page.width + 7) / 8};
}

uint64_t checksum(const codec::Bytes& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (const std::uint8_t b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

void printTally(const char* name, const codec::Jb2Tally& t) {
    static const char* const kParts[] = {"type",     "index",  "size",    "same line",
                                         "new line", "direct", "refined", "other"};
    std::printf("  %-12s", name);
    double all = 0;
    for (int p = 0; p < codec::Jb2Tally::PartCount; ++p) {
        std::printf(" %s %.0f", kParts[p], t.bits[p] / 8);
        all += t.bits[p];
    }
    const int* r = t.records;
    std::printf(" = %.0f B; records: new %d+%d lib-only +%d image-only, refined %d+%d lib-only "
                "+%d image-only, copies %d\n",
                all / 8, r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
}

// --ours: each page coded alone, then each set of several pages through the document pass.
int oursAlone(const QList<Page>& pages, const QList<int>& setOf, qsizetype sets, int rounds,
              bool lossy, bool parts) {
    codec::Jb2Options options;
    options.lossy = lossy;
    std::printf("%-14s %9s %16s %8s\n", "page", "ours B", "checksum", "ours s");
    double total = 0;
    for (const Page& page : pages) {
        codec::Bytes sjbz;
        std::vector<double> times;
        for (int r = 0; r < rounds; ++r) {
            const double before = bench::ownCpuSeconds();
            sjbz = codec::encodeJb2Page(viewOf(page), options);
            times.push_back(bench::ownCpuSeconds() - before);
        }
        total += bench::median(times);
        std::printf("%-14s %9zu %016llx %8.3f\n", qPrintable(page.name), sjbz.size(),
                    (unsigned long long)checksum(sjbz), bench::median(times));
        if (parts) {
            codec::Jb2Tally tally;
            codec::Jb2Options tallied = options;
            tallied.tally = &tally;
            codec::encodeJb2Page(viewOf(page), tallied);
            printTally("parts", tally);
        }
    }
    std::printf("%-14s %9s %16s %8.3f\n", "all", "", "", total);
    for (int set = 0; set < sets; ++set) {
        if (setOf.count(set) < 2)
            continue;
        Recorder recorded;
        const double before = bench::ownCpuSeconds();
        codec::Jb2Tally tally;
        codec::Jb2Options staged = options;
        staged.tally = parts ? &tally : nullptr;
        codec::Jb2Stage stage(staged, true);
        for (int k = 0; k < pages.size(); ++k)
            if (setOf[k] == set && !stage.addPage(viewOf(pages[k]), recorded, {}).ok())
                return 1;
        if (!stage.finish(recorded, {}).ok())
            return 1;
        const double time = bench::ownCpuSeconds() - before;
        size_t bytes = recorded.dictionaryBytes;
        for (const size_t b : recorded.pageBytes)
            bytes += b;
        std::printf("document pass: %zu B (dictionary %zu B), checksum %016llx, %.3f s\n", bytes,
                    recorded.dictionaryBytes, (unsigned long long)checksum(recorded.document()),
                    time);
        if (parts)
            printTally("pages' parts", tally);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // the fonts
    int rounds = 3;
    QList<Page> pages;
    QStringList sets;
    QString tiffFolder;
    int minidjvuSeconds = 900;
    bool oursOnly = false;
    bool lossy = false;
    bool parts = false;
    QList<int> setOf; // each page's set, by its place in `sets`
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds") && i + 1 < args.size()) {
            rounds = std::max(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--set") && i + 1 < args.size()) {
            sets << args[++i];
        } else if (args[i] == QLatin1String("--minidjvu") && i + 1 < args.size()) {
            minidjvuSeconds = std::max(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--tiff") && i + 1 < args.size()) {
            tiffFolder = args[++i];
        } else if (args[i] == QLatin1String("--ours")) {
            oursOnly = true;
        } else if (args[i] == QLatin1String("--lossy")) {
            lossy = true;
        } else if (args[i] == QLatin1String("--parts")) {
            parts = true;
        } else if (const std::optional<Page> p = readPbm(args[i])) {
            pages << *p;
        } else {
            std::fprintf(stderr, "cannot read %s as a PBM\n", qPrintable(args[i]));
            return 2;
        }
    }
    if (pages.isEmpty() && sets.isEmpty())
        sets = QStringList{QStringLiteral("300"), QStringLiteral("600"), QStringLiteral("book"),
                           QStringLiteral("table"), QStringLiteral("plain")};
    for (int i = 0; i < pages.size(); ++i)
        setOf << -1;
    for (const QString& set : std::as_const(sets)) {
        const QList<Page> made = makeSet(set);
        pages << made;
        for (int i = 0; i < made.size(); ++i)
            setOf << int(&set - sets.constData());
        if (!tiffFolder.isEmpty() && !made.isEmpty()) {
            QList<QImage> images;
            for (const Page& p : made) {
                QImage mono(p.width, p.height, QImage::Format_Mono);
                const int stride = (p.width + 7) / 8;
                for (int y = 0; y < p.height; ++y)
                    std::memcpy(mono.scanLine(y), p.rows.constData() + y * stride, size_t(stride));
                mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
                images << mono;
            }
            bench::writeTiff(tiffFolder + QStringLiteral("/scan-%1.tif").arg(set), images,
                             made.first().dpi);
        }
    }

    if (oursOnly)
        return oursAlone(pages, setOf, sets.size(), rounds, lossy, parts);

    QTemporaryDir dir;
    std::printf("%-14s %9s %9s %6s  %8s %8s %6s  %s\n", "page", "cjb2 B", "ours B", "bytes",
                "cjb2 s", "ours s", "speed", "pixels changed (ours, cjb2), shapes");
    double cjb2Total = 0, oursTotal = 0;
    qint64 cjb2Bytes = 0, oursBytes = 0;
    QList<qint64> cjb2PageBytes, ourPageBytes;
    QList<double> cjb2PageTimes;
    for (int k = 0; k < pages.size(); ++k) {
        const Page& page = pages[k];
        const QString source = dir.filePath(QStringLiteral("p%1.pbm").arg(k));
        const QString theirs = dir.filePath(QStringLiteral("p%1-cjb2.djvu").arg(k));
        const QString mine = dir.filePath(QStringLiteral("p%1-ours.djvu").arg(k));
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly) || f.write(pbm(page)) < 0)
            return 1;
        f.close();
        const codec::PageView view{codec::PixelKind::Bitonal,
                                   page.width,
                                   page.height,
                                   page.dpi,
                                   reinterpret_cast<const std::uint8_t*>(page.rows.constData()),
                                   (page.width + 7) / 8};
        std::vector<double> cjb2Times, ourTimes;
        codec::Bytes sjbz;
        codec::Jb2Stats stats;
        bool ok = true;
        for (int r = 0; r < rounds && ok; ++r) {
            auto theirRound = [&] {
                const double before = bench::cpuSecondsOf(RUSAGE_CHILDREN);
                ok = ok && run(QStringLiteral("cjb2"),
                               {QStringLiteral("-dpi"), QString::number(page.dpi), source, theirs});
                cjb2Times.push_back(bench::cpuSecondsOf(RUSAGE_CHILDREN) - before);
            };
            auto ourRound = [&] {
                const double before = bench::ownCpuSeconds();
                sjbz = codec::encodeJb2Page(view, {}, &stats);
                ourTimes.push_back(bench::ownCpuSeconds() - before);
            };
            if (r % 2 == 0) {
                theirRound();
                ourRound();
            } else {
                ourRound();
                theirRound();
            }
        }
        const std::optional<codec::Bytes> file = codec::fileBytes(codec::Chunk::form(
            "DJVU",
            {codec::Chunk::data("INFO", codec::infoChunk(page.width, page.height, page.dpi)),
             codec::Chunk::data("Sjbz", sjbz)}));
        QFile out(mine);
        if (!ok || !file || !out.open(QIODevice::WriteOnly) ||
            out.write(reinterpret_cast<const char*>(file->data()), qint64(file->size())) < 0) {
            std::fprintf(stderr, "%s: could not code the page\n", qPrintable(page.name));
            return 1;
        }
        out.close();
        const QString mineBack = dir.filePath(QStringLiteral("p%1-ours.pbm").arg(k));
        const QString theirsBack = dir.filePath(QStringLiteral("p%1-cjb2.pbm").arg(k));
        run(QStringLiteral("ddjvu"), {QStringLiteral("-format=pbm"), mine, mineBack});
        run(QStringLiteral("ddjvu"), {QStringLiteral("-format=pbm"), theirs, theirsBack});
        const qint64 theirSize = QFileInfo(theirs).size();
        const qint64 ourSize = qint64(file->size());
        const double theirTime = bench::median(cjb2Times), ourTime = bench::median(ourTimes);
        cjb2Total += theirTime;
        oursTotal += ourTime;
        cjb2Bytes += theirSize;
        oursBytes += ourSize;
        cjb2PageBytes << theirSize;
        ourPageBytes << ourSize;
        cjb2PageTimes << theirTime;
        std::printf("%-14s %9lld %9lld %5.2fx  %8.3f %8.3f %5.1fx  %lld, %lld; %d shapes: %d "
                    "copies, %d refined, %d direct\n",
                    qPrintable(page.name), (long long)theirSize, (long long)ourSize,
                    double(ourSize) / double(theirSize), theirTime, ourTime, theirTime / ourTime,
                    (long long)changed(source, mineBack), (long long)changed(source, theirsBack),
                    stats.shapes, stats.copies, stats.refinements, stats.direct);
    }
    std::printf("%-14s %9lld %9lld %5.2fx  %8.3f %8.3f %5.1fx  (bytes: ours / cjb2; speed: cjb2's "
                "time / ours)\n",
                "all", (long long)cjb2Bytes, (long long)oursBytes,
                double(oursBytes) / double(cjb2Bytes), cjb2Total, oursTotal, cjb2Total / oursTotal);

    for (int set = 0; set < sets.size(); ++set) {
        QList<int> members;
        for (int k = 0; k < pages.size(); ++k)
            if (setOf[k] == set)
                members << k;
        if (members.size() < 2)
            continue;
        std::printf("\n%s, %lld pages: our document pass (one shared dictionary) and minidjvu -p "
                    "20, against cjb2 page by page\n",
                    qPrintable(sets[set]), (long long)members.size());
        // Ours: every page into the sharing stage, then the dictionary and the pages out; the
        // median time of as many rounds as each page had (the bytes are the same every time).
        Recorder recorded;
        std::vector<double> passTimes;
        for (int r = 0; r < rounds; ++r) {
            recorded = Recorder();
            const double before = bench::ownCpuSeconds();
            {
                codec::Jb2Stage stage({}, true, dir.filePath(QStringLiteral("shapes.spool")));
                for (const int k : members)
                    if (!stage.addPage(viewOf(pages[k]), recorded, {}).ok())
                        return 1;
                if (!stage.finish(recorded, {}).ok())
                    return 1;
            }
            passTimes.push_back(bench::ownCpuSeconds() - before);
        }
        const double ourTime = bench::median(passTimes);
        const QString book = dir.filePath(QStringLiteral("set%1-ours.djvu").arg(set));
        const codec::Bytes file = recorded.document();
        QFile out(book);
        if (file.empty() || !out.open(QIODevice::WriteOnly) ||
            out.write(reinterpret_cast<const char*>(file.data()), qint64(file.size())) < 0)
            return 1;
        out.close();
        std::printf("%-14s %9s %9s %6s  %s\n", "page", "cjb2 B", "ours B", "bytes",
                    "pixels changed (ours)");
        qint64 theirs = 0, alone = 0, pagesBytes = 0;
        double theirTime = 0;
        for (int i = 0; i < members.size(); ++i) {
            const int k = members[i];
            const qint64 mine = qint64(recorded.pageBytes[size_t(i)]);
            const QString back = dir.filePath(QStringLiteral("set%1-%2.pbm").arg(set).arg(i));
            run(QStringLiteral("ddjvu"),
                {QStringLiteral("-format=pbm"), QStringLiteral("-page=%1").arg(i + 1), book, back});
            std::printf("%-14s %9lld %9lld %5.2fx  %lld\n", qPrintable(pages[k].name),
                        (long long)cjb2PageBytes[k], (long long)mine,
                        double(mine) / double(cjb2PageBytes[k]),
                        (long long)changed(dir.filePath(QStringLiteral("p%1.pbm").arg(k)), back));
            theirs += cjb2PageBytes[k];
            alone += ourPageBytes[k];
            pagesBytes += mine;
            theirTime += cjb2PageTimes[k];
        }
        const qint64 shared = qint64(recorded.dictionaryBytes);
        std::printf("dictionary     %9s %9lld\n", "", (long long)shared);
        std::printf("%-14s %9lld %9lld %5.2fx  (the bundled document: %lld B, %.2fx; our pages "
                    "alone %lld B, %.2fx)\n",
                    "all", (long long)theirs, (long long)(pagesBytes + shared),
                    double(pagesBytes + shared) / double(theirs), (long long)file.size(),
                    double(file.size()) / double(theirs), (long long)alone,
                    double(alone) / double(theirs));
        std::printf("processor time: cjb2 %.3f s, ours %.3f s, %.1fx\n", theirTime, ourTime,
                    theirTime / ourTime);

        // minidjvu on the same pages, one dictionary for up to 20 of them, in limited time.
        QStringList arguments{QString::number(minidjvuSeconds),
                              QStringLiteral("minidjvu"),
                              QStringLiteral("-d"),
                              QString::number(pages[members[0]].dpi),
                              QStringLiteral("-p"),
                              QStringLiteral("20")};
        for (const int k : members)
            arguments << dir.filePath(QStringLiteral("p%1.pbm").arg(k));
        const QString theirBook = dir.filePath(QStringLiteral("set%1-minidjvu.djvu").arg(set));
        arguments << theirBook;
        const double minidjvuBefore = bench::cpuSecondsOf(RUSAGE_CHILDREN);
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral("timeout"), arguments);
        const bool started = p.waitForStarted() && p.waitForFinished(-1);
        const double minidjvuTime = bench::cpuSecondsOf(RUSAGE_CHILDREN) - minidjvuBefore;
        if (!started || p.exitCode() == 124) {
            std::printf("minidjvu -p 20: not done within %d s (%.1f s of processor time)\n",
                        minidjvuSeconds, minidjvuTime);
        } else if (p.exitCode() != 0) {
            std::printf("minidjvu -p 20: failed (status %d)\n", p.exitCode());
        } else {
            qint64 minidjvuChanged = 0;
            for (int i = 0; i < members.size(); ++i) {
                const QString back = dir.filePath(QStringLiteral("set%1-m%2.pbm").arg(set).arg(i));
                run(QStringLiteral("ddjvu"),
                    {QStringLiteral("-format=pbm"), QStringLiteral("-page=%1").arg(i + 1),
                     theirBook, back});
                minidjvuChanged +=
                    changed(dir.filePath(QStringLiteral("p%1.pbm").arg(members[i])), back);
            }
            const qint64 size = QFileInfo(theirBook).size();
            std::printf("minidjvu -p 20: %lld B (%.2fx cjb2, ours %.2fx of it), %.3f s of "
                        "processor time (ours %.1fx faster), %lld pixels changed\n",
                        (long long)size, double(size) / double(theirs),
                        double(file.size()) / double(size), minidjvuTime, minidjvuTime / ourTime,
                        (long long)minidjvuChanged);
        }
    }
    return 0;
}
