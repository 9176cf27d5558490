// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/bundle.h"

#include "codec/document.h"
#include "codec/iff.h"
#include "engine/ocr.h"
#include "engine/texts.h"
#include "platform/filesystem.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace vormelle::engine {

namespace {

codec::TextZone zone(codec::TextZone::Kind kind, const QRect& box, const QSize& from,
                     const QSize& to) {
    const double sx = from.width() > 0 ? double(to.width()) / from.width() : 1;
    const double sy = from.height() > 0 ? double(to.height()) / from.height() : 1;
    codec::TextZone z;
    z.kind = kind;
    z.xmin = std::max(qRound(box.left() * sx), 0);
    z.xmax = std::min(qRound((box.left() + box.width()) * sx), to.width());
    z.ymin = std::max(to.height() - qRound((box.top() + box.height()) * sy), 0);
    z.ymax = std::min(to.height() - qRound(box.top() * sy), to.height());
    return z;
}

} // namespace

codec::TextZone textZones(const PageText& page, const QSize& djvuPage) {
    using Kind = codec::TextZone::Kind;
    const QSize to = djvuPage.isValid() ? djvuPage : page.size;
    codec::TextZone out;
    out.xmax = to.width();
    out.ymax = to.height();
    for (const OcrParagraph& p : page.paragraphs) {
        codec::TextZone para = zone(Kind::Paragraph, p.box, page.size, to);
        for (const OcrLine& l : p.lines) {
            codec::TextZone line = zone(Kind::Line, l.box, page.size, to);
            for (const OcrWord& w : l.words) {
                codec::TextZone word = zone(Kind::Word, w.box, page.size, to);
                word.text = w.text.toStdString();
                line.children.push_back(std::move(word));
            }
            para.children.push_back(std::move(line));
        }
        out.children.push_back(std::move(para));
    }
    return out;
}

QString documentProblem(const QString& what, codec::Error error) {
    QString why;
    switch (error) {
    case codec::Error::TooLarge:
        why = Texts::tr("the document would be larger than DjVu allows (2 GB or 65535 pages)");
        break;
    case codec::Error::BadData:
        why = Texts::tr("a page is not DjVu that can be bundled");
        break;
    case codec::Error::ReadFailed:
        why = Texts::tr("a page file could not be read");
        break;
    case codec::Error::NoSpace:
        why = Texts::tr("no space left in the temporary folder");
        break;
    default:
        why = Texts::tr("cannot write in the temporary folder");
        break;
    }
    return Texts::tr("%1: %2").arg(what, why);
}

QString writeDocument(const QStringList& files, const QString& document, const QString& workFolder,
                      const std::map<int, codec::TextZone>& texts, codec::Error* error,
                      const QString& shared) {
    codec::Error ignored = codec::Error::None;
    codec::Error& e = error ? *error : ignored;
    const QString what = texts.empty() ? Texts::tr("the pages could not be bundled")
                                       : Texts::tr("the text could not be put into the pages");
    codec::DocumentWriter writer(workFolder + QStringLiteral("/document.spool"));
    if (!shared.isEmpty()) {
        QFile file(shared);
        if (!file.open(QIODevice::ReadOnly))
            return documentProblem(what, e = codec::Error::ReadFailed);
        const QByteArray bytes = file.readAll();
        const std::optional<codec::Chunk> form = codec::parseFile(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
        e = form ? writer.addShared(*form, QFileInfo(shared).fileName().toStdString())
                 : codec::Error::BadData;
        if (e != codec::Error::None)
            return documentProblem(what, e);
    }
    for (const QString& file : files) {
        const int before = writer.pageCount();
        if (texts.empty()) {
            e = writer.addFile(file);
        } else {
            e = writer.addFile(file, [&](int page, codec::Chunk& form) {
                const auto text = texts.find(before + page);
                return text == texts.end() ? codec::Error::None
                                           : codec::setPageText(form, text->second);
            });
        }
        if (e != codec::Error::None)
            return documentProblem(what, e);
    }
    e = writer.finishFile(document);
    return e == codec::Error::None ? QString() : documentProblem(what, e);
}

} // namespace vormelle::engine
