// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filesystem.h"

#include "platform/basicerror.h"

#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::platform {

namespace {

// Bytes that are not part of valid UTF-8 stand in a text as U+DC80 to U+DCFF, one for each
// byte, which valid UTF-8 never decodes to; encoding gives each back as its byte.
constexpr char16_t kEscapeBase = 0xdc00;

bool isContinuation(unsigned char b) {
    return (b & 0xc0) == 0x80;
}

// The length of the valid UTF-8 sequence at `at`, or 0.
qsizetype validSequence(const QByteArray& bytes, qsizetype at) {
    const auto b = [&](qsizetype i) { return static_cast<unsigned char>(bytes.at(i)); };
    const unsigned char lead = b(at);
    const qsizetype left = bytes.size() - at;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf)
        return left >= 2 && isContinuation(b(at + 1)) ? 2 : 0;
    if (lead >= 0xe0 && lead <= 0xef) {
        if (left < 3 || !isContinuation(b(at + 1)) || !isContinuation(b(at + 2)))
            return 0;
        if (lead == 0xe0 && b(at + 1) < 0xa0)
            return 0; // overlong
        if (lead == 0xed && b(at + 1) >= 0xa0)
            return 0; // a surrogate
        return 3;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        if (left < 4 || !isContinuation(b(at + 1)) || !isContinuation(b(at + 2)) ||
            !isContinuation(b(at + 3)))
            return 0;
        if ((lead == 0xf0 && b(at + 1) < 0x90) || (lead == 0xf4 && b(at + 1) >= 0x90))
            return 0; // overlong, or beyond U+10FFFF
        return 4;
    }
    return 0;
}

// Valid UTF-8 as text; a byte order mark at the start is part of the name, not a mark to drop.
QString fromUtf8(const char* bytes, qsizetype size) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return utf8(QByteArrayView(bytes, size));
}

} // namespace

QByteArray encodePath(const QString& path) {
    QByteArray out;
    out.reserve(path.size());
    qsizetype run = 0; // start of the plain text not yet encoded
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < path.size() &&
            QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            ++i; // a character beyond the first plane
            continue;
        }
        if (!QChar::isSurrogate(c))
            continue;
        out += QStringView(path).sliced(run, i - run).toUtf8();
        if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xff) {
            out += char(c - kEscapeBase);
        } else {
            // Any other lone surrogate keeps its own three bytes rather than becoming "?",
            // which could name another file.
            out += char(0xe0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3f));
            out += char(0x80 | (c & 0x3f));
        }
        run = i + 1;
    }
    out += QStringView(path).sliced(run).toUtf8();
    return out;
}

QString decodePath(const QByteArray& path) {
    QString out;
    out.reserve(path.size());
    qsizetype run = 0; // start of the valid UTF-8 not yet decoded
    for (qsizetype i = 0; i < path.size();) {
        const qsizetype n = validSequence(path, i);
        if (n > 0) {
            i += n;
            continue;
        }
        out += fromUtf8(path.constData() + run, i - run);
        out += QChar(char16_t(kEscapeBase + static_cast<unsigned char>(path.at(i))));
        run = ++i;
    }
    out += fromUtf8(path.constData() + run, path.size() - run);
    return out;
}

bool statusReadable(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(encodePath(path).constData(), &st) == 0;
}

bool isDirectory(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(encodePath(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

int folderWriteError(const QString& folder) {
    const QByteArray name = encodePath(folder);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    // Effective rights: a read-only mount refuses root too, permission bits do not.
    return ::faccessat(AT_FDCWD, name.constData(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int runError(const QString& path) {
    const QByteArray name = encodePath(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EACCES;
    return ::faccessat(AT_FDCWD, name.constData(), X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

qsizetype longestName(const QString& folder) {
    const long longest = ::pathconf(encodePath(folder).constData(), _PC_NAME_MAX);
    return longest > 0 ? qsizetype(longest) : qsizetype(255);
}

void writeNewFile(const QString& path, const QByteArray& bytes, bool executable) {
    const QByteArray name = encodePath(path);
    // O_EXCL: never write through a link or into a file someone else made meanwhile.
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, executable ? 0700 : 0600);
    if (fd < 0)
        throw BasicError::fromErrno(errno, path, errno == ENOENT);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(name.constData());
            throw BasicError::fromErrno(err, path);
        }
        done += n;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(name.constData());
        throw BasicError::fromErrno(err, path);
    }
}

void removeFile(const QString& path) {
    if (::unlink(encodePath(path).constData()) != 0)
        throw BasicError::fromErrno(errno, path);
}

void makeWritable(const QString& path) {
    const QByteArray name = encodePath(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        throw BasicError::fromErrno(errno, path);
    if (S_ISLNK(st.st_mode))
        return; // a link has no permissions of its own
    if (::chmod(name.constData(), st.st_mode | S_IWUSR) != 0)
        throw BasicError::fromErrno(errno, path);
}

QString currentFolder() {
    // getcwd with a growing buffer: a deep folder may be longer than PATH_MAX.
    QByteArray buffer(4096, Qt::Uninitialized);
    while (::getcwd(buffer.data(), size_t(buffer.size())) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1 << 24))
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return decodePath(QByteArray(buffer.constData()));
}

} // namespace vormelle::platform
