#include "convert/commands.h"
#include "convert/deploy.h"
#include "convert/runner.h"
#include "platform/basicerror.h"
#include "platform/process.h"
#include "platform/tempfolder.h"
#include "resources/toolfiles.h"
#include "tests/convert/tiffmaker.h"
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

class DeployTest : public QObject {
    Q_OBJECT
private slots:
    void resourcesAreTheLibrariesTheyAreNamedFor();
    void writeIfAbsentNeverReplace();
    void carriedLibrariesAreTheOnesLoaded();
    void firstConverterLimits_data();
    void firstConverterLimits();
    void temporaryLocation_data();
    void temporaryLocation();
    void privateFolder();
    void leftOverFolders();
};

void DeployTest::resourcesAreTheLibrariesTheyAreNamedFor() {
    QStringList names;
    for (const resources::ToolFile& tool : resources::toolFiles()) {
        const QByteArray bytes = resources::customResource(tool.id);
        QVERIFY2(bytes.startsWith("\x7f"
                                  "ELF"),
                 qPrintable(tool.fileName));
        names.append(tool.fileName);
        if (tool.id != 101) {
            // A library names itself (its soname) in its dynamic strings.
            QVERIFY2(bytes.contains(QByteArray('\0' + tool.fileName.toLatin1() + '\0')),
                     qPrintable(tool.fileName));
        }
    }
    QCOMPARE(names.at(0), QStringLiteral("tiff2pdf"));
    QVERIFY(names.at(1).startsWith(QStringLiteral("libjpeg.so.")));
    QVERIFY(names.at(2).startsWith(QStringLiteral("libtiff.so.")));
    QVERIFY(names.at(3).startsWith(QStringLiteral("libz.so.")));
    QVERIFY_THROWS_EXCEPTION(BasicError, resources::customResource(105));
}

void DeployTest::writeIfAbsentNeverReplace() {
    test::TestEnv env;
    const QString folder = env.dir();
    const QString present = env.writeFile(resources::toolFile(101).fileName, "mine");
    ::chmod(QFile::encodeName(present).constData(), 0600);
    convert::writeToolFile(folder, resources::toolFile(101), "resource bytes");
    convert::writeToolFile(folder, resources::toolFile(103), "library bytes");
    QFile kept(present);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("mine"));
    QCOMPARE(modeOf(present), 0600);
    QFile written(convert::toolPath(folder, 103));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("library bytes"));

    // The tool gets its execute bit; the libraries need none.
    QFile::remove(present);
    convert::writeToolFile(folder, resources::toolFile(101), "#!/bin/sh\n");
    QCOMPARE(modeOf(present) & 0100, 0100);
    QCOMPARE(modeOf(convert::toolPath(folder, 103)) & 0111, 0);
}

void DeployTest::carriedLibrariesAreTheOnesLoaded() {
    test::TestEnv env;
    for (const resources::ToolFile& tool : resources::toolFiles())
        convert::writeToolFile(env.dir(), tool, resources::customResource(tool.id));
    // The loader lists what it would load, as ldd does, instead of running the tool.
    convert::Command c = convert::firstConverter(env.dir());
    c.environment.append(std::pair<QByteArray, QByteArray>("LD_TRACE_LOADED_OBJECTS", "1"));
    QByteArray output;
    convert::RunOptions options;
    options.output = &output;
    QCOMPARE(convert::RunAndWait(c, 0, options), 0);
    // The three are loaded from the copies handed over, and never looked for by name.
    for (int fd : {4, 5, 6})
        QVERIFY2(output.contains("/proc/self/fd/" + QByteArray::number(fd) + " ("),
                 output.constData());
    for (int id : {102, 103, 104}) {
        const QString name = resources::toolFile(id).fileName;
        QVERIFY2(!output.contains((name + QStringLiteral(" =>")).toUtf8()), output.constData());
    }
}

void DeployTest::firstConverterLimits_data() {
    QTest::addColumn<bool>("absurd");
    QTest::newRow("1200 dpi colour A4 converts") << false;
    QTest::newRow("absurd dimensions fail cleanly") << true;
}

void DeployTest::firstConverterLimits() {
    QFETCH(bool, absurd);
    test::TestEnv env;
    const QString tools = env.path(QStringLiteral("tools"));
    QDir().mkpath(tools);
    for (const resources::ToolFile& tool : resources::toolFiles())
        convert::writeToolFile(tools, tool, resources::customResource(tool.id));
    const QString tiff = env.path(QStringLiteral("page.tif"));
    if (absurd) {
        test::writeAbsurdTiff(tiff);
    } else {
        // A4 at 1200 dpi: 9921 x 14031 pixels, 400 MiB decoded.
        test::writeTiff(tiff, test::TiffKind::RgbDeflate, 1, 9921, 14031, 1200);
    }
    const QString pdf = env.path(QStringLiteral("out.pdf"));
    convert::Command c = convert::firstConverter(tools);
    c.arguments = convert::firstConverterArguments(tiff, pdf);
    QByteArray output;
    convert::RunOptions options;
    options.output = &output;
    const qint32 result = convert::RunAndWait(c, 0, options);
    if (absurd) {
        QCOMPARE(result, 1);
        QVERIFY2(output.contains("forbidden"), output.constData());
    } else {
        QVERIFY2(result == 0, output.constData());
        QVERIFY(QFileInfo(pdf).size() > 0);
    }
}

void DeployTest::temporaryLocation_data() {
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

void DeployTest::temporaryLocation() {
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

void DeployTest::privateFolder() {
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

void DeployTest::leftOverFolders() {
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

QTEST_MAIN(DeployTest)
#include "tst_deploy.moc"
