// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/basicerror.h"
#include "platform/process.h"
#include "platform/tempfolder.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vormelle;

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// A process id that belonged to a process which has ended.
pid_t endedProcessId() {
    platform::ChildProcess child(QStringLiteral("/bin/true"), {});
    while (!child.waitFor(std::chrono::milliseconds(100))) {
    }
    return child.pid();
}

QString makeFolder(const QString& base, const QString& name, int mode) {
    const QString path = base + QLatin1Char('/') + name;
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
    QFile f(path + QStringLiteral("/pdf_temp.pdf"));
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write into %s", qPrintable(path));
    return path;
}

} // namespace

class TempFolderTest : public QObject {
    Q_OBJECT
private slots:
    void temporaryLocation_data();
    void temporaryLocation();
    void privateFolder();
    void leftOverFolders();
};

void TempFolderTest::temporaryLocation_data() {
    // "" leaves the variable unset; "folder" names a folder, "missing" nothing, "file" a file.
    QTest::addColumn<QString>("temp");
    QTest::addColumn<QString>("tmpdir");
    QTest::addColumn<QString>("expected"); // TEMP, TMPDIR or a path
    QTest::newRow("TEMP first") << "folder"
                                << "folder"
                                << "TEMP";
    QTest::newRow("then TMPDIR") << ""
                                 << "folder"
                                 << "TMPDIR";
    QTest::newRow("else /tmp, never the root") << ""
                                               << ""
                                               << "/tmp";
    QTest::newRow("TEMP missing: TMPDIR") << "missing"
                                          << "folder"
                                          << "TMPDIR";
    QTest::newRow("TEMP a file: TMPDIR") << "file"
                                         << "folder"
                                         << "TMPDIR";
    QTest::newRow("both missing: /tmp") << "missing"
                                        << "missing"
                                        << "/tmp";
}

void TempFolderTest::temporaryLocation() {
    QFETCH(QString, temp);
    QFETCH(QString, tmpdir);
    QFETCH(QString, expected);
    test::TestEnv env;
    const QByteArray oldTemp = qgetenv("TEMP");
    const QByteArray oldTmpdir = qgetenv("TMPDIR");
    auto set = [&](const char* name, const QString& kind) {
        if (kind.isEmpty()) {
            qunsetenv(name);
            return;
        }
        const QString path = env.path(QString::fromLatin1(name) + QLatin1Char('-') + kind);
        if (kind == QStringLiteral("folder"))
            QDir().mkpath(path);
        else if (kind == QStringLiteral("file"))
            env.writeFile(QFileInfo(path).fileName());
        qputenv(name, QFile::encodeName(path));
    };
    set("TEMP", temp);
    set("TMPDIR", tmpdir);
    const QString location = platform::temporaryLocation();
    const QString fromTemp = QString::fromLocal8Bit(qgetenv("TEMP"));
    const QString fromTmpdir = QString::fromLocal8Bit(qgetenv("TMPDIR"));
    for (const auto& [name, value] : {std::pair{"TEMP", oldTemp}, {"TMPDIR", oldTmpdir}}) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    QCOMPARE(location, expected == QStringLiteral("TEMP")     ? fromTemp
                       : expected == QStringLiteral("TMPDIR") ? fromTmpdir
                                                              : expected);
}

void TempFolderTest::privateFolder() {
    test::TestEnv env;
    const QString outside = env.writeFile(QStringLiteral("outside/keep.txt"), "keep");
    platform::PrivateFolder folder(env.dir(), QStringLiteral("vormelle-run-"));
    QVERIFY(folder.exists());
    QCOMPARE(QFileInfo(folder.path()).absolutePath(), env.dir());
    QVERIFY(QFileInfo(folder.path())
                .fileName()
                .startsWith(QStringLiteral("vormelle-run-%1-").arg(::getpid())));
    QCOMPARE(modeOf(folder.path()), 0700);
    // Links inside go as links: what they point to stays.
    QVERIFY(QFile::link(env.path(QStringLiteral("outside")), folder.path() + "/dir-link"));
    QVERIFY(QFile::link(outside, folder.path() + "/file-link"));
    QDir().mkpath(folder.path() + "/sub/deeper");
    const QString path = folder.path();
    folder.remove();
    QVERIFY(!folder.exists());
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(QFile::exists(outside));

    // Two folders made at once share nothing.
    platform::PrivateFolder a(env.dir(), QStringLiteral("vormelle-run-"));
    platform::PrivateFolder b(env.dir(), QStringLiteral("vormelle-run-"));
    QVERIFY(a.path() != b.path());

    QVERIFY_THROWS_EXCEPTION(
        BasicError,
        platform::PrivateFolder(env.path(QStringLiteral("missing")), QStringLiteral("v-")));
}

void TempFolderTest::leftOverFolders() {
    test::TestEnv env;
    const QString base = env.dir();
    const QString prefix = QStringLiteral("vormelle-run-");
    const pid_t ended = endedProcessId();
    const QString left = makeFolder(base, prefix + QStringLiteral("%1-abcdef").arg(ended), 0700);
    const QString running = makeFolder(base, prefix + QStringLiteral("1-abcdef"), 0700);
    const QString mine =
        makeFolder(base, prefix + QStringLiteral("%1-abcdef").arg(::getpid()), 0700);
    const QString open = makeFolder(base, prefix + QStringLiteral("%1-ghijkl").arg(ended), 0755);
    const QString otherName =
        makeFolder(base, QStringLiteral("vormelle-other-%1-abcdef").arg(ended), 0700);
    const QString badTail = makeFolder(base, prefix + QStringLiteral("%1-abc").arg(ended), 0700);
    // Another user's folder of the same form (only root can make one here).
    const QString foreign = makeFolder(base, prefix + QStringLiteral("%1-othusr").arg(ended), 0700);
    const bool madeForeign = ::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0;
    const QString target = makeFolder(base, QStringLiteral("target"), 0700);
    const QString link = base + QLatin1Char('/') + prefix + QStringLiteral("%1-linkxx").arg(ended);
    QVERIFY(QFile::link(target, link));
    // A maker that still holds its folder (in another process namespace) keeps it.
    const QString held = makeFolder(base, prefix + QStringLiteral("%1-heldxx").arg(ended), 0700);
    const int fd = ::open(QFile::encodeName(held).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX) == 0);

    platform::removeLeftOverFolders(base, prefix);
    ::close(fd);

    QVERIFY(!QFileInfo::exists(left));
    for (const QString& kept : {running, mine, open, otherName, badTail, target, held})
        QVERIFY2(QFileInfo::exists(kept + QStringLiteral("/pdf_temp.pdf")), qPrintable(kept));
    QCOMPARE(QFileInfo::exists(foreign + QStringLiteral("/pdf_temp.pdf")), madeForeign);
    QVERIFY(QFileInfo(link).isSymLink());
}

QTEST_MAIN(TempFolderTest)
#include "tst_tempfolder.moc"
