// SPDX-License-Identifier: GPL-3.0-or-later
#include "resources/toolfiles.h"

#include "platform/basicerror.h"
#include "platform/texts.h"
#include "resources/toolnames.h"

#include <QCoreApplication>
#include <QFile>

namespace vormelle::resources {

const std::array<ToolFile, 4>& toolFiles() {
#ifdef _WIN32
    static const std::array<ToolFile, 4> files{{
        {101, QStringLiteral("tiff2pdf.exe"), true},
        {102, QStringLiteral("jpeg62.dll"), false},
        {103, QStringLiteral("libtiff3.dll"), false},
        {104, QStringLiteral("zlib1.dll"), false},
    }};
#else
    static const std::array<ToolFile, 4> files{{
        {101, QString::fromLatin1(names::kTiff2pdf), true},
        {102, QString::fromLatin1(names::kJpeg), false},
        {103, QString::fromLatin1(names::kTiff), false},
        {104, QString::fromLatin1(names::kZlib), false},
    }};
#endif
    return files;
}

const ToolFile& toolFile(int id) {
    for (const ToolFile& f : toolFiles()) {
        if (f.id == id)
            return f;
    }
    throw BasicError(BasicError::InvalidProcedureCall);
}

bool carriesConverter() {
    return names::kCarried;
}

QString systemConverter() {
    return QString::fromLocal8Bit(names::kSystemTiff2pdf);
}

QByteArray customResource(int id) {
    QFile resource(QStringLiteral(":/CUSTOM/") + QString::number(id));
    if (!resource.open(QIODevice::ReadOnly))
        throw BasicError(326,
                         platform::Texts::tr("Resource with identifier '%1' not found").arg(id));
    return resource.readAll();
}

} // namespace vormelle::resources
