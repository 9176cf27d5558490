// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file's INI editing: whatever the file holds, a written value reads back exactly,
// and every other key reads as it did. Input: a length byte, that many UTF-16 code units of
// value (lone surrogates and control characters included), then the file.
#include "fuzz/fuzzcheck.h"
#include "platform/inifile.h"

#include <QByteArray>
#include <QString>

#include <cstring>

namespace ini = vormelle::platform::ini;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t units = std::min<std::size_t>(data[0] % 64, (size - 1) / 2);
    QString value(qsizetype(units), Qt::Uninitialized);
    std::memcpy(value.data(), data + 1, units * 2);
    const QByteArray file(reinterpret_cast<const char*>(data + 1 + units * 2),
                          qsizetype(size - 1 - units * 2));
    const QString section = QStringLiteral("Vormelle");
    const QString key = QStringLiteral("Text1");

    FUZZ_CHECK(ini::unescape(ini::escape(value)) == value);
    const QByteArray written = ini::withValue(file, section, key, value);
    FUZZ_CHECK(ini::find(written, section, key) == std::optional<QString>(value));
    for (const char* other : {"Option1", "Text"})
        FUZZ_CHECK(ini::find(written, section, QLatin1String(other)) ==
                   ini::find(file, section, QLatin1String(other)));
    FUZZ_CHECK(ini::find(written, QStringLiteral("Other"), key) ==
               ini::find(file, QStringLiteral("Other"), key));
    // Nothing else is lost: what the old file has between the parts the new one shares with
    // it at its start and at its end is at most the rest of one line (the old value).
    qsizetype head = 0;
    while (head < file.size() && head < written.size() && file[head] == written[head])
        ++head;
    qsizetype tail = 0;
    while (tail < file.size() - head && tail < written.size() - head &&
           file[file.size() - 1 - tail] == written[written.size() - 1 - tail])
        ++tail;
    FUZZ_CHECK(!file.mid(head, file.size() - head - tail).contains('\n'));
    return 0;
}
