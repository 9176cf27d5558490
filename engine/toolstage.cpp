// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/toolstage.h"

#include "codec/iff.h"
#include "codec/jb2page.h"
#include "codec/layers.h"
#include "codec/segment.h"
#include "engine/checks.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "platform/basicerror.h"
#include "platform/memoryfile.h"
#include "platform/tempfolder.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace vormelle::engine {

namespace {

QByteArray pnmHeader(const codec::PageView& page) {
    const bool bitonal = page.kind == codec::PixelKind::Bitonal;
    const char* magic = bitonal ? "P4" : page.kind == codec::PixelKind::Grey ? "P5" : "P6";
    QByteArray header = QByteArray(magic) + '\n' + QByteArray::number(page.width) + ' ' +
                        QByteArray::number(page.height) + '\n';
    if (!bitonal)
        header += "255\n";
    return header;
}

std::unique_ptr<platform::MemoryFile> imageFor(const codec::PageView& page, qsizetype& headerSize) {
    const QByteArray header = pnmHeader(page);
    headerSize = header.size();
    auto image = std::make_unique<platform::MemoryFile>(
        header.size() + codec::rowBytes(page.kind, page.width) * qsizetype(page.height));
    std::copy_n(header.constData(), header.size(), image->data());
    return image;
}

// c44 takes no page narrower or lower than this; a blank mask over djvumake's layers codes
// smaller ones.
constexpr int kSmallestLayer = 4;

// "mask 5210 B, foreground 1432 B, background 20112 B": the layers of a page file, from its
// chunks' heads ("AT&T", "FORM", size, "DJVU", then id, big-endian size, data padded to even).
QString layerBytes(const QString& djvu) {
    QFile file(djvu);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const char* const names[] = {"mask", "foreground", "background"};
    qint64 bytes[3] = {-1, -1, -1};
    qint64 at = 16;
    while (file.seek(at)) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            break;
        const auto* s = reinterpret_cast<const uchar*>(head.constData() + 4);
        const qint64 size = (qint64{s[0]} << 24) | (s[1] << 16) | (s[2] << 8) | s[3];
        const QByteArray id = head.left(4);
        const int layer = id == "Sjbz"                   ? 0
                          : id == "FG44" || id == "FGbz" ? 1
                          : id == "BG44"                 ? 2
                                                         : -1;
        // Several BG44 chunks make one layer.
        if (layer >= 0)
            bytes[layer] = std::max<qint64>(bytes[layer], 0) + size;
        at += 8 + size + (size & 1);
    }
    QStringList parts;
    for (int i = 0; i < 3; ++i) {
        if (bytes[i] >= 0)
            parts << QStringLiteral("%1 %2 B").arg(QLatin1String(names[i])).arg(bytes[i]);
    }
    return parts.join(QStringLiteral(", "));
}

// How a compound page's background is coded, measured on the bench's pages
// (docs/architecture.md). With photographs: at half the page's size, two chunks of slices; a
// third of the size needs 97 slices for the same decibels and then costs more bytes, fewer slices
// lose 3 to 4 dB on photographs and flat bars. Text alone: the paper and its tints at a sixth
// of the size in one chunk; what finer slices add is the paper's grain and JPEG's noise.
struct BackgroundCoding {
    int reduction;
    const char* slices;
};
constexpr BackgroundCoding kPhotoBackground{2, "74,86"};
constexpr BackgroundCoding kTextBackground{6, "74"};

// The reductions above are for pages of 300 dpi and more. A page scanned coarser keeps its
// background as fine on paper: at half the size a 150 dpi page's background is 75 dpi, which
// smears a grey wedge's steps into each other.
int backgroundReduction(const BackgroundCoding& coding, int dpi) {
    return std::clamp(coding.reduction * dpi / 300, 1, coding.reduction);
}

QByteArray blankMask(int width, int height) {
    return QByteArray("P4\n") + QByteArray::number(width) + ' ' + QByteArray::number(height) +
           '\n' + QByteArray(qsizetype((width + 7) / 8) * height, '\0');
}

// The page's text mask, and its profile in the run log's words; no mask for a photograph.
codec::Segmentation segmentPage(const codec::PageView& page, QString& profile) {
    codec::Segmenter segmenter(page.width, page.height,
                               page.kind == codec::PixelKind::Grey ? 1 : 3);
    if (!segmenter.valid()) { // no memory to segment: one layer, as c44 alone needs
        profile = QStringLiteral("layer (no memory to find the text)");
        return {};
    }
    for (int y = 0; y < page.height; ++y)
        segmenter.setRow(y, page.pixels + qsizetype(y) * page.stride);
    codec::Segmentation parts = segmenter.segment();
    const double area = double(page.width) * page.height;
    profile = QStringLiteral("%1 (text %2 %, photograph %3 % of the page)")
                  .arg(QLatin1String(codec::profileName(parts.profile)))
                  .arg(100 * double(parts.maskPixels) / area, 0, 'f', 1)
                  .arg(100 * double(parts.photoPixels) / area, 0, 'f', 1);
    return parts;
}

} // namespace

ToolStage::ToolStage(QString workFolder, platform::EnvironmentChanges environment,
                     const std::atomic<bool>* stop, ColourPages colourPages, bool lossyMask)
    : m_workFolder(std::move(workFolder)), m_environment(std::move(environment)), m_stop(stop),
      m_colourPages(colourPages), m_lossyMask(lossyMask) {}

ToolStage::~ToolStage() = default;

std::uint8_t* ToolStage::pageMemory(const codec::PageView& shape) {
    if (codec::checkPage({shape.kind, shape.width, shape.height, shape.dpi,
                          reinterpret_cast<const std::uint8_t*>(1),
                          codec::rowBytes(shape.kind, shape.width)}) != codec::Error::None)
        return nullptr;
    try {
        m_image = imageFor(shape, m_headerSize);
    } catch (const BasicError&) {
        m_image.reset();
        return nullptr;
    }
    return m_image->data() + m_headerSize;
}

codec::Status ToolStage::addPage(const codec::PageView& page, codec::PageSink& sink,
                                 const codec::AbortHook& abort) {
    const int index = m_pages++;
    if (codec::checkPage(page) != codec::Error::None)
        return {codec::Error::BadDimension, {}};
    if (abort && abort())
        return {codec::Error::Aborted, {}};
    const qsizetype rowBytes = codec::rowBytes(page.kind, page.width);
    // The pixels where pageMemory() offered them go as they are; others are copied in.
    std::unique_ptr<platform::MemoryFile> image = std::move(m_image);
    const bool inPlace = image && page.pixels == image->data() + m_headerSize &&
                         page.stride == rowBytes &&
                         image->size() == m_headerSize + rowBytes * qsizetype(page.height);
    if (!inPlace) {
        try {
            image = imageFor(page, m_headerSize);
        } catch (const BasicError& e) {
            return {codec::Error::OutOfMemory, e.description()};
        }
        for (int y = 0; y < page.height; ++y)
            std::copy_n(page.pixels + qsizetype(y) * page.stride, rowBytes,
                        image->data() + m_headerSize + qsizetype(y) * rowBytes);
    }

    const bool bitonal = page.kind == codec::PixelKind::Bitonal;
    const bool tiny = !bitonal && (page.width < kSmallestLayer || page.height < kSmallestLayer);
    QString profile = QLatin1String(bitonal ? "bitonal" : "layer");
    QByteArray mask;  // a PBM; empty: one layer
    QByteArray photo; // a PBM of the photographs found; empty: none
    bool textOnly = false;
    if (tiny) {
        profile = QStringLiteral("tiny");
        mask = blankMask(page.width, page.height);
    } else if (!bitonal && m_colourPages == ColourPages::Compound) {
        codec::Segmentation parts = segmentPage(page, profile);
        mask = std::move(parts.maskPbm);
        photo = std::move(parts.photoPbm);
        textOnly = parts.profile == codec::PageProfile::Text;
        if (abort && abort())
            return {codec::Error::Aborted, {}};
    }

    const QString file = m_workFolder + QStringLiteral("/stage-%1.djvu").arg(index + 1);
    codec::Status status;
    if (!mask.isEmpty()) {
        status = tiny ? assembleTiny(page, mask, *image, file)
                      : assemble(page, mask, photo, textOnly, file, abort);
    } else {
        const char* tool = bitonal ? kBitonalEncoder : kPhotoEncoder;
        Command command{{}, {QStringLiteral("-dpi"), QString::number(page.dpi)}, m_environment};
        // c44 halves the colour planes by default, which blurs coloured text below 35 dB;
        // full-size planes keep it sharp for about a sixth more bytes.
        if (page.kind == codec::PixelKind::Colour)
            command.arguments << QStringLiteral("-crcbfull");
        command.arguments << handOver(command, image->descriptor()) << file;
        status = run(tool, std::move(command), file, page);
    }
    image.reset();
    if (!status.ok()) {
        QFile::remove(file);
        return status;
    }
    // A page far larger than its pixels is wrong, and is never read.
    if (const qint64 size = QFileInfo(file).size();
        size > djvuResultBound(1, qint64(page.width) * page.height)) {
        QFile::remove(file);
        const char* made = tiny              ? kAssembler
                           : !mask.isEmpty() ? "compound page"
                           : bitonal         ? kBitonalEncoder
                                             : kPhotoEncoder;
        return {codec::Error::TooLarge,
                engine::Texts::tr("%1 wrote %2 MB, far more than pages of this size take")
                    .arg(QLatin1String(made))
                    .arg(size >> 20)};
    }
    const QString layers = layerBytes(file);
    m_profiles << QStringLiteral("page %1: %2%3")
                      .arg(index + 1)
                      .arg(profile, layers.isEmpty() ? QString() : QStringLiteral(", ") + layers);
    const bool taken = sink.pageFile(index, file);
    QFile::remove(file);
    return taken ? codec::Status{} : codec::Status{codec::Error::WriteFailed, {}};
}

codec::Status ToolStage::run(const char* tool, Command command, const QString& file,
                             const codec::PageView& page) {
    command.program = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (command.program.isEmpty())
        return {codec::Error::ToolMissing, QString::fromLatin1(tool)};
    const RunResult ran = runToEnd(command, m_stop);
    if (ran.stopped)
        return {codec::Error::Aborted, {}};
    Step step{QString::fromLatin1(tool), ran.code, ran.signal, {}};
    step.wroteNothing = !step.failed() && !QFile::exists(file);
    if (step.failed())
        step.output = ran.output;
    m_steps.append(step);
    if (!step.failed())
        return {};
    // Whether the folder is full is seen before the encoder's part of a page goes.
    const bool full =
        ran.output.contains("No space left on device") || platform::hasNoSpaceLeft(m_workFolder);
    return {full ? codec::Error::NoSpace : codec::Error::ToolFailed,
            step.wroteNothing
                ? engine::Texts::tr("%1 wrote no DjVu file").arg(QLatin1String(tool))
                : converterReason(tool, ran.code, ran.signal, ran.output, page.width, page.height)};
}

namespace {

// The mask a segmentation gave (a PBM of the page's size) as a view of its pixels.
codec::PageView maskView(const codec::PageView& page, const QByteArray& maskPbm) {
    const qsizetype row = codec::rowBytes(codec::PixelKind::Bitonal, page.width);
    const qsizetype bits = row * qsizetype(page.height);
    if (maskPbm.size() < bits)
        return {};
    return {codec::PixelKind::Bitonal,
            page.width,
            page.height,
            page.dpi,
            reinterpret_cast<const std::uint8_t*>(maskPbm.constData() + maskPbm.size() - bits),
            row};
}

std::unique_ptr<platform::MemoryFile> memoryOf(const codec::Bytes& bytes) {
    auto file = std::make_unique<platform::MemoryFile>(qsizetype(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), file->data());
    return file;
}

} // namespace

// A page too small for c44: a blank mask of our coder over djvumake's foreground and background
// from the page image, which it reads where it lies.
codec::Status ToolStage::assembleTiny(const codec::PageView& page, const QByteArray& maskPbm,
                                      const platform::MemoryFile& image, const QString& file) {
    const codec::PageView mask = maskView(page, maskPbm);
    const QString maskDjvu = file + QStringLiteral(".mask");
    if (!writeDjvuFile(
            maskDjvu, codec::Chunk::form(
                          "DJVU", {codec::Chunk::data(
                                       "INFO", codec::infoChunk(page.width, page.height, page.dpi)),
                                   codec::Chunk::data("Sjbz", codec::encodeJb2Page(mask))}))) {
        QFile::remove(maskDjvu);
        return {platform::hasNoSpaceLeft(m_workFolder) ? codec::Error::NoSpace
                                                       : codec::Error::WriteFailed,
                {}};
    }
    Command assembler{
        {},
        {file, QStringLiteral("INFO=%1,%2,%3").arg(page.width).arg(page.height).arg(page.dpi),
         QStringLiteral("Sjbz=") + maskDjvu},
        m_environment};
    assembler.arguments << QStringLiteral("PPM=") + handOver(assembler, image.descriptor());
    const codec::Status status = run(kAssembler, std::move(assembler), file, page);
    QFile::remove(maskDjvu);
    return status;
}

// A compound page: the mask through our JB2 coder, the foreground a colour per shape of it
// (FGbz), the background the page reduced with the masked pixels left out, coded by c44 with
// those it hides wholly marked as don't-care; our writer puts the chunks together.
codec::Status ToolStage::assemble(const codec::PageView& page, const QByteArray& maskPbm,
                                  const QByteArray& photoPbm, bool textOnly, const QString& file,
                                  const codec::AbortHook& abort) {
    const codec::PageView mask = maskView(page, maskPbm);
    codec::Jb2Options options;
    options.keepBlits = true;
    options.lossy = m_lossyMask;
    codec::Jb2Stats stats;
    codec::Bytes sjbz = codec::encodeJb2Page(mask, options, &stats);
    codec::Bytes fgbz = codec::foregroundColours(page, mask, stats.blits);
    stats.blits = {};
    if (sjbz.empty() || fgbz.empty())
        return {codec::Error::OutOfMemory, {}};
    if (abort && abort())
        return {codec::Error::Aborted, {}};

    const QString backDjvu = file + QStringLiteral(".bg");
    codec::Status status;
    {
        const BackgroundCoding& coding = textOnly ? kTextBackground : kPhotoBackground;
        const codec::PageView photo = maskView(page, photoPbm);
        codec::Background back = codec::background(
            page, mask, backgroundReduction(coding, page.dpi), photo.pixels ? &photo : nullptr);
        if (back.image.empty())
            return {codec::Error::OutOfMemory, {}};
        std::unique_ptr<platform::MemoryFile> backImage, hidden;
        try {
            backImage = memoryOf(back.image);
            hidden = memoryOf(back.dontCare);
        } catch (const BasicError& e) {
            return {codec::Error::OutOfMemory, e.description()};
        }
        back = {};
        Command coder{{}, {}, m_environment};
        coder.arguments << QStringLiteral("-mask") << handOver(coder, hidden->descriptor())
                        << QStringLiteral("-slice") << QLatin1String(coding.slices);
        coder.arguments << handOver(coder, backImage->descriptor()) << backDjvu;
        status = run(kPhotoEncoder, std::move(coder), backDjvu, page);
    }
    std::vector<codec::Chunk> chunks;
    if (status.ok()) {
        QFile in(backDjvu);
        const QByteArray bytes = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
        const std::optional<codec::Chunk> coded = codec::parseFile(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
        chunks.push_back(
            codec::Chunk::data("INFO", codec::infoChunk(page.width, page.height, page.dpi)));
        chunks.push_back(codec::Chunk::data("Sjbz", std::move(sjbz)));
        chunks.push_back(codec::Chunk::data("FGbz", std::move(fgbz)));
        if (coded) {
            for (const codec::Chunk& c : coded->children())
                if (c.name() == "BG44")
                    chunks.push_back(c);
        }
        if (chunks.size() < 4)
            status = {codec::Error::ToolFailed,
                      engine::Texts::tr("%1 wrote no DjVu file").arg(QLatin1String(kPhotoEncoder))};
    }
    QFile::remove(backDjvu);
    if (status.ok() && !writeDjvuFile(file, codec::Chunk::form("DJVU", std::move(chunks))))
        status = {platform::hasNoSpaceLeft(m_workFolder) ? codec::Error::NoSpace
                                                         : codec::Error::WriteFailed,
                  {}};
    return status;
}

codec::Status ToolStage::finish(codec::PageSink& /*sink*/, const codec::AbortHook& /*abort*/) {
    return {}; // every page went to the sink as it was added
}

bool writeDjvuFile(const QString& path, const codec::Chunk& form) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const codec::Error written =
        codec::writeFile(form, [&out](const std::uint8_t* d, std::size_t n) {
            return out.write(reinterpret_cast<const char*>(d), qint64(n)) == qint64(n);
        });
    return written == codec::Error::None && out.flush();
}

} // namespace vormelle::engine
