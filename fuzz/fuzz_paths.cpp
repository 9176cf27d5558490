// SPDX-License-Identifier: GPL-3.0-or-later
// The path routines against the rules they implement, written out plainly here: whatever the
// text, the folder and the name put together give the path back, and CleanPath collapses each
// pair of separators and nothing else. And the mapping between a path's bytes and its text
// loses nothing.
#include "app/paths/paths.h"
#include "fuzz/fuzzcheck.h"
#include "platform/filesystem.h"

#include <QString>

#include <cstring>

using vormelle::paths::Style;
namespace paths = vormelle::paths;

namespace {

QString referenceCleanPath(const QString& path, QChar sep, bool keepsDoubleLead) {
    QString out;
    qsizetype i = 0;
    if (path.startsWith(sep)) {
        out = keepsDoubleLead ? QString(2, sep) : QString(sep);
        while (i < path.size() && path.at(i) == sep)
            ++i;
    }
    while (i < path.size()) {
        out += path.at(i);
        i += path.at(i) == sep && i + 1 < path.size() && path.at(i + 1) == sep ? 2 : 1;
    }
    return out;
}

void check(const QString& path, Style style) {
    const QChar sep = paths::separator(style);
    const QString name = paths::FileNameOf(path, style);
    const QString folder = paths::FolderOf(path, style);
    FUZZ_CHECK(folder + name == path);
    FUZZ_CHECK(!name.contains(sep));
    FUZZ_CHECK(folder.isEmpty() || folder.endsWith(sep));

    const QString base = paths::StripExtension(name);
    FUZZ_CHECK(name.startsWith(base));
    if (base.size() != name.size()) {
        FUZZ_CHECK(!base.isEmpty());
        FUZZ_CHECK(name.at(base.size()) == QLatin1Char('.'));
        FUZZ_CHECK(!name.mid(base.size() + 1).contains(QLatin1Char('.')));
    } else {
        FUZZ_CHECK(name.lastIndexOf(QLatin1Char('.')) <= 0);
    }

    FUZZ_CHECK(paths::CleanPath(path, style) ==
               referenceCleanPath(path, sep, style == Style::Windows));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    // The bytes as UTF-8, and as UTF-16 code units, which can hold lone surrogates as well.
    const QString utf8 = QString::fromUtf8(bytes, qsizetype(size));
    QString utf16(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(utf16.data(), bytes, size / 2 * 2);
    // Any bytes make a name, and the name's text gives exactly those bytes back.
    const QByteArray raw(bytes, qsizetype(size));
    const QString text = vormelle::platform::decodePath(raw);
    FUZZ_CHECK(vormelle::platform::encodePath(text) == raw);
    bool loneSurrogate = false;
    for (qsizetype i = 0; i < utf16.size(); ++i) {
        const char16_t c = utf16.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < utf16.size() &&
            QChar::isLowSurrogate(utf16.at(i + 1).unicode()))
            ++i;
        else if (QChar::isSurrogate(c))
            loneSurrogate = true;
    }
    if (!loneSurrogate)
        FUZZ_CHECK(vormelle::platform::decodePath(vormelle::platform::encodePath(utf16)) == utf16);
    for (const QString& path : {utf8, utf16, text}) {
        check(path, Style::Windows);
        check(path, Style::Posix);
    }
    return 0;
}
