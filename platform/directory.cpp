#include "platform/directory.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace vormelle::platform {

namespace {

// NTFS compares by its table of upper-case letters, one UTF-16 code unit at a time.
QString upperKey(const QString& name) {
    QString key(name.size(), Qt::Uninitialized);
    QChar* out = key.data();
    for (qsizetype i = 0; i < name.size(); ++i)
        out[i] = QChar(QChar::toUpper(name.at(i).unicode()));
    return key;
}

enum class Kind { Folder, Link, Other };

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

struct RawEntry {
    QByteArray bytes;
    Kind kind;
};

// Every name but "." and "..", with what it is as far as the folder says without following
// links.
QList<RawEntry> readFolder(const QString& folder) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(encodePath(folder).constData()));
    if (!dir)
        throw BasicError::fromErrno(errno, true);
    QList<RawEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir.get());
        if (!e) {
            if (errno != 0)
                throw BasicError::fromErrno(errno, true);
            break;
        }
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))
            continue;
        Kind kind = Kind::Other;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir.get()), n, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_DIR)
            kind = Kind::Folder;
        else if (type == DT_LNK)
            kind = Kind::Link;
        entries.append({QByteArray(n), kind});
    }
    return entries;
}

struct Keyed {
    QString key;
    DirectoryEntry entry;
};

void sortNtfs(QList<Keyed>& items) {
    std::sort(items.begin(), items.end(), [](const Keyed& a, const Keyed& b) {
        const int c = QStringView(a.key).compare(QStringView(b.key));
        return c != 0 ? c < 0 : QStringView(a.entry.name).compare(b.entry.name) < 0;
    });
}

bool matchFrom(QStringView p, QStringView n) {
    // Greedy with one remembered star: linear for the patterns people type.
    qsizetype pi = 0, ni = 0, starP = -1, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == QLatin1Char('*')) {
            starP = pi++;
            starN = ni;
        } else if (pi < p.size() && (p[pi] == QLatin1Char('?') || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (starP >= 0) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == QLatin1Char('*'))
        ++pi;
    return pi == p.size();
}

} // namespace

bool ntfsLess(const QString& a, const QString& b) {
    const int c = QStringView(upperKey(a)).compare(QStringView(upperKey(b)));
    return c != 0 ? c < 0 : a < b;
}

bool wildcardMatch(QStringView pattern, QStringView name) {
    const QString p = upperKey(pattern.toString());
    const QString n = upperKey(name.toString());
    if (matchFrom(p, n))
        return true;
    return p.endsWith(QLatin1String(".*")) && matchFrom(QStringView(p).chopped(2), n);
}

QList<DirectoryEntry> subFolders(const QString& folder) {
    QList<Keyed> items;
    for (RawEntry& raw : readFolder(folder)) {
        if (raw.kind != Kind::Folder)
            continue;
        QString name = decodePath(raw.bytes);
        QString key = upperKey(name);
        items.append({std::move(key), {std::move(raw.bytes), std::move(name)}});
    }
    sortNtfs(items);
    QList<DirectoryEntry> result;
    result.reserve(items.size());
    for (Keyed& k : items)
        result.append(std::move(k.entry));
    return result;
}

QStringList fileNames(const QString& folder, const QString& pattern) {
    const QString upperPattern = upperKey(pattern);
    const bool dotStar = upperPattern.endsWith(QLatin1String(".*"));
    QList<Keyed> items;
    for (RawEntry& raw : readFolder(folder)) {
        if (raw.kind == Kind::Folder)
            continue;
        QString name = decodePath(raw.bytes);
        if (encodePath(name) != raw.bytes)
            continue;
        QString key = upperKey(name);
        if (!matchFrom(upperPattern, key) &&
            !(dotStar && matchFrom(QStringView(upperPattern).chopped(2), key)))
            continue;
        items.append({std::move(key), {QByteArray(), std::move(name)}});
    }
    sortNtfs(items);
    QStringList result;
    result.reserve(items.size());
    for (Keyed& k : items)
        result.append(std::move(k.entry.name));
    return result;
}

} // namespace vormelle::platform
