// SPDX-License-Identifier: GPL-3.0-or-later
// The folder scan: sub-folders level by level, files by pattern, and the probes it relies on.
#include "inputs/addfolder.h"
#include "platform/basicerror.h"
#include "tests/inputs/foldertree.h"
#include "tests/support/permissionbits.h"

#include <QFileInfo>

using namespace vormelle;
using test::Window;

class AddFolderTest : public QObject {
    Q_OBJECT
private slots:
    void levelOrder_data();
    void levelOrder();
    void subFolderNames_data();
    void subFolderNames();
    void linksAreNotEntered();
    void unreadableFoldersAreDropped();
    void longPathsAreNotWalked();
    void rootIsWalked();
    void listFiles_data();
    void listFiles();
    void listFilesGrowsPastHundred();
    void listFilesOfMissingFolderThrows();
    void folderRows_data();
    void folderRows();
    void fileExistsStrict_data();
    void fileExistsStrict();
    void unsafeCharacters_data();
    void unsafeCharacters();
    void loneSurrogateIsUnsafe();
};

void AddFolderTest::levelOrder_data() {
    QTest::addColumn<bool>("recursive");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all levels") << true << QStringList{"A/", "A/b/", "A/c/", "A/b/d/", "A/c/e/"};
    QTest::newRow("one level") << false << QStringList{"A/", "A/b/", "A/c/"};
}

void AddFolderTest::levelOrder() {
    QFETCH(bool, recursive);
    QFETCH(QStringList, expected);
    Window w;
    // Made deepest and last-named first, so the order cannot come from the making.
    w.make({"A/c/e/", "A/b/d/", "A/c/x.tif", "A/b/y.tif"});
    QStringList folders{w.path("A/")};
    addfolder::GetSubDirectories2016(w.form, folders, recursive);
    QCOMPARE(folders, w.paths(expected));

    QStringList leaf{w.path("A/b/d/")};
    addfolder::GetSubDirectories2016(w.form, leaf, true);
    QCOMPARE(leaf, w.paths({"A/b/d/"}));
    QVERIFY(w.dialogs.boxes.isEmpty());
}

void AddFolderTest::subFolderNames_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("entered");
    QTest::newRow("plain") << QByteArray("scans") << true;
    QTest::newRow("hidden") << QByteArray(".cache") << true;
    QTest::newRow("accented") << QByteArray("\xc3\xa9t\xc3\xa9") << true;
    QTest::newRow("beyond the first plane") << QByteArray("\xf0\x9f\x93\x81") << true;
    QTest::newRow("no-break space (160)") << QByteArray("a\xc2\xa0"
                                                        "b")
                                          << true;
    QTest::newRow("control character") << QByteArray("a\x01"
                                                     "b")
                                       << false;
    QTest::newRow("DEL (127)") << QByteArray("a\x7f"
                                             "b")
                               << false;
    QTest::newRow("C1 control (133)") << QByteArray("a\xc2\x85"
                                                    "b")
                                      << false;
    QTest::newRow("question mark") << QByteArray("why?") << false;
    QTest::newRow("not UTF-8") << QByteArray("caf\xe9") << false;
}

void AddFolderTest::subFolderNames() {
    QFETCH(QByteArray, name);
    QFETCH(bool, entered);
    Window w;
    w.make({"A/"});
    const QByteArray full = QFile::encodeName(w.path("A/")) + name;
    QVERIFY(::mkdir(full.constData(), 0755) == 0);
    QStringList folders{w.path("A/")};
    addfolder::GetSubDirectories2016(w.form, folders, true);
    QCOMPARE(folders.size(), entered ? 2 : 1);
    if (entered)
        QCOMPARE(QFile::encodeName(folders.at(1)), full + '/');
}

void AddFolderTest::linksAreNotEntered() {
    Window w;
    w.make({"A/b/", "A/b/x.tif"});
    // A link back to the top would repeat the tree until the paths grew too long.
    QVERIFY(QFile::link(w.path("A"), w.path("A/b/loop")));
    QVERIFY(QFile::link(w.path("A/b"), w.path("A/alias")));
    QStringList folders{w.path("A/")};
    addfolder::GetSubDirectories2016(w.form, folders, true);
    QCOMPARE(folders, w.paths({"A/", "A/b/"}));

    // A folder the user names is walked even when it is a link itself.
    QStringList named{w.path("A/alias/")};
    addfolder::GetSubDirectories2016(w.form, named, true);
    QCOMPARE(named, w.paths({"A/alias/"}));
    QStringList viaLink{w.path("A/b/loop/")};
    addfolder::GetSubDirectories2016(w.form, viaLink, true);
    QCOMPARE(viaLink, w.paths({"A/b/loop/", "A/b/loop/b/"}));
}

void AddFolderTest::unreadableFoldersAreDropped() {
    Window w;
    w.make({"A/b/d/", "A/c/e/", "X/y/"});
    QVERIFY(test::setMode(w.path("A/b"), 0));
    QVERIFY(test::setMode(w.path("X"), 0311)); // enterable, not readable
    QStringList folders{w.path("A/")};
    QStringList closed{w.path("X/")};
    {
        test::PermissionBitsApply bits;
        if (!bits.active())
            QSKIP("permission bits cannot be made to apply here");
        addfolder::GetSubDirectories2016(w.form, folders, true);
        addfolder::GetSubDirectories2016(w.form, closed, true);
    }
    QVERIFY(test::setMode(w.path("A/b"), 0755));
    QVERIFY(test::setMode(w.path("X"), 0755));
    // The rest of the scan completes; the closed folders are gone with no message.
    QCOMPARE(folders, w.paths({"A/", "A/c/", "A/c/e/"}));
    QCOMPARE(closed, QStringList());
    QVERIFY(w.dialogs.boxes.isEmpty());
}

void AddFolderTest::longPathsAreNotWalked() {
    Window w;
    const QString top = w.path("A/");
    // Grow the path past 259 characters with names the system allows (at most 255 bytes).
    QString deep = top;
    QStringList expected{top};
    while (deep.size() < addfolder::kMaxPath) {
        deep +=
            QString(120, QLatin1Char('n')) + QString::number(expected.size()) + QLatin1Char('/');
        expected.append(deep);
    }
    QVERIFY(QDir().mkpath(deep + QStringLiteral("below")));
    QStringList folders{top};
    addfolder::GetSubDirectories2016(w.form, folders, true);
    // The long folder itself is listed (its files count), but nothing below it is looked for.
    QCOMPARE(folders, expected);
}

void AddFolderTest::rootIsWalked() {
    Window w;
    QStringList folders{QStringLiteral("//")};
    addfolder::GetSubDirectories2016(w.form, folders, false);
    QVERIFY(folders.size() > 1);
    QCOMPARE(folders.front(), QStringLiteral("//"));
    QVERIFY(folders.contains(QStringLiteral("//tmp/")));
    for (const QString& f : std::as_const(folders).mid(1))
        QVERIFY2(!QFileInfo(f.chopped(1)).isSymLink(), qPrintable(f));
}

void AddFolderTest::listFiles_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected");
    // "b\xe9.tif" is not UTF-8: its text holds the byte as U+DCE9, which sorts after ".".
    const QString undecodable = QStringLiteral("b") + QChar(0xdce9) + QStringLiteral(".tif");
    QTest::newRow("*.tif*") << "*.tif*" << QStringList{".hidden.tif", "a.tif", "b.TIFF",
                                                       undecodable,   "l.tif", "~x.tif"};
    QTest::newRow("*.*") << "*.*" << QStringList{".hidden.tif", "a.tif", "b.TIFF", undecodable,
                                                 "c.jpg",       "l.tif", "README", "~x.tif"};
    QTest::newRow("*.jpg") << "*.jpg" << QStringList{"c.jpg"};
    QTest::newRow("no match") << "*.txt" << QStringList();
}

void AddFolderTest::listFiles() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, expected);
    Window w;
    w.make({"d/a.tif", "d/b.TIFF", "d/c.jpg", "d/README", "d/.hidden.tif", "d/~x.tif",
            "d/folder.tif/"});
    QVERIFY(QFile::link(w.path("d/a.tif"), w.path("d/l.tif")));
    QVERIFY(QFile::link(w.path("d/gone"), w.path("d/broken.tif")));
    QVERIFY(test::makeFifo(w.path("d/pipe.tif"))); // opening it would wait for a writer
    // Bytes that are not UTF-8: listed, and the name gives the same bytes back.
    const QByteArray undecodable = QFile::encodeName(w.path("d/")) + "b\xe9.tif";
    FILE* file = ::fopen(undecodable.constData(), "w");
    QVERIFY(file);
    ::fclose(file);
    QCOMPARE(addfolder::ListFilesInFolder(w.path("d"), pattern), expected);
    QCOMPARE(addfolder::ListFilesInFolder(w.path("d/"), pattern), expected);
    for (const QString& name : std::as_const(expected))
        QVERIFY2(addfolder::FileExistsStrict(w.path("d/") + name), qPrintable(name));
}

void AddFolderTest::folderRows_data() {
    QTest::addColumn<QString>("folder"); // under the scratch folder
    QTest::newRow("plain") << "d";
    QTest::newRow("trailing slash") << "d/";
    QTest::newRow("doubled slash") << "/d/";
}

// The one rule of "Add All", a drop and --convert: "~" names and plain hidden files are left
// out; a hidden file that is read-only or a link is not plain, and stays.
void AddFolderTest::folderRows() {
    QFETCH(QString, folder);
    Window w;
    w.make({"d/a.tif", "d/~lock.tif", "d/.plain.tif", "d/.readonly.tif", "d/b~.tif"});
    QVERIFY(QFile::setPermissions(w.path("d/.readonly.tif"), QFile::ReadOwner));
    QVERIFY(QFile::link(w.path("d/a.tif"), w.path("d/.link.tif")));
    const QString listed = w.path(QString()) + folder;
    const QStringList rows =
        addfolder::folderRows(listed, addfolder::listFilesWithAttributes(listed, "*.*"));
    const QString d = w.path("d");
    QCOMPARE(rows,
             (QStringList{d + "/.link.tif", d + "/.readonly.tif", d + "/a.tif", d + "/b~.tif"}));
}

void AddFolderTest::listFilesGrowsPastHundred() {
    Window w;
    QStringList expected;
    for (int i = 150; i >= 1; --i)
        w.make({QStringLiteral("d/scan%1.tif").arg(i, 3, 10, QLatin1Char('0'))});
    for (int i = 1; i <= 150; ++i)
        expected.append(QStringLiteral("scan%1.tif").arg(i, 3, 10, QLatin1Char('0')));
    QCOMPARE(addfolder::ListFilesInFolder(w.path("d"), QStringLiteral("*.tif*")), expected);
}

void AddFolderTest::listFilesOfMissingFolderThrows() {
    Window w;
    try {
        addfolder::ListFilesInFolder(w.path("missing"), QStringLiteral("*.*"));
        QFAIL("no error");
    } catch (const BasicError& e) {
        QCOMPARE(e.number(), int(BasicError::PathNotFound));
    }
}

void AddFolderTest::fileExistsStrict_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("exists");
    QTest::newRow("file") << "file" << true;
    QTest::newRow("hidden read-only file") << "readonly" << true;
    QTest::newRow("link to file") << "filelink" << true;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("folder with slash") << "folder/" << false;
    QTest::newRow("broken link") << "broken" << false;
    QTest::newRow("FIFO") << "fifo" << false;
    QTest::newRow("device") << "device" << false;
    QTest::newRow("missing") << "missing" << false;
    QTest::newRow("empty") << "empty" << false;
    QTest::newRow("in a closed folder") << "closed" << false;
}

void AddFolderTest::fileExistsStrict() {
    QFETCH(QString, kind);
    QFETCH(bool, exists);
    Window w;
    w.make({"f.tif", ".ro.tif", "dir/", "closed/f.tif"});
    QVERIFY(test::setMode(w.path(".ro.tif"), 0444));
    QVERIFY(QFile::link(w.path("f.tif"), w.path("link.tif")));
    QVERIFY(QFile::link(w.path("gone"), w.path("broken.tif")));
    QVERIFY(test::makeFifo(w.path("pipe.tif")));
    QVERIFY(test::setMode(w.path("closed"), 0));
    const QMap<QString, QString> paths{
        {"file", w.path("f.tif")},         {"readonly", w.path(".ro.tif")},
        {"filelink", w.path("link.tif")},  {"folder", w.path("dir")},
        {"folder/", w.path("dir/")},       {"broken", w.path("broken.tif")},
        {"fifo", w.path("pipe.tif")},      {"device", "/dev/null"},
        {"missing", w.path("no.tif")},     {"empty", ""},
        {"closed", w.path("closed/f.tif")}};
    bool result = false;
    {
        test::PermissionBitsApply bits;
        if (kind == QLatin1String("closed") && !bits.active())
            QSKIP("permission bits cannot be made to apply here");
        result = addfolder::FileExistsStrict(paths.value(kind));
    }
    QVERIFY(test::setMode(w.path("closed"), 0755));
    QCOMPARE(result, exists);
}

void AddFolderTest::unsafeCharacters_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("unsafe");
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("plain") << QByteArray("scan 01.tif") << false;
    QTest::newRow("accented") << QByteArray("\xc3\xa9t\xc3\xa9") << false;
    QTest::newRow("160") << QByteArray("\xc2\xa0") << false;
    QTest::newRow("beyond the first plane") << QByteArray("\xf0\x9f\x93\x81") << false;
    QTest::newRow("tab") << QByteArray("a\tb") << true;
    QTest::newRow("31") << QByteArray("\x1f") << true;
    QTest::newRow("question mark") << QByteArray("a?b") << true;
    QTest::newRow("127") << QByteArray("\x7f") << true;
    QTest::newRow("159") << QByteArray("\xc2\x9f") << true;
    QTest::newRow("not UTF-8") << QByteArray("caf\xe9") << true;
    QTest::newRow("UTF-8 of a surrogate") << QByteArray("\xed\xa0\x80") << true;
}

void AddFolderTest::unsafeCharacters() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, unsafe);
    QCOMPARE(addfolder::HasUnsafeCharacters(bytes), unsafe);
    // The text form agrees wherever the bytes are text at all.
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes)
        QCOMPARE(addfolder::HasUnsafeCharacters(text), unsafe);
}

void AddFolderTest::loneSurrogateIsUnsafe() {
    // No byte sequence stands for it, so no file can carry it.
    QVERIFY(addfolder::HasUnsafeCharacters(QStringLiteral("a") + QChar(0xd800)));
    QVERIFY(!addfolder::HasUnsafeCharacters(QString::fromUtf8("\xf0\x9f\x93\x81")));
}

QTEST_MAIN(AddFolderTest)
#include "tst_addfolder.moc"
