// SPDX-License-Identifier: GPL-3.0-or-later
// The text layer's recognition in a helper process: the program's side (Recognizer) and the
// helper's (serveRecognition), and the messages between them.
#include "app/paths/paths.h"
#include "engine/ocr.h"
#include "engine/outcome.h"
#include "engine/runner.h"
#include "engine/tesseractreader.h"
#include "engine/texts.h"
#include "platform/basicerror.h"
#include "platform/channel.h"
#include "platform/memoryfile.h"
#include "platform/process.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QIODevice>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

namespace vormelle::engine {

namespace {

using namespace std::chrono_literals;

// The helper says whether its languages loaded; then it answers each page with its text.
enum class Ready : quint32 { Loaded = 1, NotLoaded = 2 };
constexpr quint32 kPage = 1;
// How long the helper may take to load its languages (a few hundred milliseconds when quiet).
constexpr std::chrono::milliseconds kLoadLimit = 120s;
// How often a wait looks at the stop.
constexpr std::chrono::milliseconds kLook = 20ms;

struct PageRequest {
    qint64 offset = 0;
    qint32 width = 0;
    qint32 height = 0;
    qint32 bytesPerPixel = 0;
    qint64 bytesPerLine = 0;
    qint32 dpi = 0;
    qint32 boundMs = 0;
};

QByteArray encodeRequest(const PageRequest& r) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << kPage << r.offset << r.width << r.height << r.bytesPerPixel << r.bytesPerLine << r.dpi
        << r.boundMs;
    return bytes;
}

std::optional<PageRequest> decodeRequest(const QByteArray& bytes) {
    QDataStream in(bytes);
    quint32 kind = 0;
    PageRequest r;
    in >> kind >> r.offset >> r.width >> r.height >> r.bytesPerPixel >> r.bytesPerLine >> r.dpi >>
        r.boundMs;
    if (in.status() != QDataStream::Ok || kind != kPage || r.width <= 0 || r.height <= 0 ||
        (r.bytesPerPixel != 0 && r.bytesPerPixel != 1) || r.offset < 0)
        return std::nullopt;
    const qint64 rowBytes = r.bytesPerPixel == 0 ? (qint64(r.width) + 7) / 8 : qint64(r.width);
    if (r.bytesPerLine < rowBytes)
        return std::nullopt;
    return r;
}

QByteArray encodeText(const PageText& page) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << page.size << page.cutShort << qint32(page.turned) << page.orientationUnsure
        << quint32(page.paragraphs.size());
    for (const OcrParagraph& p : page.paragraphs) {
        out << p.box << quint32(p.lines.size());
        for (const OcrLine& l : p.lines) {
            out << l.box << quint32(l.words.size());
            for (const OcrWord& w : l.words)
                out << w.box << w.text;
        }
    }
    return bytes;
}

std::optional<PageText> decodeText(const QByteArray& bytes) {
    QDataStream in(bytes);
    PageText page;
    qint32 turned = 0;
    quint32 paragraphs = 0;
    in >> page.size >> page.cutShort >> turned >> page.orientationUnsure >> paragraphs;
    page.turned = turned;
    // Counts are checked against what is left, so a damaged message cannot ask for memory.
    const auto plausible = [&](quint32 count) {
        return in.status() == QDataStream::Ok && qint64(count) <= bytes.size();
    };
    if (!plausible(paragraphs))
        return std::nullopt;
    for (quint32 i = 0; i < paragraphs; ++i) {
        OcrParagraph p;
        quint32 lines = 0;
        in >> p.box >> lines;
        if (!plausible(lines))
            return std::nullopt;
        for (quint32 j = 0; j < lines; ++j) {
            OcrLine l;
            quint32 words = 0;
            in >> l.box >> words;
            if (!plausible(words))
                return std::nullopt;
            for (quint32 k = 0; k < words; ++k) {
                OcrWord w;
                in >> w.box >> w.text;
                l.words.append(w);
            }
            p.lines.append(l);
        }
        page.paragraphs.append(p);
    }
    if (in.status() != QDataStream::Ok)
        return std::nullopt;
    return page;
}

QByteArray encodeReady(Ready ready) {
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << quint32(ready);
    return bytes;
}

} // namespace

struct Recognizer::State {
    QString languages;
    QString helper;
    QString problem;
    QString helperProblem; // why the helper cannot serve, in the system's or its own words
    double boundScale = 1;
    std::optional<platform::ChildProcess> child;
    std::optional<platform::Channel> channel;
    // Pages that do not lie in a memory file are copied into this one for the helper.
    std::unique_ptr<platform::MemoryFile> copy;

    // Starts the helper and waits until it has loaded the languages; "" when it has, or when a
    // stop ended the wait (no helper then).
    QString start(const std::atomic<bool>* stop = nullptr) {
        end(false);
        try {
            auto [ours, theirs] = platform::Channel::pair();
            // Tesseract's OpenMP threads would only fight the other workers for the cores.
            child.emplace(helper, QStringList{languages},
                          platform::EnvironmentChanges{{"OMP_THREAD_LIMIT", "1"}},
                          QList<int>{theirs->fd()});
            channel.emplace(std::move(ours));
        } catch (const BasicError& e) {
            child.reset();
            helperProblem = QString::fromUtf8(startFailure(e));
            return engine::Texts::tr("%1 cannot be started: %2")
                .arg(QLatin1String(kRecognitionHelper), helperProblem);
        }
        QByteArray answer;
        QElapsedTimer waited;
        waited.start();
        platform::Channel::Received got;
        while ((got = channel->receive(answer, kLook)) == platform::Channel::Received::NotYet &&
               waited.elapsed() < kLoadLimit.count()) {
            if (stop && stop->load()) {
                end(true);
                return {};
            }
        }
        quint32 ready = 0;
        if (got == platform::Channel::Received::Message)
            QDataStream(answer) >> ready;
        if (ready == quint32(Ready::Loaded))
            return {};
        if (got == platform::Channel::Received::Message) {
            end(true);
            return engine::Texts::tr("Tesseract cannot load the languages %1").arg(languages);
        }
        // A helper that says nothing is no helper of ours, or a broken one.
        helperProblem = ended(got == platform::Channel::Received::NotYet);
        end(true);
        return helperProblem;
    }

    // Why the helper went away, once it has: its crash, its exit code, or its last words.
    QString ended(bool kill) {
        if (kill)
            child->kill();
        channel.reset();
        // It has closed its end: it is ending, or has.
        if (!child->waitFor(2s)) {
            child->kill();
            child->waitFor(10s);
        }
        return converterReason(kRecognitionHelper, child->exitCode(), child->endingSignal(),
                               child->output());
    }

    // Ends the helper: by closing its channel (it then ends by itself), or at once.
    void end(bool kill) {
        if (!child)
            return;
        if (kill)
            child->kill();
        channel.reset();
        if (!child->waitFor(kill ? 10s : 2s)) {
            child->kill();
            child->waitFor(10s);
        }
        child.reset();
    }

    // The descriptor and offset the helper reads `pixels` by.
    std::pair<const platform::MemoryFile*, qint64> memoryOf(const uchar* pixels, qsizetype bytes,
                                                            const platform::MemoryFile* file) {
        if (file && file->data() && pixels >= file->data() &&
            pixels + bytes <= file->data() + file->size())
            return {file, qint64(pixels - file->data())};
        if (!copy || copy->size() < bytes)
            copy = std::make_unique<platform::MemoryFile>(bytes);
        std::memcpy(copy->data(), pixels, size_t(bytes));
        return {copy.get(), 0};
    }
};

Recognizer::Recognizer(const QString& languages, const QString& programFolder)
    : m(std::make_unique<State>()) {
    m->languages = languages;
    m->helper = (programFolder.isEmpty() ? paths::programFolder() : programFolder) +
                QLatin1Char('/') + QLatin1String(kRecognitionHelper);
    QStringList names;
    for (const QString& part : languages.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        if (part.trimmed().isEmpty())
            continue;
        if (!isLanguageList(part)) {
            m->problem = engine::Texts::tr("\"%1\" is not a language name").arg(part.trimmed());
            return;
        }
        names.append(part.trimmed());
    }
    m->languages = names.join(QLatin1Char('+'));
    m->problem = m->start();
}

Recognizer::~Recognizer() {
    m->end(false);
}

QString Recognizer::problem() const {
    return m->problem;
}

QString Recognizer::helperProblem() const {
    return m->helperProblem;
}

QString Recognizer::helperPath() const {
    return m->helper;
}

void Recognizer::setBoundScale(double scale) {
    m->boundScale = scale;
}

PageText Recognizer::recognize(const uchar* pixels, int width, int height, int bytesPerPixel,
                               qsizetype bytesPerLine, int dpi, const std::atomic<bool>* stop,
                               const platform::MemoryFile* file) {
    PageText page;
    page.size = QSize(width, height);
    if (!m->problem.isEmpty() || width <= 0 || height <= 0 || (stop && stop->load()))
        return page;
    if (!m->channel) {
        // The last one was ended, by a stop, its bound or a crash.
        if (const QString why = m->start(stop); !why.isEmpty()) {
            page.lost = why;
            return page;
        }
        if (!m->channel)
            return page; // stopped while it loaded
    }
    PageRequest request;
    request.width = width;
    request.height = height;
    request.bytesPerPixel = bytesPerPixel;
    request.bytesPerLine = bytesPerLine;
    request.dpi = dpi;
    request.boundMs = std::max(1, int(double(recognitionBoundMs(width, height)) * m->boundScale));
    const platform::MemoryFile* memory = nullptr;
    try {
        std::tie(memory, request.offset) =
            m->memoryOf(pixels, bytesPerLine * qsizetype(height), file);
    } catch (const BasicError& e) {
        page.lost = e.reason().isEmpty() ? e.description() : e.reason();
        return page;
    }
    QElapsedTimer clock;
    clock.start();
    const qint64 hardBound = recognitionHardBoundMs(request.boundMs);
    QByteArray answer;
    platform::Channel::Received got = platform::Channel::Received::Closed;
    if (m->channel->send(encodeRequest(request), memory->descriptor()->fd())) {
        while ((got = m->channel->receive(answer, kLook)) == platform::Channel::Received::NotYet) {
            if (stop && stop->load()) {
                m->end(true);
                return page;
            }
            if (clock.elapsed() > hardBound) {
                m->end(true);
                page.cutShort = true;
                return page;
            }
        }
    }
    if (got == platform::Channel::Received::Message) {
        if (std::optional<PageText> text = decodeText(answer); text && text->size == page.size)
            return *text;
        page.lost = engine::Texts::tr("%1 answered garbage").arg(QLatin1String(kRecognitionHelper));
        m->end(true);
        return page;
    }
    page.lost = m->ended(false);
    m->child.reset();
    return page;
}

int recognitionHardBoundMs(int boundMs) {
    return int(std::min(double(boundMs) * 1.5 + 5000.0, double(INT_MAX / 2)));
}

int serveRecognition(int argc, char** argv) {
    if (argc < 2)
        return 2;
    platform::Channel channel(std::make_shared<const platform::Descriptor>(3));
    TesseractReader reader(QString::fromUtf8(argv[1]));
    if (!channel.send(encodeReady(reader.loaded() ? Ready::Loaded : Ready::NotLoaded)) ||
        !reader.loaded())
        return 1;
    for (;;) {
        QByteArray message;
        platform::SharedDescriptor handed;
        if (channel.receive(message, -1ms, &handed) != platform::Channel::Received::Message)
            return 0; // the program closed the channel: it needs no more pages
        const std::optional<PageRequest> r = decodeRequest(message);
        if (!r || !handed)
            return 3;
        std::unique_ptr<const platform::MemoryFile> memory;
        try {
            memory = platform::MemoryFile::mapForReading(handed);
        } catch (const BasicError&) {
            return 4;
        }
        if (r->offset + r->bytesPerLine * qint64(r->height) > memory->size())
            return 3;
        const PageText page = reader.read(memory->data() + r->offset, r->width, r->height,
                                          r->bytesPerPixel, r->bytesPerLine, r->dpi, r->boundMs);
        memory.reset();
        if (!channel.send(encodeText(page)))
            return 0;
    }
}

} // namespace vormelle::engine
