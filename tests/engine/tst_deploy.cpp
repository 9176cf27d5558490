// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/commands.h"
#include "engine/deploy.h"
#include "engine/runner.h"
#include "platform/basicerror.h"
#include "platform/process.h"
#include "resources/toolfiles.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vormelle;

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
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
    engine::writeToolFile(folder, resources::toolFile(101), "resource bytes");
    engine::writeToolFile(folder, resources::toolFile(103), "library bytes");
    QFile kept(present);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("mine"));
    QCOMPARE(modeOf(present), 0600);
    QFile written(engine::toolPath(folder, 103));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("library bytes"));

    // The tool gets its execute bit; the libraries need none.
    QFile::remove(present);
    engine::writeToolFile(folder, resources::toolFile(101), "#!/bin/sh\n");
    QCOMPARE(modeOf(present) & 0100, 0100);
    QCOMPARE(modeOf(engine::toolPath(folder, 103)) & 0111, 0);
}

void DeployTest::carriedLibrariesAreTheOnesLoaded() {
    test::TestEnv env;
    for (const resources::ToolFile& tool : resources::toolFiles())
        engine::writeToolFile(env.dir(), tool, resources::customResource(tool.id));
    // The loader lists what it would load, as ldd does, instead of running the tool.
    engine::Command c = engine::firstConverter(env.dir());
    c.environment.append(std::pair<QByteArray, QByteArray>("LD_TRACE_LOADED_OBJECTS", "1"));
    QByteArray output;
    engine::RunOptions options;
    options.output = &output;
    QCOMPARE(engine::RunAndWait(c, 0, options), 0);
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
        engine::writeToolFile(tools, tool, resources::customResource(tool.id));
    const QString tiff = env.path(QStringLiteral("page.tif"));
    if (absurd) {
        test::writeAbsurdTiff(tiff);
    } else {
        // A4 at 1200 dpi: 9921 x 14031 pixels, 400 MiB decoded.
        test::writeTiff(tiff, test::TiffKind::RgbDeflate, 1, 9921, 14031, 1200);
    }
    const QString pdf = env.path(QStringLiteral("out.pdf"));
    engine::Command c = engine::firstConverter(tools);
    c.arguments = engine::firstConverterArguments(tiff, pdf);
    QByteArray output;
    engine::RunOptions options;
    options.output = &output;
    const qint32 result = engine::RunAndWait(c, 0, options);
    if (absurd) {
        QCOMPARE(result, 1);
        QVERIFY2(output.contains("forbidden"), output.constData());
    } else {
        QVERIFY2(result == 0, output.constData());
        QVERIFY(QFileInfo(pdf).size() > 0);
    }
}

QTEST_MAIN(DeployTest)
#include "tst_deploy.moc"
