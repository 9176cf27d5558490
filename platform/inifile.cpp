// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/inifile.h"

#include <QStringDecoder>

namespace vormelle::platform {

namespace ini {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView v) {
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && (isBlank(v.back()) || v.back() == '\r'))
        v.chop(1);
    return v;
}

// One line of the file: [begin, end) without its "\n"; `next` is where the line after begins.
struct Line {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype next = 0;
};

// The line that starts at `at`.
Line lineAt(const QByteArray& file, qsizetype at) {
    const qsizetype nl = file.indexOf('\n', at);
    const qsizetype end = nl < 0 ? file.size() : nl;
    return {at, end, nl < 0 ? file.size() : nl + 1};
}

// What the file says about the key: where the value of its last line starts, and where the
// section block that should receive a new line for it ends.
struct Place {
    qsizetype valueBegin = -1;
    qsizetype valueEnd = -1;
    qsizetype blockEnd = -1;       // after the block's last non-blank line
    bool blockEndHasBreak = false; // that line ended in "\n"
};

Place locate(const QByteArray& file, const QString& section, const QString& key) {
    const QByteArray sectionBytes = section.toUtf8();
    const QByteArray keyBytes = key.toUtf8();
    Place place;
    bool inSection = false;
    // Line by line without keeping the lines: a file of millions of short junk lines costs one
    // pass over its bytes and no memory beyond them.
    for (Line line; line.next < file.size();) {
        line = lineAt(file, line.next);
        const QByteArrayView text(file.constData() + line.begin, line.end - line.begin);
        const QByteArrayView t = trimmed(text);
        if (t.startsWith('[')) {
            const qsizetype close = t.indexOf(']');
            if (close > 0) {
                inSection = t.sliced(1, close - 1) == QByteArrayView(sectionBytes);
                if (inSection) {
                    place.blockEnd = line.next;
                    place.blockEndHasBreak = line.next > line.end;
                }
                continue;
            }
        }
        if (!inSection || t.isEmpty())
            continue;
        place.blockEnd = line.next;
        place.blockEndHasBreak = line.next > line.end;
        if (t.startsWith(';'))
            continue;
        const qsizetype eq = t.indexOf('=');
        if (eq < 0 || trimmed(t.first(eq)) != QByteArrayView(keyBytes))
            continue;
        qsizetype value = (t.constData() - file.constData()) + eq + 1;
        while (value < line.end && isBlank(file.at(value)))
            ++value;
        qsizetype end = line.end;
        if (end > value && file.at(end - 1) == '\r')
            --end;
        place.valueBegin = value;
        place.valueEnd = end;
    }
    return place;
}

bool isHexDigit(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char32_t c) {
    return c <= '9' ? int(c - '0') : c <= 'F' ? int(c - 'A' + 10) : int(c - 'a' + 10);
}

// The value's text with the INI quoting and escapes undone, before the "@" forms.
QString unquote(QByteArrayView raw) {
    // A byte order mark at the start is part of the value, not a mark to drop.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8(raw);
    QString out;
    out.reserve(text.size());
    bool quoted = false;
    qsizetype kept = 0; // the length of `out` that trailing blanks cannot take away
    auto keep = [&] { kept = out.size(); };
    qsizetype i = 0;
    // Leading blanks belong to the syntax, as do blanks before a comment or the line's end.
    while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t'))
        ++i;
    while (i < text.size()) {
        const QChar c = text.at(i++);
        if (c == u'"') {
            quoted = !quoted;
            keep();
        } else if (!quoted && c == u';') {
            break;
        } else if (!quoted && c == u',') {
            // QSettings reads this as a list; the store has always given it back joined.
            out.truncate(kept);
            out += QStringLiteral(", ");
            keep();
            while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t'))
                ++i;
        } else if (c == u'\\') {
            if (i >= text.size())
                break;
            const QChar e = text.at(i++);
            switch (e.unicode()) {
            case u'a':
                out += QChar(7);
                break;
            case u'b':
                out += QChar(8);
                break;
            case u'f':
                out += QChar(12);
                break;
            case u'n':
                out += QChar(10);
                break;
            case u'r':
                out += QChar(13);
                break;
            case u't':
                out += QChar(9);
                break;
            case u'v':
                out += QChar(11);
                break;
            case u'x': {
                unsigned value = 0;
                while (i < text.size() && isHexDigit(text.at(i).unicode()))
                    value = (value * 16 + unsigned(hexValue(text.at(i++).unicode()))) & 0xffff;
                out += QChar(char16_t(value));
                break;
            }
            default:
                if (e >= u'0' && e <= u'7') {
                    unsigned value = unsigned(e.unicode() - u'0');
                    while (i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'7')
                        value = (value * 8 + unsigned(text.at(i++).unicode() - u'0')) & 0xffff;
                    out += QChar(char16_t(value));
                } else {
                    out += e; // \" \' \? \\ and anything else stand for themselves
                }
            }
            keep();
        } else {
            out += c;
            if (quoted || (c != u' ' && c != u'\t'))
                keep();
        }
    }
    out.truncate(kept);
    return out;
}

bool isInvalid(const QString& unquoted) {
    return unquoted == QLatin1String("@Invalid()");
}

} // namespace

QString unescape(QByteArrayView raw) {
    const QString out = unquote(raw);
    if (out.startsWith(QLatin1String("@@")))
        return out.mid(1);
    if (out.startsWith(QLatin1String("@ByteArray(")) && out.endsWith(QLatin1Char(')')))
        return out.mid(11).chopped(1);
    return out; // other "@" forms hold no text of ours: they come back as they stand
}

QByteArray escape(const QString& value) {
    QString text = value;
    if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    const bool quote =
        !text.isEmpty() &&
        (text.front().isSpace() || text.back().isSpace() || text.contains(QLatin1Char(';')) ||
         text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('=')));
    QByteArray out;
    out.reserve(text.size() + 8);
    if (quote)
        out += '"';
    bool afterHex = false; // a hex digit right after "\x..." would join its number
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                          QChar::isLowSurrogate(text.at(i + 1).unicode());
        if (pair) {
            out += QStringView(text).sliced(i, 2).toUtf8();
            ++i;
            afterHex = false;
            continue;
        }
        switch (c) {
        case u'\\':
            out += "\\\\";
            break;
        case u'"':
            out += "\\\"";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f || c == 0xfeff || QChar::isSurrogate(c) ||
                (afterHex && c < 0x80 && isHexDigit(c))) {
                out += "\\x" + QByteArray::number(int(c), 16).rightJustified(4, '0');
                afterHex = true;
                continue;
            }
            out += QString(QChar(c)).toUtf8();
        }
        afterHex = false;
    }
    if (quote)
        out += '"';
    return out;
}

std::optional<QString> find(const QByteArray& file, const QString& section, const QString& key) {
    const Place place = locate(file, section, key);
    if (place.valueBegin < 0)
        return std::nullopt;
    const QByteArrayView raw(file.constData() + place.valueBegin,
                             place.valueEnd - place.valueBegin);
    // QSettings' mark for "no value" is no value here either.
    if (isInvalid(unquote(raw)))
        return std::nullopt;
    return unescape(raw);
}

QByteArray withValue(const QByteArray& file, const QString& section, const QString& key,
                     const QString& value) {
    const Place place = locate(file, section, key);
    QByteArray out = file;
    if (place.valueBegin >= 0)
        return out.replace(place.valueBegin, place.valueEnd - place.valueBegin, escape(value));
    const QByteArray line = key.toUtf8() + '=' + escape(value) + '\n';
    if (place.blockEnd >= 0)
        return out.insert(place.blockEnd, place.blockEndHasBreak ? line : '\n' + line);
    if (!out.isEmpty())
        out += out.endsWith('\n') ? "\n" : "\n\n";
    return out + '[' + section.toUtf8() + "]\n" + line;
}

} // namespace ini

} // namespace vormelle::platform
