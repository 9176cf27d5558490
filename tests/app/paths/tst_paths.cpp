// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/paths/paths.h"
#include "platform/basicerror.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

using namespace vormelle;
using paths::Style;

class PathsTest final : public QObject {
    Q_OBJECT

private slots:
    void splitting_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("folder");
        const int win = int(Style::Windows);
        const int posix = int(Style::Posix);
        QTest::newRow("win file") << win << "C:\\a\\b.tif"
                                  << "b.tif"
                                  << "C:\\a\\";
        QTest::newRow("win bare") << win << "b.tif"
                                  << "b.tif"
                                  << "";
        QTest::newRow("win folder") << win << "C:\\a\\"
                                    << ""
                                    << "C:\\a\\";
        QTest::newRow("win slash is a name") << win << "C:\\a/b.tif"
                                             << "a/b.tif"
                                             << "C:\\";
        QTest::newRow("posix file") << posix << "/a/b.tif"
                                    << "b.tif"
                                    << "/a/";
        QTest::newRow("posix bare") << posix << "b.tif"
                                    << "b.tif"
                                    << "";
        QTest::newRow("posix folder") << posix << "/a/"
                                      << ""
                                      << "/a/";
        QTest::newRow("posix root file") << posix << "/b.tif"
                                         << "b.tif"
                                         << "/";
        QTest::newRow("posix backslash is a name") << posix << "/a\\b.tif"
                                                   << "a\\b.tif"
                                                   << "/";
        QTest::newRow("empty") << posix << ""
                               << ""
                               << "";
    }
    void splitting() {
        QFETCH(int, style);
        QFETCH(QString, path);
        QFETCH(QString, fileName);
        QCOMPARE(paths::FileNameOf(path, Style(style)), fileName);
        QFETCH(QString, folder);
        QCOMPARE(paths::FolderOf(path, Style(style)), folder);
    }

    void stripExtension_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stripped");
        QTest::newRow("two dots") << "a.b.tif"
                                  << "a.b";
        QTest::newRow("only leading dot") << ".tif"
                                          << ".tif";
        QTest::newRow("no dot") << "readme"
                                << "readme";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("trailing dot") << "scan."
                                      << "scan";
        QTest::newRow("dot in folder counts too") << "dir.v1/scan"
                                                  << "dir";
    }
    void stripExtension() {
        QFETCH(QString, name);
        QFETCH(QString, stripped);
        QCOMPARE(paths::StripExtension(name), stripped);
    }

    void cleanPath_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("clean");
        const int win = int(Style::Windows);
        const int posix = int(Style::Posix);
        QTest::newRow("win doubled") << win << "C:\\out\\\\x.djvu"
                                     << "C:\\out\\x.djvu";
        QTest::newRow("win network") << win << "\\\\srv\\share\\\\x"
                                     << "\\\\srv\\share\\x";
        QTest::newRow("win one leading") << win << "\\a"
                                         << "\\\\a";
        QTest::newRow("win three inside") << win << "C:\\a\\\\\\b"
                                          << "C:\\a\\\\b";
        QTest::newRow("win four inside") << win << "C:\\a\\\\\\\\b"
                                         << "C:\\a\\\\b";
        QTest::newRow("win only separators") << win << "\\\\\\\\\\"
                                             << "\\\\";
        QTest::newRow("win drive root join") << win << "D:\\\\p.tif"
                                             << "D:\\p.tif";
        QTest::newRow("win empty") << win << ""
                                   << "";
        QTest::newRow("posix doubled") << posix << "/out//x.djvu"
                                       << "/out/x.djvu";
        QTest::newRow("posix leading run") << posix << "//home/a//x"
                                           << "/home/a/x";
        QTest::newRow("posix one leading") << posix << "/a"
                                           << "/a";
        QTest::newRow("posix three inside") << posix << "/a///b"
                                            << "/a//b";
        QTest::newRow("posix only separators") << posix << "////"
                                               << "/";
        QTest::newRow("posix relative") << posix << "a//b"
                                        << "a/b";
        QTest::newRow("posix empty") << posix << ""
                                     << "";
    }
    void cleanPath() {
        QFETCH(int, style);
        QFETCH(QString, path);
        QFETCH(QString, clean);
        QCOMPARE(paths::CleanPath(path, Style(style)), clean);
    }

    void existence() {
        test::TestEnv env;
        const QString file = env.writeFile(QStringLiteral("a b/scan.tif"));
        QVERIFY(paths::FileExists(file));
        QVERIFY(!paths::IsFolder(file));
        QVERIFY(paths::FileExists(env.path(QStringLiteral("a b"))));
        QVERIFY(paths::IsFolder(env.path(QStringLiteral("a b"))));
        QVERIFY(paths::IsFolder(env.path(QStringLiteral("a b/"))));
        QVERIFY(!paths::FileExists(env.path(QStringLiteral("missing"))));
        QVERIFY(!paths::IsFolder(env.path(QStringLiteral("missing"))));
        QVERIFY(!paths::FileExists(QString()));
        QVERIFY(!paths::IsFolder(QString()));
        QVERIFY(!paths::FileExists(file + QStringLiteral("/below")));
    }

    void saveBytesNeverReplaces() {
        test::TestEnv env;
        const QByteArray old(5000, 'o');
        const QString file = env.writeFile(QStringLiteral("tool"), old);
        paths::SaveBytesToFile("new", file);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), old);
    }

    void saveBytesWritesExactly() {
        test::TestEnv env;
        const QString file = env.path(QStringLiteral("tool"));
        const QByteArray bytes("\x00\x01\xffzz", 5);
        paths::SaveBytesToFile(bytes, file, true);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), bytes);
        QVERIFY(QFileInfo(file).isExecutable());
    }

    void saveBytesIntoMissingFolderThrowsPathNotFound() {
        test::TestEnv env;
        try {
            paths::SaveBytesToFile("x", env.path(QStringLiteral("no/such/tool")));
            QFAIL("no error");
        } catch (const BasicError& e) {
            QCOMPARE(e.number(), int(BasicError::PathNotFound));
        }
    }

    void deleteQuietly() {
        test::TestEnv env;
        paths::DeleteFileQuietly(env.path(QStringLiteral("missing"))); // no error, no message
        const QString file = env.writeFile(QStringLiteral("read-only"));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0400) == 0);
        paths::DeleteFileQuietly(file);
        QVERIFY(!paths::FileExists(file));
    }

    void programFolderOverride() {
        paths::setProgramFolder(QStringLiteral("/opt/vormelle"));
        QCOMPARE(paths::programFolder(), QStringLiteral("/opt/vormelle"));
        paths::setProgramFolder(QString());
        QCOMPARE(paths::programFolder(), QCoreApplication::applicationDirPath());
    }
};

QTEST_GUILESS_MAIN(PathsTest)
#include "tst_paths.moc"
