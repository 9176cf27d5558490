// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile names through every way into the list and through a real conversion run: nothing is
// executed, nothing blocks, what can be converted is, and the rest is named in the closing box.
// Runs held to the permission bits (ctest starts it through unprivileged.sh), so they mean
// something also under root.
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/listview.h"
#include "engine/checks.h"
#include "inputs/dragdrop.h"
#include "platform/filesystem.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/widgets.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTest>
#include <QUrl>

#include <clocale>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace vormelle;
using platform::decodePath;
using platform::encodePath;
using test::RunFixture;

namespace {

QString text(const QByteArray& bytes) {
    return decodePath(bytes);
}

QString gScratch; // the test's scratch folder, for files under plain names

// A TIFF under any name: libtiff is handed a plain name, the system the real one.
void writeTiffAt(const QString& path, int pages) {
    const QString plain = gScratch + QStringLiteral("/plain.tif");
    test::writeTiff(plain, test::TiffKind::BitonalG4, pages);
    QVERIFY2(::rename(QFile::encodeName(plain).constData(), encodePath(path).constData()) == 0,
             encodePath(path).constData());
}

bool makeFolder(const QString& path) {
    return ::mkdir(encodePath(path).constData(), 0755) == 0;
}

// The DjVu pages of a file under any name.
std::optional<int> djvuPages(const QString& path, const QString& scratch) {
    const QString copy = scratch + QStringLiteral("/check.djvu");
    QFile::remove(copy);
    const int in = ::open(encodePath(path).constData(), O_RDONLY);
    if (in < 0)
        return std::nullopt;
    QFile out(copy);
    QByteArray bytes;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(in, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    ::close(in);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return std::nullopt;
    out.close();
    return engine::djvuPageCount(copy);
}

QString beside(const QString& input) {
    const qsizetype dot = input.lastIndexOf(QLatin1Char('.'));
    return input.left(dot) + QStringLiteral(".djvu");
}

// Anything named PWNED anywhere we can look: a name that was run as a command made it.
QStringList pwned(const QStringList& places) {
    QStringList found;
    for (const QString& place : places) {
        QDirIterator it(place,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (it.fileName() == QLatin1String("PWNED"))
                found.append(path);
        }
    }
    return found;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}

// Qt cannot remove what it cannot name: the scratch tree goes by its bytes.
void removeTree(const QString& folder, const QString& closed) {
    ::chmod(encodePath(closed).constData(), 0755);
    ::nftw(encodePath(folder).constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

struct Tree {
    QString root;
    QMap<QString, int> convertible; // full path -> pages
    QStringList failing;            // full paths the box must name
};

// A folder whose own name is hostile, holding TIFFs under hostile names, things that are no
// files, a file and a folder without permission, and a folder the scan does not enter.
Tree hostileTree(const QString& scratch) {
    Tree t;
    gScratch = scratch;
    t.root = scratch + QStringLiteral("/in $HOME $(touch PWNED) `touch PWNED`; 'q' \"d\" -x");
    QDir().mkpath(t.root);
    const QString r = t.root + QLatin1Char('/');
    const QStringList plain{QStringLiteral("$(touch PWNED).tif"),
                            QStringLiteral("`touch PWNED`.tif"),
                            QStringLiteral("a; touch PWNED; b.tif"),
                            QStringLiteral("-o.tif"),
                            QStringLiteral("--help.tif"),
                            QStringLiteral("new\nline.tif"),
                            QStringLiteral("q'\"uote.tif"),
                            QStringLiteral("back\\slash\\.tif"),
                            QStringLiteral("ünïcödé 文字.tif"),
                            QString(246, QLatin1Char('n')) + QStringLiteral(".tif")};
    for (const QString& name : plain)
        t.convertible.insert(r + name, 1);
    t.convertible.insert(r + text("bad\xff\xfe name.tif"), 3);
    // 255 bytes: the result's name would be 256, more than a name can hold.
    t.failing.append(r + QString(251, QLatin1Char('L')) + QStringLiteral(".tif"));
    t.failing.append(r + QStringLiteral("locked.tif"));
    for (auto it = t.convertible.cbegin(); it != t.convertible.cend(); ++it)
        writeTiffAt(it.key(), it.value());
    for (const QString& path : std::as_const(t.failing))
        writeTiffAt(path, 1);
    ::chmod(encodePath(r + QStringLiteral("locked.tif")).constData(), 0);

    // Never rows: they are not regular files, or lie where the scan does not go.
    ::mkfifo(encodePath(r + QStringLiteral("pipe.tif")).constData(), 0644);
    QFile::link(QStringLiteral("/dev/zero"), r + QStringLiteral("zero.tif"));
    QFile::link(r + QStringLiteral("loop.tif"), r + QStringLiteral("loop.tif"));
    QFile::link(t.root, r + QStringLiteral("again"));
    makeFolder(r + QStringLiteral("closed"));
    writeTiffAt(r + QStringLiteral("closed/inside.tif"), 1);
    ::chmod(encodePath(r + QStringLiteral("closed")).constData(), 0);
    makeFolder(r + text("dir\xff"));
    writeTiffAt(r + text("dir\xff/x.tif"), 1);
    return t;
}

QMimeData* dropOf(const QStringList& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls.append(QUrl::fromEncoded("file://" + encodePath(p).toPercentEncoding("/")));
    data->setUrls(urls);
    return data;
}

void verifyRun(RunFixture& f, const Tree& t, const QStringList& places) {
    const QString box = f.lastBox();
    for (auto it = t.convertible.cbegin(); it != t.convertible.cend(); ++it) {
        QCOMPARE(djvuPages(beside(it.key()), f.env.dir()), std::optional<int>(it.value()));
        QVERIFY2(!box.contains(QFileInfo(it.key()).fileName()), qPrintable(box));
    }
    const QString count = QStringLiteral("%1 of %2 file(s) could not be converted:")
                              .arg(t.failing.size())
                              .arg(t.failing.size() + t.convertible.size());
    QVERIFY2(box.startsWith(QStringLiteral("Done.\r\n\r\n") + count), qPrintable(box));
    for (const QString& path : t.failing) {
        const QString line = QFileInfo(path).fileName() + QStringLiteral(": ");
        QVERIFY2(box.contains(line), qPrintable(box));
        QVERIFY(!QFile::exists(beside(path)));
    }
    // Named before converting: the file system cannot hold the result's name.
    QVERIFY2(box.contains(QStringLiteral(
                 "the result's name would be 256 bytes long, more than the 255 its folder allows")),
             qPrintable(box));
    QCOMPARE(pwned(places), QStringList());
    QCOMPARE(f.leftInTemp(), QStringList());
}

// Runs the conversion beside the originals from the scratch folder, as the working folder a
// command would run in.
void convertBeside(RunFixture& f) {
    f.form->Option2->setChecked(true);
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(f.env.dir());
    f.start();
    QDir::setCurrent(cwd);
}

} // namespace

class HostileNamesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // Where the bits do not hold (root with its overrides), the cases below would prove
        // nothing: a file nobody may read must not open.
        const QByteArray probe = QDir::tempPath().toLocal8Bit() + "/vormelle-bits-XXXXXX";
        QByteArray name = probe;
        const int fd = ::mkstemp(name.data());
        QVERIFY(fd >= 0);
        ::close(fd);
        ::chmod(name.constData(), 0);
        const int readable = ::open(name.constData(), O_RDONLY);
        if (readable >= 0)
            ::close(readable);
        ::unlink(name.constData());
        QVERIFY2(readable < 0, "run through ctest, which holds the test to the permission bits");
    }

    // The program's locale decides nothing: a C locale converts the same names as a UTF-8 one.
    void scanAndConvert_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QByteArray>("locale");
        QTest::newRow("Add All") << "addall" << QByteArray("C.UTF-8");
        QTest::newRow("Add All, C locale") << "addall" << QByteArray("C");
        QTest::newRow("drag and drop") << "drop" << QByteArray("C.UTF-8");
    }
    void scanAndConvert() {
        QFETCH(QString, way);
        QFETCH(QByteArray, locale);
        const std::string previous = std::setlocale(LC_ALL, nullptr);
        QVERIFY(std::setlocale(LC_ALL, locale.constData()));
        const auto restore = qScopeGuard([&] { std::setlocale(LC_ALL, previous.c_str()); });
        RunFixture f;
        Tree t = hostileTree(f.env.dir());
        if (way == QLatin1String("addall")) {
            f.dialogs.inputAnswers.push_back(QStringLiteral("tif*"));
            f.dialogs.folderAnswers.push_back(t.root);
            f.form->PushButton4->click();
        } else {
            // Dropped themselves, a folder and a file whose names are not UTF-8 either.
            const QString folder = f.env.dir() + text("/dropped \xfe");
            const QString file = f.env.dir() + text("/single \xff.tif");
            QVERIFY(makeFolder(folder));
            writeTiffAt(folder + QStringLiteral("/x.tif"), 1);
            writeTiffAt(file, 2);
            t.convertible.insert(folder + QStringLiteral("/x.tif"), 1);
            t.convertible.insert(file, 2);
            std::unique_ptr<QMimeData> data(dropOf({t.root, folder, file}));
            dragdrop::ListView1_OLEDragDrop(*f.form, *data);
        }
        QStringList rows = test::rowsOf(f.form->files());
        QStringList expected = t.convertible.keys() + t.failing;
        rows.sort();
        expected.sort();
        QCOMPARE(rows, expected);

        convertBeside(f);
        verifyRun(f, t, {f.env.dir(), QDir::currentPath()});
        removeTree(f.env.dir(), t.root + QStringLiteral("/closed"));
    }

    // The open-files dialog's answer (a folder and names, or one full path), hostile names and a
    // path near the longest the system takes.
    void dialogAnswerAndConvert() {
        RunFixture f;
        const Tree t = hostileTree(f.env.dir());
        // The answer is not looked at: a FIFO, a device and a looping link become rows too.
        Tree withOdd = t;
        for (const char* odd : {"pipe.tif", "zero.tif", "loop.tif"})
            withOdd.failing.append(t.root + QLatin1Char('/') + QLatin1String(odd));
        QStringList names;
        for (const QString& path : withOdd.convertible.keys() + withOdd.failing)
            names.append(QFileInfo(path).fileName());
        const QString answer = t.root + QChar(0) + names.join(QChar(0));
        f.dialogs.openFilesAnswers.push_back([answer] { return answer; });
        f.form->PushButton1->click();

        // Folders of 200 bytes down to a TIFF whose path is 4094 bytes, its result's 4095.
        QString deep = f.env.dir();
        while (deep.size() < 4094 - 210) {
            deep += QLatin1Char('/') + QString(200, QLatin1Char('d'));
            QVERIFY(makeFolder(deep));
        }
        deep += QLatin1Char('/') + QString(4094 - deep.size() - 5, QLatin1Char('p')) +
                QStringLiteral(".tif");
        QCOMPARE(encodePath(deep).size(), 4094);
        writeTiffAt(deep, 2);
        f.dialogs.openFilesAnswers.push_back([deep] { return deep; });
        f.form->PushButton1->click();

        QStringList rows = test::rowsOf(f.form->files());
        QCOMPARE(rows.size(), names.size() + 1);
        QCOMPARE(rows.back(), deep);

        Tree withDeep = withOdd;
        withDeep.convertible.insert(deep, 2);
        convertBeside(f);
        verifyRun(f, withDeep, {f.env.dir(), QDir::currentPath()});
        for (const char* line :
             {"locked.tif: the file may not be read", "pipe.tif: not a regular file",
              "zero.tif: not a regular file", "loop.tif: the name is a symbolic link that loops"})
            QVERIFY2(f.lastBox().contains(QLatin1String(line)), qPrintable(f.lastBox()));
        removeTree(t.root, t.root + QStringLiteral("/closed"));
    }
};

QTEST_MAIN(HostileNamesTest)
#include "tst_hostilenames.moc"
