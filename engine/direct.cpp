// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/direct.h"

#include "codec/iff.h"
#include "codec/jb2page.h"
#include "engine/bundle.h"
#include "engine/commands.h"
#include "engine/ocr.h"
#include "engine/outcome.h"
#include "engine/pagereader.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "engine/toolstage.h"
#include "platform/basicerror.h"
#include "platform/memoryfile.h"
#include "platform/process.h"
#include "platform/regularfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

namespace vormelle::engine {

namespace {

QString toolPath(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

codec::PixelKind codecKind(PixelKind kind) {
    switch (kind) {
    case PixelKind::Bitonal:
        return codec::PixelKind::Bitonal;
    case PixelKind::Grey:
        return codec::PixelKind::Grey;
    case PixelKind::Colour:
        break;
    }
    return codec::PixelKind::Colour;
}

// Takes a stage's pages, as page files or their chunks, each as the page's DjVu under the name
// expected for it (or `page`, for a stage that hands over each page as it is added), and a
// shared component as a file of its own in `folder`, named by its id.
class PageFileSink final : public codec::PageSink {
public:
    explicit PageFileSink(QString page = {}, QString folder = {})
        : m_page(std::move(page)), m_folder(std::move(folder)) {}
    void expect(int index, const QString& page) { m_pages[index] = page; }
    bool chunk(int index, std::string_view id, const codec::Bytes& content) override {
        if (id == "Sjbz")
            m_sjbz[index] = qint64(content.size());
        m_chunks[index].push_back(codec::Chunk::data(id, content));
        return true;
    }
    bool pageDone(int index) override {
        auto chunks = m_chunks.find(index);
        if (chunks == m_chunks.end())
            return true; // it came as a file
        const bool ok =
            writeDjvuFile(path(index), codec::Chunk::form("DJVU", std::move(chunks->second)));
        m_chunks.erase(chunks);
        return ok;
    }
    bool shared(std::string_view id, const codec::Bytes& content) override {
        if (m_folder.isEmpty() || !m_shared.isEmpty())
            return false;
        const QString path =
            m_folder + QLatin1Char('/') + QString::fromLatin1(id.data(), qsizetype(id.size()));
        if (!writeDjvuFile(path, codec::Chunk::form("DJVI", {codec::Chunk::data("Djbz", content)})))
            return false;
        m_shared = path;
        return true;
    }
    bool pageFile(int index, const QString& path) override {
        QFile::remove(this->path(index));
        return QFile::rename(path, this->path(index));
    }

    qint64 sjbzBytes(int index) const { return m_sjbz.count(index) ? m_sjbz.at(index) : 0; }
    // The shared component's file; "" when none came.
    QString sharedFile() const { return m_shared; }

private:
    QString path(int index) const { return m_pages.count(index) ? m_pages.at(index) : m_page; }

    QString m_page;
    QString m_folder;
    QString m_shared;
    std::map<int, QString> m_pages;
    std::map<int, std::vector<codec::Chunk>> m_chunks;
    std::map<int, qint64> m_sjbz;
};

struct Encoding {
    Encoding(const QString& folder, const std::atomic<bool>* stopFlag, ColourPages colourPages,
             bool lossyPages)
        : workFolder(QDir::cleanPath(folder)), stop(stopFlag),
          environment(converterEnvironment(workFolder, platform::localeIsUtf8())),
          stage(workFolder, environment, stop, colourPages, lossyPages),
          jb2(jb2Options(lossyPages), true, path(QStringLiteral("shapes.spool"))),
          jb2Sink({}, workFolder), lossy(lossyPages) {}

    static codec::Jb2Options jb2Options(bool lossy) {
        codec::Jb2Options options;
        options.lossy = lossy;
        return options;
    }

    QString workFolder;
    const std::atomic<bool>* stop = nullptr;
    platform::EnvironmentChanges environment;
    ToolStage stage; // grey and colour pages: c44
    // Bitonal pages: our own JB2 coder, exact or lossy. The shapes a document's pages share go
    // into a dictionary of their own, and the pages are written at the end (finishBitonal()).
    codec::Jb2Stage jb2;
    PageFileSink jb2Sink;
    int jb2Pages = 0;
    bool lossy = false;
    QStringList made; // files to remove at the end
    bool stopped = false;

    bool stopRequested() const { return stop && stop->load(); }

    // Runs one encoder to its end; "" when it ended with 0 and wrote `output`.
    QString run(const char* tool, const Command& command, const QString& output) {
        const RunResult ran = runToEnd(command, stop);
        if (ran.stopped)
            return stoppedProblem();
        Step step{QString::fromLatin1(tool), ran.code, ran.signal, {}};
        step.wroteNothing = !step.failed() && !QFile::exists(output);
        if (step.failed())
            step.output = ran.output;
        steps.append(step);
        if (ran.code != 0 || ran.signal != 0)
            return converterReason(tool, ran.code, ran.signal, ran.output);
        if (step.wroteNothing)
            return engine::Texts::tr("%1 wrote no DjVu file").arg(QLatin1String(tool));
        return {};
    }

    QString path(const QString& name) const { return workFolder + QLatin1Char('/') + name; }

    QString stoppedProblem() {
        stopped = true;
        return engine::Texts::tr("the conversion was stopped");
    }

    // Decodes the page once, whole, where the stage wants it (for DjVuLibre's encoders: a
    // memory file the encoder reads through its descriptor); Tesseract, with a text layer,
    // reads the same pixels first. The page's DjVu becomes `page`.
    QString encodePage(TiffPageReader& reader, const QString& page, Recognizer* recognizer) {
        const PageFormat& f = reader.format();
        const qsizetype rowBytes = reader.rowBytes();
        codec::PageView view{codecKind(f.kind), f.width, f.height, f.dpi, nullptr, rowBytes};
        const bool bitonal = view.kind == codec::PixelKind::Bitonal;
        codec::PageStage& coder = bitonal ? static_cast<codec::PageStage&>(jb2) : stage;
        std::uint8_t* pixels = coder.pageMemory(view);
        std::vector<std::uint8_t> own;
        // With a text layer, a page the coder holds no memory for is decoded into a memory file,
        // which the recognition helper reads as it is.
        std::unique_ptr<platform::MemoryFile> shared;
        const qsizetype bytes = rowBytes * qsizetype(std::max(f.height, 0));
        if (!pixels && recognizer) {
            try {
                shared = std::make_unique<platform::MemoryFile>(bytes);
                pixels = shared->data();
            } catch (const BasicError&) {
            }
        }
        if (!pixels) {
            own.resize(size_t(bytes));
            pixels = own.data();
        }
        if (!reader.readPage(pixels, rowBytes, stop))
            return stopRequested() ? stoppedProblem() : reader.problem();
        view.pixels = pixels;
        if (recognizer) {
            // The DjVu page has the pixels' size: the boxes need no scaling.
            const PageText text =
                recognizePage(*recognizer, pixels, f.kind, f.width, f.height, rowBytes, f.dpi, stop,
                              shared ? shared.get() : stage.pageFile());
            if (stopRequested())
                return stoppedProblem();
            if (text.cutShort)
                pagesCutShort.append(reader.pageNumber());
            if (text.turned != 0)
                pagesTurned.append({reader.pageNumber(), text.turned});
            if (text.orientationUnsure)
                pagesOrientationUnsure.append(reader.pageNumber());
            if (!text.lost.isEmpty())
                pagesTextLost.append({reader.pageNumber(), text.lost});
            if (text.isEmpty()) {
                // A page cut short or lost says so already.
                if (!text.cutShort && text.lost.isEmpty())
                    pagesWithoutText.append(reader.pageNumber());
            } else
                texts[reader.pageNumber()] = textZones(text, QSize(f.width, f.height));
        }
        PageFileSink single(page);
        made << page;
        if (bitonal)
            jb2Sink.expect(jb2Pages, page);
        const int jb2Index = bitonal ? jb2Pages++ : -1;
        const codec::Status status =
            coder.addPage(view, bitonal ? jb2Sink : single, [this] { return stopRequested(); });
        if (status.error == codec::Error::Aborted && stopRequested())
            return stoppedProblem();
        if (bitonal)
            steps.append(Step{QString::fromLatin1(kBitonalCoder), status.ok() ? 0 : 1});
        if (status.ok()) {
            // Each page's profile under its own number; the tool stage counts only its pages.
            // A bitonal page's is known once the pages are written.
            QString profile;
            if (!bitonal) {
                profile = stage.profiles().value(stage.profiles().size() - 1);
                profile = profile.mid(profile.indexOf(QLatin1String(": ")) + 2);
            }
            profiles.push_back({reader.pageNumber(), jb2Index, profile});
        }
        noSpace = noSpace || status.error == codec::Error::NoSpace;
        if (!status.ok())
            return status.detail.isEmpty()
                       ? engine::Texts::tr("the page could not be encoded (%1)")
                             .arg(QString::fromLatin1(codec::errorName(status.error)))
                       : status.detail;
        return {};
    }

    // "bitonal, mask 1611 B"; lossy: "bitonal lossy, mask 812 B, 2113 of 3954 shapes drawn as
    // twins, 0.21 % of the pixels changed".
    QString bitonalProfile(int jb2Index) const {
        const qint64 bytes = jb2Sink.sjbzBytes(jb2Index);
        if (!lossy)
            return QStringLiteral("bitonal, mask %1 B").arg(bytes);
        const codec::Jb2Stats s = jb2.pageStats(jb2Index);
        return QStringLiteral("bitonal lossy, mask %1 B, %2 of %3 shapes drawn as twins, %4 % of "
                              "the pixels changed")
            .arg(bytes)
            .arg(s.twins)
            .arg(s.shapes)
            .arg(100.0 * double(s.changed) / double(std::max<qint64>(s.pixels, 1)), 0, 'f', 2);
    }

    // The bitonal pages, written now that all are known, with the dictionary their shapes share.
    QString finishBitonal() {
        if (jb2Pages == 0)
            return {};
        const codec::Status status = jb2.finish(jb2Sink, [this] { return stopRequested(); });
        if (status.error == codec::Error::Aborted && stopRequested())
            return stoppedProblem();
        if (!jb2Sink.sharedFile().isEmpty())
            made << jb2Sink.sharedFile();
        if (!status.ok()) {
            steps.append(Step{QString::fromLatin1(kBitonalCoder), 1});
            noSpace = noSpace || status.error == codec::Error::NoSpace;
            return engine::Texts::tr("the page could not be encoded (%1)")
                .arg(QString::fromLatin1(codec::errorName(status.error)));
        }
        return {};
    }

    // "page 3: bitonal, mask 1611 B", in page order.
    QStringList pageProfiles() const {
        QStringList out;
        for (const auto& [page, jb2Index, profile] : profiles)
            out << QStringLiteral("page %1: %2")
                       .arg(page)
                       .arg(jb2Index < 0 ? profile : bitonalProfile(jb2Index));
        return out;
    }

    bool noSpace = false;
    std::map<int, codec::TextZone> texts; // by page number
    QList<int> pagesWithoutText;
    // Per page in order: its number, for a bitonal page its index in the bitonal stage
    // (-1 otherwise), and its profile as far as known.
    std::vector<std::tuple<int, int, QString>> profiles;
    QList<Step> steps; // the document writer's; the encoders' are the stage's
    QList<int> pagesCutShort;
    QList<std::pair<int, int>> pagesTurned;
    QList<int> pagesOrientationUnsure;
    QList<std::pair<int, QString>> pagesTextLost;

    // The document writer as a step of its own, so that the row names it when it fails.
    void documentStep(const QString& problem, bool needed) {
        Step step{QString::fromLatin1(kDocumentWriter), problem.isEmpty() ? 0 : 1, 0,
                  problem.toUtf8()};
        step.needed = needed;
        steps.append(step);
    }

    void cleanUp() {
        for (const QString& f : std::as_const(made))
            QFile::remove(f);
    }
};

} // namespace

DirectResult encodeDirect(const QString& tiffPath, const QString& workFolder,
                          const QString& resultDjvu, const std::atomic<bool>* stop,
                          Recognizer* recognizer, ColourPages colourPages, bool lossy) {
    const platform::RegularFile file(tiffPath);
    return encodeDirect(file, workFolder, resultDjvu, stop, recognizer, colourPages, lossy);
}

DirectResult encodeDirect(const platform::RegularFile& tiff, const QString& workFolder,
                          const QString& resultDjvu, const std::atomic<bool>* stop,
                          Recognizer* recognizer, ColourPages colourPages, bool lossy) {
    DirectResult result;
    Encoding e(workFolder, stop, colourPages, lossy);
    if (recognizer && !recognizer->problem().isEmpty()) {
        result.textProblem = recognizer->problem();
        recognizer = nullptr;
    }

    // Plain names in the work folder: the bundle names its pages after them, and DjVuLibre
    // never sees the user's file names.
    QStringList pages;
    TiffPageReader reader(tiff);
    while (result.problem.isEmpty() && reader.nextPage()) {
        if (e.stopRequested()) {
            result.problem = e.stoppedProblem();
            break;
        }
        const QString page =
            e.path(QStringLiteral("p%1.djvu").arg(reader.pageNumber(), 4, 10, QLatin1Char('0')));
        result.problem = e.encodePage(reader, page, recognizer);
        if (result.problem.isEmpty()) {
            pages << page;
            ++result.pages;
        }
    }
    if (result.problem.isEmpty())
        result.problem = reader.problem();
    if (result.problem.isEmpty() && pages.isEmpty())
        result.problem = engine::Texts::tr("the file has no pages");
    if (result.problem.isEmpty())
        result.problem = e.finishBitonal();
    const QString shared = e.jb2Sink.sharedFile();

    // One document written by the codec, with the pages' text in them: no bundler, no text
    // tool, no argument list. A text layer that cannot go in costs the document its text only.
    QString document = pages.value(0);
    if (result.problem.isEmpty() && (pages.size() > 1 || !e.texts.empty())) {
        document = e.path(QStringLiteral("bundle.djvu"));
        e.made << document;
        codec::Error error = codec::Error::None;
        result.problem = writeDocument(pages, document, e.workFolder, e.texts, &error, shared);
        e.noSpace = e.noSpace || error == codec::Error::NoSpace;
        e.documentStep(result.problem, e.texts.empty());
        if (!result.problem.isEmpty() && !e.texts.empty()) {
            result.textProblem = result.problem;
            result.problem.clear();
            if (pages.size() > 1) {
                result.problem = writeDocument(pages, document, e.workFolder, {}, &error, shared);
                e.noSpace = e.noSpace || error == codec::Error::NoSpace;
                e.documentStep(result.problem, true);
            } else {
                document = pages.value(0);
            }
        }
    }
    if (result.problem.isEmpty()) {
        QFile::remove(resultDjvu);
        if (!QFile::rename(document, resultDjvu))
            result.problem =
                engine::Texts::tr("cannot write in the temporary folder: %1").arg(resultDjvu);
    }
    e.made.removeAll(QDir::cleanPath(resultDjvu));
    e.cleanUp();
    result.stopped = e.stopped;
    result.noSpace = e.noSpace;
    result.pagesWithoutText = e.pagesWithoutText;
    result.pagesCutShort = e.pagesCutShort;
    result.pagesTurned = e.pagesTurned;
    result.pagesOrientationUnsure = e.pagesOrientationUnsure;
    result.pagesTextLost = e.pagesTextLost;
    result.steps = e.stage.steps() + e.steps;
    if (result.problem.isEmpty())
        result.profiles = e.pageProfiles();
    else
        result.pages = 0;
    return result;
}

QString directEncoderProblem() {
    // Bitonal pages and compound pages' masks need no program: the codec codes them. c44 codes
    // a grey or colour page's layer or background; djvumake the layers of one too small for c44.
    for (const char* tool : {kPhotoEncoder, kAssembler}) {
        if (toolPath(tool).isEmpty())
            return engine::Texts::tr(
                       "Nothing was converted: %1 was not found. DjVuLibre's encoders c44 and "
                       "djvumake must be on the PATH for grey and colour pages (Debian's package "
                       "djvulibre-bin).")
                .arg(QLatin1String(tool));
    }
    return {};
}

} // namespace vormelle::engine
