// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/toolstage.h"

#include "engine/runner.h"
#include "engine/texts.h"
#include "platform/basicerror.h"
#include "platform/memoryfile.h"

#include <QFile>
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

} // namespace

ToolStage::ToolStage(QString workFolder, platform::EnvironmentChanges environment,
                     const std::atomic<bool>* stop)
    : m_workFolder(std::move(workFolder)), m_environment(std::move(environment)), m_stop(stop) {}

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
    const char* tool = bitonal ? kBitonalEncoder : kPhotoEncoder;
    const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (program.isEmpty())
        return {codec::Error::ToolMissing, QString::fromLatin1(tool)};
    const QString file = m_workFolder + QStringLiteral("/stage-%1.djvu").arg(index + 1);
    Command command{program, {QStringLiteral("-dpi"), QString::number(page.dpi)}, m_environment};
    // c44 halves the colour planes by default, which blurs coloured text below 35 dB;
    // full-size planes keep it sharp for about a sixth more bytes.
    if (page.kind == codec::PixelKind::Colour)
        command.arguments << QStringLiteral("-crcbfull");
    command.arguments << handOver(command, image->descriptor()) << file;
    const RunResult ran = runToEnd(command, m_stop);
    image.reset();
    if (ran.stopped) {
        QFile::remove(file);
        return {codec::Error::Aborted, {}};
    }
    Step step{QString::fromLatin1(tool), ran.code, ran.signal, {}};
    step.wroteNothing = !step.failed() && !QFile::exists(file);
    if (step.failed())
        step.output = ran.output;
    m_steps.append(step);
    if (step.failed()) {
        QFile::remove(file);
        return {
            codec::Error::ToolFailed,
            step.wroteNothing
                ? engine::Texts::tr("%1 wrote no DjVu file").arg(QLatin1String(tool))
                : converterReason(tool, ran.code, ran.signal, ran.output, page.width, page.height)};
    }
    const bool taken = sink.pageFile(index, file);
    QFile::remove(file);
    return taken ? codec::Status{} : codec::Status{codec::Error::WriteFailed, {}};
}

codec::Status ToolStage::finish(codec::PageSink& /*sink*/, const codec::AbortHook& /*abort*/) {
    return {}; // every page went to the sink as it was added
}

} // namespace vormelle::engine
