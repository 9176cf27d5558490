// SPDX-License-Identifier: GPL-3.0-or-later
// The folder scan's wildcard matcher against a plain dynamic-programming matcher, and the
// listing order for being a strict order. Input: pattern, a line break, name.
#include "fuzz/fuzzcheck.h"
#include "platform/directory.h"

#include <QString>

#include <vector>

namespace {

QString upper(QStringView s) {
    QString out(s.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i)
        out[i] = QChar(QChar::toUpper(s.at(i).unicode()));
    return out;
}

// "*" any run, "?" one code unit, anything else itself.
bool referenceMatch(QStringView p, QStringView n) {
    const qsizetype w = n.size() + 1;
    std::vector<char> ok(size_t((p.size() + 1) * w), 0);
    auto at = [&](qsizetype i, qsizetype j) -> char& { return ok[size_t(i * w + j)]; };
    at(p.size(), n.size()) = 1;
    for (qsizetype i = p.size() - 1; i >= 0; --i) {
        for (qsizetype j = n.size(); j >= 0; --j) {
            if (p[i] == QLatin1Char('*'))
                at(i, j) = at(i + 1, j) || (j < n.size() && at(i, j + 1));
            else
                at(i, j) =
                    j < n.size() && (p[i] == QLatin1Char('?') || p[i] == n[j]) && at(i + 1, j + 1);
        }
    }
    return at(0, 0) != 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = text.indexOf(QLatin1Char('\n'));
    const QString pattern = split < 0 ? text : text.left(split);
    const QString name = split < 0 ? QString() : text.mid(split + 1);

    const bool matched = vormelle::platform::wildcardMatch(pattern, name);
    const QString p = upper(pattern);
    const QString n = upper(name);
    const bool expected = referenceMatch(p, n) ||
                          (p.endsWith(QLatin1String(".*")) && referenceMatch(p.chopped(2), n));
    FUZZ_CHECK(matched == expected);

    using vormelle::platform::ntfsLess;
    FUZZ_CHECK(!ntfsLess(pattern, pattern));
    FUZZ_CHECK(!(ntfsLess(pattern, name) && ntfsLess(name, pattern)));
    FUZZ_CHECK(ntfsLess(pattern, name) || ntfsLess(name, pattern) || pattern == name);
    return 0;
}
