// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

namespace vormelle::test {

// What DjVuLibre's library reads in a document: its pages and their sizes, its component files
// in directory order ("P p0001.djvu", "I dict.djvi"), and each page's hidden text as the
// s-expression djvused prints.
struct DjvuStructure {
    int pages = 0;
    QList<QSize> sizes;
    QStringList components;
    QStringList texts;       // per page; "" when it has none
    QStringList annotations; // per page, with what it includes; "" when none
};
std::optional<DjvuStructure> readWithDjvuLibre(const QString& path);

// Runs a DjVuLibre tool with `input` on stdin; its stdout, or nothing when it failed.
std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments,
                                  const QByteArray& input = {});

// DjVuLibre's own decoding of a raw BZZ stream (`bzz -d - -`).
std::optional<QByteArray> bzzDecodeWithDjvuLibre(const QByteArray& bzz);

} // namespace vormelle::test
