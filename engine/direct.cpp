#include "engine/direct.h"

#include "engine/commands.h"
#include "engine/outcome.h"
#include "engine/pagereader.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "platform/process.h"
#include "platform/regularfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

namespace vormelle::engine {

namespace {

QString toolPath(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

struct Encoding {
    QString workFolder;
    const std::atomic<bool>* stop = nullptr;
    platform::EnvironmentChanges environment;
    QStringList made; // files to remove at the end
    bool stopped = false;

    bool stopRequested() const { return stop && stop->load(); }

    // Runs one encoder to its end; "" when it ended with 0 and wrote `output`.
    QString run(const char* tool, const QStringList& arguments, const QString& output) {
        const RunResult ran = runToEnd({toolPath(tool), arguments, environment}, stop);
        if (ran.stopped) {
            stopped = true;
            return engine::Texts::tr("the conversion was stopped");
        }
        if (ran.code != 0 || ran.signal != 0)
            return converterReason(tool, ran.code, ran.signal, ran.output);
        if (!QFile::exists(output))
            return engine::Texts::tr("%1 wrote no DjVu file").arg(QLatin1String(tool));
        return {};
    }

    QString path(const QString& name) const { return workFolder + QLatin1Char('/') + name; }

    // Writes the page as PBM, PGM or PPM, row by row.
    QString writeImage(TiffPageReader& reader, const QString& image) {
        const PageFormat& f = reader.format();
        const char* magic = f.kind == PixelKind::Bitonal ? "P4"
                            : f.kind == PixelKind::Grey  ? "P5"
                                                         : "P6";
        QFile file(image);
        made << image;
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return engine::Texts::tr("cannot write in the temporary folder: %1")
                .arg(file.errorString());
        QByteArray header = QByteArray(magic) + '\n' + QByteArray::number(f.width) + ' ' +
                            QByteArray::number(f.height) + '\n';
        if (f.kind != PixelKind::Bitonal)
            header += "255\n";
        bool written = file.write(header) == header.size();
        for (int y = 0; written && y < f.height; ++y) {
            const uchar* row = reader.nextRow();
            if (!row)
                return reader.problem();
            written = file.write(reinterpret_cast<const char*>(row), reader.rowBytes()) ==
                      reader.rowBytes();
            if (y % 256 == 0 && stopRequested()) {
                stopped = true;
                return engine::Texts::tr("the conversion was stopped");
            }
        }
        if (!written || !file.flush())
            return engine::Texts::tr("cannot write in the temporary folder: %1")
                .arg(file.errorString());
        return {};
    }

    QString encodePage(TiffPageReader& reader, const QString& page) {
        const PageFormat& f = reader.format();
        const bool bitonal = f.kind == PixelKind::Bitonal;
        const QString image = path(QString::fromLatin1(bitonal                     ? "page.pbm"
                                                       : f.kind == PixelKind::Grey ? "page.pgm"
                                                                                   : "page.ppm"));
        QString problem = writeImage(reader, image);
        if (problem.isEmpty()) {
            made << page;
            QStringList arguments{QStringLiteral("-dpi"), QString::number(f.dpi)};
            // c44 halves the colour planes by default, which blurs coloured text below 35 dB;
            // full-size planes keep it sharp for about a sixth more bytes.
            if (f.kind == PixelKind::Colour)
                arguments << QStringLiteral("-crcbfull");
            problem =
                run(bitonal ? kBitonalEncoder : kPhotoEncoder, arguments << image << page, page);
        }
        QFile::remove(image);
        return problem;
    }

    void cleanUp() {
        for (const QString& f : std::as_const(made))
            QFile::remove(f);
    }
};

} // namespace

DirectResult encodeDirect(const QString& tiffPath, const QString& workFolder,
                          const QString& resultDjvu, const std::atomic<bool>* stop) {
    const platform::RegularFile file(tiffPath);
    return encodeDirect(file, workFolder, resultDjvu, stop);
}

DirectResult encodeDirect(const platform::RegularFile& tiff, const QString& workFolder,
                          const QString& resultDjvu, const std::atomic<bool>* stop) {
    DirectResult result;
    Encoding e;
    e.workFolder = QDir::cleanPath(workFolder);
    e.stop = stop;
    e.environment = converterEnvironment(e.workFolder, platform::localeIsUtf8());

    // Plain names in the work folder: the bundle names its pages after them, and DjVuLibre
    // never sees the user's file names.
    QStringList pages;
    TiffPageReader reader(tiff);
    while (result.problem.isEmpty() && reader.nextPage()) {
        if (e.stopRequested()) {
            e.stopped = true;
            result.problem = engine::Texts::tr("the conversion was stopped");
            break;
        }
        const QString page =
            e.path(QStringLiteral("p%1.djvu").arg(reader.pageNumber(), 4, 10, QLatin1Char('0')));
        result.problem = e.encodePage(reader, page);
        if (result.problem.isEmpty()) {
            pages << page;
            ++result.pages;
        }
    }
    if (result.problem.isEmpty())
        result.problem = reader.problem();
    if (result.problem.isEmpty() && pages.isEmpty())
        result.problem = engine::Texts::tr("the file has no pages");

    QString document = pages.value(0);
    if (result.problem.isEmpty() && pages.size() > 1) {
        document = e.path(QStringLiteral("bundle.djvu"));
        e.made << document;
        result.problem =
            e.run(kBundler, QStringList{QStringLiteral("-c"), document} + pages, document);
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
    if (!result.problem.isEmpty())
        result.pages = 0;
    return result;
}

QString directEncoderProblem() {
    for (const char* tool : {kBitonalEncoder, kPhotoEncoder, kBundler}) {
        if (toolPath(tool).isEmpty())
            return engine::Texts::tr(
                       "Nothing was converted: %1 was not found. DjVuLibre's encoders "
                       "cjb2, c44 and djvm must be on the PATH (Debian's package "
                       "djvulibre-bin).")
                .arg(QLatin1String(tool));
    }
    return {};
}

} // namespace vormelle::engine
