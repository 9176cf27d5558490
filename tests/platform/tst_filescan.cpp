// SPDX-License-Identifier: GPL-3.0-or-later
// File attributes, wildcards and folder listings as the folder scan sees them.
#include "platform/attributes.h"
#include "platform/basicerror.h"
#include "platform/directory.h"
#include "platform/filesystem.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vormelle;

namespace {

void makeFifo(const QString& path) {
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
}

// A bound socket leaves its name in the folder; the descriptor is not needed afterwards.
void makeSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(size_t(name.size()) < sizeof(addr.sun_path));
    memcpy(addr.sun_path, name.constData(), size_t(name.size()));
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0);
    ::close(fd);
}

void chmodPath(const QString& path, mode_t mode) {
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
}

QStringList fileNames(const QString& folder, const QString& pattern) {
    QStringList result;
    for (const auto& f : platform::files(folder, pattern))
        result.append(f.name);
    return result;
}

QStringList names(const QList<platform::DirectoryEntry>& entries) {
    QStringList result;
    for (const auto& e : entries)
        result.append(e.name);
    return result;
}

} // namespace

class FileScanTest : public QObject {
    Q_OBJECT
private slots:
    void attributes_data();
    void attributes();
    void attributeErrors();
    void rootFolder_data();
    void rootFolder();
    void wildcards_data();
    void wildcards();
    void ntfsOrder();
    void listingAttributesAgree();
};

void FileScanTest::attributes_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");
    QTest::newRow("file") << "file"
                          << "a.tif" << 32;
    QTest::newRow("hidden file") << "file"
                                 << ".DS_Store" << 34;
    QTest::newRow("hidden read-only file") << "readonly"
                                           << ".scan.tif" << 35;
    QTest::newRow("read-only file") << "readonly"
                                    << "a.tif" << 33;
    QTest::newRow("folder") << "folder"
                            << "scans" << 16;
    QTest::newRow("hidden folder") << "folder"
                                   << ".cache" << 18;
    QTest::newRow("FIFO") << "fifo"
                          << "pipe" << 4;
    QTest::newRow("socket") << "socket"
                            << "sock" << 4;
    QTest::newRow("link to file") << "filelink"
                                  << "l.tif" << 1024 + 32;
    QTest::newRow("link to folder") << "folderlink"
                                    << "up" << 1024 + 16;
    QTest::newRow("hidden link to folder") << "folderlink"
                                           << ".up" << 1024 + 16 + 2;
    QTest::newRow("broken link") << "broken"
                                 << "gone" << 1024;
}

void FileScanTest::attributes() {
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(int, expected);
    test::TestEnv env;
    const QString path = env.path(name);
    const QString target = env.writeFile(QStringLiteral("target.tif"));
    if (kind == QLatin1String("file") || kind == QLatin1String("readonly"))
        env.writeFile(name);
    if (kind == QLatin1String("readonly"))
        chmodPath(path, 0444);
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    if (kind == QLatin1String("fifo"))
        makeFifo(path);
    if (kind == QLatin1String("socket"))
        makeSocket(path);
    if (kind == QLatin1String("filelink"))
        QVERIFY(QFile::link(target, path));
    if (kind == QLatin1String("folderlink"))
        QVERIFY(QFile::link(env.dir(), path));
    if (kind == QLatin1String("broken"))
        QVERIFY(QFile::link(env.path(QStringLiteral("nothing")), path));

    QCOMPARE(platform::fileAttributes(path), expected);
    if (kind == QLatin1String("folder")) // a folder given with its trailing "/" is the same
        QCOMPARE(platform::fileAttributes(path + QLatin1Char('/')), expected);
}

void FileScanTest::attributeErrors() {
    test::TestEnv env;
    const auto numberFor = [](const QString& path) {
        try {
            platform::fileAttributes(path);
        } catch (const BasicError& e) {
            return e.number();
        }
        return 0;
    };
    QCOMPARE(numberFor(env.path(QStringLiteral("missing.tif"))), int(BasicError::FileNotFound));
    QCOMPARE(numberFor(env.path(QStringLiteral("nofolder/missing.tif"))),
             int(BasicError::PathNotFound));
    const QString file = env.writeFile(QStringLiteral("a.tif"));
    QCOMPARE(numberFor(file + QStringLiteral("/x")), int(BasicError::PathNotFound));
    QCOMPARE(numberFor(QString()), int(BasicError::FileNotFound));
}

void FileScanTest::rootFolder_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("root");
    QTest::newRow("/") << "/" << true;
    QTest::newRow("//") << "//" << true;
    QTest::newRow("/tmp/..") << "/tmp/.." << true;
    QTest::newRow("/tmp") << "/tmp" << false;
    QTest::newRow("/tmp/") << "/tmp/" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("relative") << "tmp/.." << false;
}

void FileScanTest::rootFolder() {
    QFETCH(QString, path);
    QFETCH(bool, root);
    QCOMPARE(platform::isRootFolder(path), root);
}

void FileScanTest::wildcards_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("*.tif* .tif") << "*.tif*"
                                 << "a.tif" << true;
    QTest::newRow("*.tif* .tiff") << "*.tif*"
                                  << "a.tiff" << true;
    QTest::newRow("*.tif* .TIF") << "*.tif*"
                                 << "SCAN0001.TIF" << true;
    QTest::newRow("*.tif* .jpg") << "*.tif*"
                                 << "c.jpg" << false;
    QTest::newRow("*.tif* tif without dot") << "*.tif*"
                                            << "atif" << false;
    QTest::newRow("*.tif* inner dots") << "*.tif*"
                                       << "a.b.tif" << true;
    QTest::newRow("*.* no dot") << "*.*"
                                << "README" << true;
    QTest::newRow("*.* dotted") << "*.*"
                                << "a.b.c" << true;
    QTest::newRow("*.* leading dot") << "*.*"
                                     << ".hidden" << true;
    QTest::newRow("*.txt") << "*.txt"
                           << "notes.TXT" << true;
    QTest::newRow("*.txt is not *.txt*") << "*.txt"
                                         << "notes.txt.bak" << false;
    QTest::newRow("? one character") << "a?.tif"
                                     << "ab.tif" << true;
    QTest::newRow("? not zero characters") << "a?.tif"
                                           << "a.tif" << false;
    QTest::newRow("? not two characters") << "a?.tif"
                                          << "abc.tif" << false;
    QTest::newRow("star backtracks") << "*a*b"
                                     << "xaxxab" << true;
    QTest::newRow("a.* without extension") << "a.*"
                                           << "a" << true;
    QTest::newRow("non-ASCII case") << "*.tif"
                                    << "\u00e9t\u00e9.TIF" << true;
    QTest::newRow("non-ASCII letters fold") << "\u00e9*"
                                            << "\u00c9t\u00e9.tif" << true;
    QTest::newRow("slash never matches a name") << "*./x"
                                                << "a.b" << false;
}

void FileScanTest::wildcards() {
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(platform::wildcardMatch(pattern, name), matches);
}

void FileScanTest::ntfsOrder() {
    test::TestEnv env;
    // Upper-casing puts "_" (95) after the letters (65..90); lower-casing would put it first.
    const QStringList created{QStringLiteral("_x.tif"), QStringLiteral("b.tif"),
                              QStringLiteral("Z.tif"),  QStringLiteral("a.tif"),
                              QStringLiteral("A.tif"),  QStringLiteral("[.tif"),
                              QStringLiteral("B2.tif")};
    for (const QString& name : created)
        env.writeFile(name);
    const QStringList expected{QStringLiteral("A.tif"), QStringLiteral("a.tif"),
                               QStringLiteral("b.tif"), QStringLiteral("B2.tif"),
                               QStringLiteral("Z.tif"), QStringLiteral("[.tif"),
                               QStringLiteral("_x.tif")};
    QCOMPARE(fileNames(env.dir(), QStringLiteral("*.*")), expected);

    for (const QString& name : created)
        QVERIFY(QDir().mkpath(env.path(QStringLiteral("d/") + name.chopped(4))));
    QStringList folders = expected;
    for (QString& f : folders)
        f.chop(4);
    QCOMPARE(names(platform::subFolders(env.path(QStringLiteral("d")))), folders);
}

void FileScanTest::listingAttributesAgree() {
    test::TestEnv env;
    for (const char* name : {"plain.tif", ".hidden.tif", ".ro.tif", "ro.tif"})
        env.writeFile(QString::fromLatin1(name));
    chmodPath(env.path(QStringLiteral(".ro.tif")), 0444);
    chmodPath(env.path(QStringLiteral("ro.tif")), 0400);
    QVERIFY(QFile::link(env.path(QStringLiteral("ro.tif")), env.path(QStringLiteral("l.tif"))));
    QVERIFY(QFile::link(env.path(QStringLiteral("ro.tif")), env.path(QStringLiteral(".l.tif"))));
    const QList<platform::FileEntry> listed = platform::files(env.dir(), QStringLiteral("*"));
    QCOMPARE(listed.size(), 6);
    // The listing's single look gives what reading each file's attributes by path gives.
    for (const platform::FileEntry& file : listed)
        QCOMPARE(file.attributes, platform::fileAttributes(env.path(file.name)));
}

QTEST_GUILESS_MAIN(FileScanTest)
#include "tst_filescan.moc"
