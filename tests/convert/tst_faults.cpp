// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "engine/checks.h"
#include "resources/toolfiles.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/permissionbits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <tiffio.h>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vormelle;
using platform::Icon;
using test::RunFixture;

namespace {

const QString kFaultLibrary = QStringLiteral(VORMELLE_FAULTINJECT);
const QString kRunHelper = QStringLiteral(VORMELLE_RUNHELPER);
const QString kPlanted = QStringLiteral(VORMELLE_PLANTED);
const QString kPlantedNeeds = QStringLiteral(VORMELLE_PLANTED_NEEDS);
constexpr int kHelperWaitMs = 120000;

QString realSecondConverter() {
    return test::TestEnv::builtProgramFolder() + QStringLiteral("/pdf2djvu/pdf2djvu");
}

QByteArray quoted(const QString& path) {
    return "'" + QFile::encodeName(path) + "'";
}

QStringList entriesOf(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QString closing(int failed, int total, const QStringList& lines) {
    return QStringLiteral("Done.\r\n\r\n%1 of %2 file(s) could not be converted:\r\n")
               .arg(failed)
               .arg(total) +
           lines.join(QStringLiteral("\r\n"));
}

// Sets environment variables for one test and puts the old values back.
class EnvironmentGuard final {
public:
    ~EnvironmentGuard() {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->second)
                qputenv(it->first.constData(), *it->second);
            else
                qunsetenv(it->first.constData());
        }
    }
    void set(const char* name, const QByteArray& value) {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char* name) {
        remember(name);
        qunsetenv(name);
    }

private:
    void remember(const char* name) {
        m_saved.emplace_back(QByteArray(name), qEnvironmentVariableIsSet(name)
                                                   ? std::optional(qgetenv(name))
                                                   : std::nullopt);
    }
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// Mounts made by a test, taken away again in every case (also when the test fails).
class Mounts final {
public:
    ~Mounts() {
        for (auto it = m_points.crbegin(); it != m_points.crend(); ++it)
            ::umount2(it->constData(), MNT_DETACH);
    }
    bool tmpfs(const QString& at, qint64 bytes, const QByteArray& more = {},
               unsigned long flags = 0) {
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755" + more;
        return add(at, ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", flags,
                               options.constData()));
    }
    // The folder over itself, so that it can be made read-only later.
    bool bind(const QString& at) {
        const QByteArray name = QFile::encodeName(at);
        return add(at, ::mount(name.constData(), name.constData(), nullptr, MS_BIND, nullptr));
    }
    bool readOnly(const QString& at) {
        return bind(at) && ::mount(nullptr, QFile::encodeName(at).constData(), nullptr,
                                   MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }

private:
    bool add(const QString& at, int result) {
        if (result != 0)
            return false;
        m_points.push_back(QFile::encodeName(at));
        return true;
    }
    std::vector<QByteArray> m_points;
};

#define MOUNT_OR_SKIP(call)                                                                        \
    do {                                                                                           \
        if (!(call))                                                                               \
            QSKIP("this case mounts a file system and needs root (or mount is not permitted)");    \
    } while (false)

// Kills the process groups of converters a test left running on purpose, whatever happens.
struct GroupKiller {
    QList<pid_t> groups;
    ~GroupKiller() {
        for (pid_t g : std::as_const(groups))
            ::kill(-g, SIGKILL);
    }
};

QList<pid_t> pidsIn(const QString& file) {
    QList<pid_t> pids;
    for (const QByteArray& line : test::fileBytes(file).split('\n')) {
        bool ok = false;
        const int pid = line.trimmed().toInt(&ok);
        if (ok && pid > 0)
            pids.append(pid_t(pid));
    }
    return pids;
}

// Gone, or ended and only waiting to be collected by whoever adopted it.
bool processGone(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

// A TIFF of random colours: nothing compresses it, so its PDF is about as large as its pixels.
void writeNoiseTiff(const QString& path, int side) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    QVERIFY(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, side);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 100.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 100.0);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    QRandomGenerator random(7);
    QByteArray row(side * 3, Qt::Uninitialized);
    for (int y = 0; y < side; ++y) {
        random.fillRange(reinterpret_cast<quint32*>(row.data()), row.size() / 4);
        QCOMPARE(TIFFWriteScanline(tif, row.data(), uint32_t(y), 0), 1);
    }
    TIFFClose(tif);
}

// Fills a file system up to its last byte.
void fill(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    while (f.write(block) == block.size()) {
    }
}

qint64 pagesOf(qint64 bytes) {
    return (bytes + 4095) / 4096 * 4096;
}

// The helper program, with the test's settings folder and temporary location.
std::unique_ptr<QProcess> startHelper(const test::TestEnv& env, const QString& temp,
                                      const QStringList& arguments,
                                      const QList<std::pair<QString, QString>>& extra = {}) {
    auto helper = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The helper may carry a sanitizer runtime, which must come first: it preloads nothing.
    environment.remove(QStringLiteral("LD_PRELOAD"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), env.configDir());
    environment.insert(QStringLiteral("TEMP"), temp);
    for (const auto& [name, value] : extra)
        environment.insert(name, value);
    helper->setProcessEnvironment(environment);
    helper->start(kRunHelper, arguments);
    return helper;
}

QString runFolderOf(qint64 pid) {
    return QStringLiteral("vormelle-run-%1-").arg(pid);
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void converterCrashes_data();
    void converterCrashes();
    void missingConverterIsSaidOnce_data();
    void missingConverterIsSaidOnce();
    void hungConverterEndsWithTheProgram_data();
    void hungConverterEndsWithTheProgram();
    void outputFolderRemovedDuringTheRun();
    void outputFolderReadOnlyDuringTheRun();
    void outputFolderFull();
    void temporaryLocationFull_data();
    void temporaryLocationFull();
    void temporaryLocationFallsBack_data();
    void temporaryLocationFallsBack();
    void carriedConverterWhereverTheTemporaryLocationLies_data();
    void carriedConverterWhereverTheTemporaryLocationLies();
    void killedAndStartedAgain();
    void twoInstancesIntoOneFolder();
    void fileSwappedAfterItsInspection_data();
    void fileSwappedAfterItsInspection();
};

void FaultsTest::converterCrashes_data() {
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("tiff2pdf segfaults")
        << QByteArray("tiff2pdf:segv") << "tiff2pdf crashed (Segmentation fault)";
    QTest::newRow("pdf2djvu segfaults")
        << QByteArray("pdf2djvu:segv") << "pdf2djvu crashed (Segmentation fault)";
    QTest::newRow("pdf2djvu aborts")
        << QByteArray("pdf2djvu:abort") << "pdf2djvu crashed (Aborted)";
}

// The real converters, made to crash on the first row: the row is named, the run goes on.
void FaultsTest::converterCrashes() {
    QFETCH(QByteArray, fault);
    QFETCH(QString, reason);
    RunFixture f;
    const QString once = f.env.writeFile(QStringLiteral("once"));
    EnvironmentGuard environment;
    environment.set("LD_PRELOAD", QFile::encodeName(kFaultLibrary));
    environment.set("VORMELLE_FAULT", fault);
    environment.set("VORMELLE_FAULT_ONCE", QFile::encodeName(once));
    for (const char* name : {"a.tif", "b.tif"}) {
        const QString input = f.env.path(QString::fromLatin1(name));
        test::writeTiff(input, test::TiffKind::BitonalG4);
        f.add(input);
    }
    const QString old = f.env.writeFile(QStringLiteral("a.djvu"), "the older result");
    f.form->Option2->setChecked(true);
    f.start();
    QVERIFY(!QFile::exists(once)); // the fault did strike
    QCOMPARE(f.lastBox(), closing(1, 2, {QStringLiteral("a.tif: ") + reason}));
    QCOMPARE(test::fileBytes(old), QByteArray("the older result"));
    QCOMPARE(engine::djvuPageCount(f.env.path(QStringLiteral("b.djvu"))), std::optional(1));
    QCOMPARE(f.leftInTemp(), QStringList());
}

void FaultsTest::missingConverterIsSaidOnce_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("found");
    QTest::newRow("not there") << "none" << false;
    QTest::newRow("a link to nothing") << "dangling link" << false;
    QTest::newRow("not executable") << "plain file" << true;
    QTest::newRow("a folder") << "folder" << true;
}

void FaultsTest::missingConverterIsSaidOnce() {
    QFETCH(QString, kind);
    QFETCH(bool, found);
    RunFixture f;
    const QString program = f.env.path(QStringLiteral("program"));
    const QString expected = program + QStringLiteral("/pdf2djvu/pdf2djvu");
    QDir().mkpath(program + QStringLiteral("/pdf2djvu"));
    if (kind == QStringLiteral("dangling link"))
        QVERIFY(QFile::link(f.env.path(QStringLiteral("nowhere")), expected));
    else if (kind == QStringLiteral("plain file"))
        f.env.writeFile(QStringLiteral("program/pdf2djvu/pdf2djvu"), "#!/bin/sh\nexit 0\n");
    else if (kind == QStringLiteral("folder"))
        QVERIFY(QDir().mkpath(expected));
    paths::setProgramFolder(program);
    for (const char* name : {"a.tif", "b.tif", "c.tif"}) {
        const QString input = f.env.path(QString::fromLatin1(name));
        test::writeTiff(input, test::TiffKind::BitonalG4);
        f.add(input);
    }
    const QString old = f.env.writeFile(QStringLiteral("a.djvu"), "the older result");
    f.form->Option2->setChecked(true);
    f.start();
    const QString said =
        found ? QStringLiteral("Nothing was converted: pdf2djvu at %1 cannot be run (it is not an "
                               "executable file).")
                    .arg(expected)
              : QStringLiteral("Nothing was converted: pdf2djvu was not found. It belongs at %1.")
                    .arg(expected);
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.dialogs.boxes[0].text, said);
    QCOMPARE(f.dialogs.boxes[0].icon, Icon::Warning);
    // Nothing began: no converter was written out, no output touched; the window is idle.
    QCOMPARE(f.leftInTemp(), QStringList());
    QCOMPARE(test::fileBytes(old), QByteArray("the older result"));
    QCOMPARE(entriesOf(f.env.dir()).filter(QStringLiteral(".djvu")), QStringList{"a.djvu"});
    QVERIFY(!f.form->IsConverting);
    QCOMPARE(f.form->MousePointer(), int(Form1::Default));
    QCOMPARE(f.form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
    QCOMPARE(f.form->files().count(), 3);
}

void FaultsTest::hungConverterEndsWithTheProgram_data() {
    QTest::addColumn<bool>("firstConverter");
    QTest::addColumn<int>("signal"); // 0: the window is closed
    QTest::newRow("window closed, pdf2djvu with a child of its own") << false << 0;
    QTest::newRow("window closed, tiff2pdf") << true << 0;
    QTest::newRow("SIGTERM, pdf2djvu with a child of its own") << false << int(SIGTERM);
    QTest::newRow("SIGINT (Ctrl-C), tiff2pdf") << true << int(SIGINT);
    QTest::newRow("SIGHUP (logout), pdf2djvu with a child of its own") << false << int(SIGHUP);
    // A crash of the program itself, and a kill nothing can catch.
    QTest::newRow("SIGSEGV (crash), tiff2pdf") << true << int(SIGSEGV);
    QTest::newRow("SIGABRT (crash), pdf2djvu with a child of its own") << false << int(SIGABRT);
    QTest::newRow("SIGKILL, tiff2pdf") << true << int(SIGKILL);
}

// The program ends while a converter hangs: the window is closed, or a signal ends the program.
// The converter, and whatever it started, ends with it.
void FaultsTest::hungConverterEndsWithTheProgram() {
    QFETCH(bool, firstConverter);
    QFETCH(int, signal);
    test::TestEnv env;
    const QString temp = env.path(QStringLiteral("temp"));
    QDir().mkpath(temp);
    const QString pids = env.path(QStringLiteral("pids"));
    const QString input = env.path(QStringLiteral("a.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    QString program = test::TestEnv::builtProgramFolder();
    QList<std::pair<QString, QString>> extra;
    if (firstConverter) {
        extra = {{QStringLiteral("VORMELLE_FAULT_PRELOAD"), kFaultLibrary},
                 {QStringLiteral("VORMELLE_FAULT"), QStringLiteral("tiff2pdf:hang")},
                 {QStringLiteral("VORMELLE_FAULT_PIDS"), pids}};
    } else {
        program = env.path(QStringLiteral("program"));
        const QString script = env.writeFile(
            QStringLiteral("program/pdf2djvu/pdf2djvu"),
            "#!/bin/sh\nsleep 300 &\necho $! >> " + quoted(pids) + "\necho $$ >> " + quoted(pids) +
                "\n: > " + quoted(pids + QStringLiteral(".ready")) + "\nwait\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    GroupKiller killer;
    const QString ready = pids + QStringLiteral(".ready");
    auto helper = startHelper(
        env, temp,
        {program, QString(),
         signal == 0 ? QStringLiteral("close-when:") + ready : QStringLiteral("convert"), input},
        extra);
    if (signal != 0) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ready), kHelperWaitMs);
        ::kill(pid_t(helper->processId()), signal);
    }
    const bool ended = helper->waitForFinished(kHelperWaitMs);
    const QList<pid_t> hung = pidsIn(pids);
    killer.groups = hung; // in case they outlive it after all
    const QByteArray errors = helper->readAllStandardError();
    QVERIFY2(ended, errors.constData());
    if (signal == 0) {
        QCOMPARE(helper->exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper->exitCode(), 0);
        // Closing asked nothing and ended the program at once, run folder and all.
        QCOMPARE(errors.count("asked: "), 0);
        QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    } else if (signal == SIGSEGV) {
        // Ended by the signal, or by a sanitizer runtime that reports it first and exits.
        QVERIFY(helper->exitStatus() == QProcess::CrashExit || helper->exitCode() != 0);
    } else {
        // Ended by the signal itself, as it would have been without the converters.
        QCOMPARE(helper->exitStatus(), QProcess::CrashExit);
    }
    QCOMPARE(helper->readAllStandardOutput(), QByteArray()); // ended before any closing box
    QCOMPARE(hung.size(), firstConverter ? 1 : 2);
    for (pid_t pid : hung)
        QTRY_VERIFY2_WITH_TIMEOUT(processGone(pid), qPrintable(QString::number(pid)), 10000);
}

void FaultsTest::outputFolderRemovedDuringTheRun() {
    RunFixture f;
    const QString out = f.env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    const QString count = f.env.path(QStringLiteral("count"));
    // The second call removes the output folder, then converts as usual.
    f.fakeSecondConverter("n=$(cat " + quoted(count) + " 2>/dev/null || echo 0)\necho $((n+1)) > " +
                          quoted(count) + "\nif [ \"$n\" -eq 1 ]; then rm -rf " + quoted(out) +
                          "; fi\nexec " + quoted(realSecondConverter()) + " \"$@\"");
    QDir().mkpath(f.env.path(QStringLiteral("in")));
    for (const char* name : {"in/a.tif", "in/b.tif", "in/c.tif"}) {
        const QString input = f.env.path(QString::fromLatin1(name));
        test::writeTiff(input, test::TiffKind::BitonalG4);
        f.add(input);
    }
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(out);
    f.start();
    const QString gone = QStringLiteral("the output folder %1 no longer exists").arg(out);
    QCOMPARE(f.lastBox(), closing(2, 3, {"b.tif: " + gone, "c.tif: " + gone}));
    QCOMPARE(test::fileBytes(count), QByteArray("2\n")); // c.tif was not converted for nothing
    // Not made again, and nothing went elsewhere.
    QVERIFY(!QFileInfo::exists(out));
    QCOMPARE(entriesOf(f.env.path(QStringLiteral("in"))), (QStringList{"a.tif", "b.tif", "c.tif"}));
    QCOMPARE(f.leftInTemp(), QStringList());
}

void FaultsTest::outputFolderReadOnlyDuringTheRun() {
    const QString mount = QStandardPaths::findExecutable(QStringLiteral("mount"));
    if (mount.isEmpty())
        QSKIP("this case needs the mount command");
    RunFixture f;
    const QString out = f.env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    const QString old = f.env.writeFile(QStringLiteral("out/c.djvu"), "the older result");
    Mounts mounts;
    MOUNT_OR_SKIP(mounts.bind(out));
    const QString count = f.env.path(QStringLiteral("count"));
    // The second call makes the output folder read-only (also for root), then converts.
    f.fakeSecondConverter("n=$(cat " + quoted(count) + " 2>/dev/null || echo 0)\necho $((n+1)) > " +
                          quoted(count) + "\nif [ \"$n\" -eq 1 ]; then " + quoted(mount) +
                          " -o remount,ro,bind " + quoted(out) + " || exit 99; fi\nexec " +
                          quoted(realSecondConverter()) + " \"$@\"");
    for (const char* name : {"a.tif", "b.tif", "c.tif"}) {
        const QString input = f.env.path(QString::fromLatin1(name));
        test::writeTiff(input, test::TiffKind::BitonalG4);
        f.add(input);
    }
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(out);
    f.start();
    const QString readOnly =
        QStringLiteral("cannot write into the output folder %1: Read-only file system").arg(out);
    QCOMPARE(f.lastBox(), closing(2, 3, {"b.tif: " + readOnly, "c.tif: " + readOnly}));
    QCOMPARE(test::fileBytes(count), QByteArray("2\n"));
    QCOMPARE(entriesOf(out), (QStringList{"a.djvu", "c.djvu"}));
    QCOMPARE(engine::djvuPageCount(out + QStringLiteral("/a.djvu")), std::optional(1));
    QCOMPARE(test::fileBytes(old), QByteArray("the older result"));
    QCOMPARE(f.leftInTemp(), QStringList());
}

void FaultsTest::outputFolderFull() {
    RunFixture f;
    const QString out = f.env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    Mounts mounts;
    MOUNT_OR_SKIP(mounts.tmpfs(out, 256 * 1024));
    const QString old = out + QStringLiteral("/scan.djvu");
    {
        QFile older(old);
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write("the older result");
    }
    fill(out + QStringLiteral("/filler"));
    const QString input = f.env.path(QStringLiteral("scan.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    f.add(input);
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(out);
    f.start();
    QCOMPARE(f.lastBox(),
             closing(1, 1,
                     {QStringLiteral("scan.tif: the result could not be saved in %1: No space left "
                                     "on device")
                          .arg(out)}));
    QCOMPARE(test::fileBytes(old), QByteArray("the older result"));
    QCOMPARE(entriesOf(out), (QStringList{"filler", "scan.djvu"}));
    QCOMPARE(f.leftInTemp(), QStringList());
}

void FaultsTest::temporaryLocationFull_data() {
    QTest::addColumn<QString>("full"); // what does not fit
    QTest::newRow("the run's folder (no inode left)") << "folder";
    QTest::newRow("the converter") << "converter";
    QTest::newRow("a page") << "page";
}

void FaultsTest::temporaryLocationFull() {
    QFETCH(QString, full);
    const bool toolsFit = full == QStringLiteral("page");
    RunFixture f;
    qint64 tools = 0;
    for (const resources::ToolFile& tool : resources::toolFiles())
        tools += pagesOf(resources::customResource(tool.id).size());
    Mounts mounts;
    MOUNT_OR_SKIP(full == QStringLiteral("folder")
                      ? mounts.tmpfs(f.temp(), 256 * 1024, ",nr_inodes=1")
                      : mounts.tmpfs(f.temp(), toolsFit ? tools + 192 * 1024 : 256 * 1024));
    const QString noise = f.env.path(QStringLiteral("noise.tif"));
    writeNoiseTiff(noise, 600);
    const QString small = f.env.path(QStringLiteral("small.tif"));
    test::writeTiff(small, test::TiffKind::BitonalG4);
    f.add(noise);
    f.add(small);
    f.form->Option2->setChecked(true);
    f.start();
    if (toolsFit) {
        QCOMPARE(f.lastBox(),
                 closing(1, 2, {"noise.tif: no space left in the temporary folder " + f.temp()}));
        QCOMPARE(engine::djvuPageCount(f.env.path(QStringLiteral("small.djvu"))), std::optional(1));
    } else {
        const QString what = full == QStringLiteral("folder")
                                 ? QStringLiteral("no folder for the run could be made")
                                 : QStringLiteral("the converter could not be written");
        QCOMPARE(f.dialogs.boxes.size(), 1);
        QCOMPARE(f.lastBox(), QStringLiteral("Nothing was converted: %1 in the temporary folder %2 "
                                             "(No space left on device).")
                                  .arg(what, f.temp()));
        QCOMPARE(f.dialogs.boxes[0].icon, Icon::Warning);
    }
    QCOMPARE(f.leftInTemp(), QStringList());
    QCOMPARE(entriesOf(f.env.dir()).filter(QStringLiteral(".djvu")),
             toolsFit ? QStringList{"small.djvu"} : QStringList());
}

void FaultsTest::carriedConverterWhereverTheTemporaryLocationLies_data() {
    QTest::addColumn<QString>("where");
    QTest::newRow("a temporary location mounted noexec") << "noexec";
    // TEMP=<dir>/x:y with a zlib planted in <dir>/x: read as a search path, the ":" would make
    // the converter load it.
    QTest::newRow("TEMP with ':' after a folder with a planted library") << "colon";
}

void FaultsTest::carriedConverterWhereverTheTemporaryLocationLies() {
    QFETCH(QString, where);
    RunFixture f;
    Mounts mounts;
    EnvironmentGuard environment;
    const QString mark = f.env.path(QStringLiteral("planted-library-ran"));
    QString temp = f.temp();
    if (where == QStringLiteral("noexec")) {
        MOUNT_OR_SKIP(mounts.tmpfs(temp, 64 * 1024 * 1024, {}, MS_NOEXEC));
    } else {
        const QString planted = f.env.path(QStringLiteral("x"));
        QDir().mkpath(planted);
        QVERIFY(QFile::copy(kPlanted, planted + '/' + resources::toolFile(104).fileName));
        // The library the planted one needs: the real zlib, under the stub's name.
        QFile real(planted + '/' + kPlantedNeeds);
        QVERIFY(real.open(QIODevice::WriteOnly));
        real.write(resources::customResource(104));
        real.close();
        temp = f.env.path(QStringLiteral("x:y"));
        QDir().mkpath(temp);
        environment.set("TEMP", QFile::encodeName(temp));
        environment.set("VORMELLE_PLANTED_MARK", QFile::encodeName(mark));
    }
    const QString input = f.env.path(QStringLiteral("page.tif"));
    test::writeTiff(input, test::TiffKind::RgbDeflate, 2);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    QCOMPARE(engine::djvuPageCount(f.env.path(QStringLiteral("page.djvu"))), std::optional(2));
    QVERIFY2(!QFileInfo::exists(mark), "the planted library was loaded");
    QCOMPARE(entriesOf(temp), QStringList());
}

void FaultsTest::temporaryLocationFallsBack_data() {
    // "" unset; "folder" a usable folder; "missing" nothing there; "read-only" a read-only
    // mount; "no rights" a folder the user may not write into.
    QTest::addColumn<QString>("temp");
    QTest::addColumn<QString>("tmpdir");
    QTest::addColumn<QString>("used"); // TEMP, TMPDIR or /tmp
    QTest::newRow("both unset: /tmp") << ""
                                      << ""
                                      << "/tmp";
    QTest::newRow("TEMP unset: TMPDIR") << ""
                                        << "folder"
                                        << "TMPDIR";
    QTest::newRow("TEMP missing: TMPDIR") << "missing"
                                          << "folder"
                                          << "TMPDIR";
    QTest::newRow("TEMP read-only: TMPDIR") << "read-only"
                                            << "folder"
                                            << "TMPDIR";
    QTest::newRow("TEMP without rights: TMPDIR") << "no rights"
                                                 << "folder"
                                                 << "TMPDIR";
    QTest::newRow("both missing: /tmp") << "missing"
                                        << "missing"
                                        << "/tmp";
}

// Where the run works when the variables name nothing usable: the first usable of $TEMP,
// $TMPDIR and /tmp. The converters are told that folder, so the fake one reports it.
void FaultsTest::temporaryLocationFallsBack() {
    QFETCH(QString, temp);
    QFETCH(QString, tmpdir);
    QFETCH(QString, used);
    RunFixture f;
    const QString log = f.env.path(QStringLiteral("tmpdir.log"));
    f.fakeSecondConverter("echo \"$TMPDIR\" > " + quoted(log) + "\nexec " +
                          quoted(realSecondConverter()) + " \"$@\"");
    Mounts mounts;
    std::unique_ptr<test::PermissionBitsApply> bits;
    EnvironmentGuard environment;
    QHash<QString, QString> locations{{QStringLiteral("/tmp"), QStringLiteral("/tmp")}};
    for (const auto& [name, kind] : {std::pair{"TEMP", temp}, {"TMPDIR", tmpdir}}) {
        const QString path = f.env.path(QString::fromLatin1(name));
        locations[QString::fromLatin1(name)] = path;
        if (kind.isEmpty()) {
            environment.unset(name);
            continue;
        }
        environment.set(name, QFile::encodeName(path));
        if (kind != QStringLiteral("missing"))
            QDir().mkpath(path);
        if (kind == QStringLiteral("read-only"))
            MOUNT_OR_SKIP(mounts.readOnly(path));
        if (kind == QStringLiteral("no rights")) {
            ::chmod(QFile::encodeName(path).constData(), 0555);
            bits = std::make_unique<test::PermissionBitsApply>();
            if (!bits->active())
                QSKIP("the permission bits cannot be made to apply here");
        }
    }
    const QString input = f.env.path(QStringLiteral("scan.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    bits.reset();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    // The converter's scratch folder is its row's, inside the run's folder.
    const QString rowFolder = QString::fromUtf8(test::fileBytes(log).trimmed());
    const QString runFolder = QFileInfo(rowFolder).path();
    QCOMPARE(QFileInfo(runFolder).path(), locations.value(used));
    QVERIFY(QFileInfo(runFolder).fileName().startsWith(runFolderOf(::getpid())));
    QVERIFY(!QFileInfo::exists(runFolder));
}

// Killed in the middle of a run, then started again: the settings are as last written, the
// outputs made before are whole, an output being replaced is its old self, nothing half-made
// lies in the output folder, and the next run clears away the dead run's folder, but no other.
void FaultsTest::killedAndStartedAgain() {
    test::TestEnv env;
    const QString temp = env.path(QStringLiteral("temp"));
    const QString out = env.path(QStringLiteral("out"));
    QDir().mkpath(temp);
    QDir().mkpath(out);
    const QString old = env.writeFile(QStringLiteral("out/b.djvu"), "the older result");
    QStringList inputs;
    for (const char* name : {"in/a.tif", "in/b.tif"}) {
        inputs.append(env.path(QString::fromLatin1(name)));
        QDir().mkpath(QFileInfo(inputs.back()).path());
        test::writeTiff(inputs.back(), test::TiffKind::BitonalG4, 2);
    }
    // The first call converts; every later one writes part of a result and hangs.
    const QString count = env.path(QStringLiteral("count"));
    const QString pids = env.path(QStringLiteral("pids"));
    const QString ready = pids + QStringLiteral(".ready");
    const QString script = env.writeFile(
        QStringLiteral("program/pdf2djvu/pdf2djvu"),
        "#!/bin/sh\nn=$(cat " + quoted(count) + " 2>/dev/null || echo 0)\necho $((n+1)) > " +
            quoted(count) + "\nif [ \"$n\" -eq 0 ]; then exec " + quoted(realSecondConverter()) +
            " \"$@\"; fi\necho partial > \"$2\"\necho $$ >> " + quoted(pids) + "\n: > " +
            quoted(ready) + "\nexec sleep 300\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString program = env.path(QStringLiteral("program"));

    GroupKiller killer;
    // One row at a time, so the first call is a's.
    settings::SaveSetting(QStringLiteral("Jobs"), QStringLiteral("1"));
    auto first =
        startHelper(env, temp, QStringList{program, out, QStringLiteral("convert")} + inputs);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ready), kHelperWaitMs);
    const qint64 dead = first->processId();
    ::kill(pid_t(dead), SIGKILL);
    QVERIFY(first->waitForFinished(kHelperWaitMs));
    QCOMPARE(first->exitStatus(), QProcess::CrashExit);
    killer.groups = pidsIn(pids); // its converter runs on: end it as a person would

    QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QString()), out);
    QCOMPARE(settings::GetSetting(QStringLiteral("Option1"), QString()),
             settings::booleanText(true));
    QCOMPARE(settings::GetSetting(QStringLiteral("Option2"), QString()),
             settings::booleanText(false));
    QCOMPARE(entriesOf(out), (QStringList{"a.djvu", "b.djvu"}));
    QCOMPARE(engine::djvuPageCount(out + QStringLiteral("/a.djvu")), std::optional(2));
    QCOMPARE(test::fileBytes(old), QByteArray("the older result"));
    const QStringList leftBehind = entriesOf(temp);
    QCOMPARE(leftBehind.size(), 1);
    QVERIFY(leftBehind[0].startsWith(runFolderOf(dead)));

    // A run that is still going, and a dead run's folder of another user.
    QFile::remove(ready);
    auto live = startHelper(env, temp, {program, out, QStringLiteral("convert"), inputs[1]});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ready), kHelperWaitMs);
    killer.groups = pidsIn(pids);
    const QString foreign = temp + QLatin1Char('/') + runFolderOf(dead) + QStringLiteral("othusr");
    QVERIFY(QDir().mkdir(foreign));
    ::chmod(QFile::encodeName(foreign).constData(), 0700);
    const bool madeForeign = ::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0;

    // Started again.
    {
        RunFixture again;
        EnvironmentGuard environment;
        environment.set("TEMP", QFile::encodeName(temp));
        const QString input = again.env.path(QStringLiteral("c.tif"));
        test::writeTiff(input, test::TiffKind::BitonalG4);
        again.add(input);
        again.form->Option2->setChecked(true);
        again.start();
        QCOMPARE(again.lastBox(), QStringLiteral("Done."));
    }
    const QStringList kept = entriesOf(temp);
    QVERIFY2(kept.filter(runFolderOf(dead)).size() == (madeForeign ? 1 : 0),
             qPrintable(kept.join(' ')));
    QCOMPARE(kept.filter(runFolderOf(live->processId())).size(), 1);
    QCOMPARE(QFileInfo::exists(foreign), madeForeign);
    live->kill();
    QVERIFY(live->waitForFinished(kHelperWaitMs));
}

// Two instances convert the same files into the same folder at the same time.
void FaultsTest::twoInstancesIntoOneFolder() {
    test::TestEnv env;
    const QString temp = env.path(QStringLiteral("temp"));
    const QString out = env.path(QStringLiteral("out"));
    QDir().mkpath(temp);
    QDir().mkpath(out);
    QStringList inputs;
    const QList<std::pair<const char*, test::TiffKind>> kinds{
        {"in/a.tif", test::TiffKind::BitonalG4},
        {"in/b.tif", test::TiffKind::Gray8},
        {"in/c.tif", test::TiffKind::RgbDeflate}};
    for (const auto& [name, kind] : kinds) {
        inputs.append(env.path(QString::fromLatin1(name)));
        QDir().mkpath(QFileInfo(inputs.back()).path());
        test::writeTiff(inputs.back(), kind, 3);
    }
    const QStringList arguments =
        QStringList{test::TestEnv::builtProgramFolder(), out, QStringLiteral("convert")} + inputs;
    auto one = startHelper(env, temp, arguments);
    auto two = startHelper(env, temp, arguments);
    for (QProcess* helper : {one.get(), two.get()}) {
        QVERIFY(helper->waitForFinished(kHelperWaitMs));
        QCOMPARE(helper->exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper->exitCode(), 0);
        QCOMPARE(helper->readAllStandardOutput(), QByteArray("Done."));
    }
    QCOMPARE(entriesOf(out), (QStringList{"a.djvu", "b.djvu", "c.djvu"}));
    for (const QString& name : entriesOf(out))
        QCOMPARE(engine::djvuPageCount(out + QLatin1Char('/') + name), std::optional(3));
    QCOMPARE(entriesOf(temp), QStringList());
}

void FaultsTest::fileSwappedAfterItsInspection_data() {
    QTest::addColumn<bool>("fifo");
    QTest::newRow("a FIFO") << true;
    QTest::newRow("an RGBA file") << false;
}

// The fault library puts another file in the input's place as tiff2pdf starts, after the
// inspection: tiff2pdf still converts the file that was inspected.
void FaultsTest::fileSwappedAfterItsInspection() {
    QFETCH(bool, fifo);
    RunFixture f;
    const QString input = f.env.path(QStringLiteral("a.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4, 1, 160, 240);
    const QString other = f.env.path(QStringLiteral("other.tif"));
    if (fifo)
        QCOMPARE(::mkfifo(QFile::encodeName(other).constData(), 0600), 0);
    else
        test::writeTiff(other, test::TiffKind::RgbAlpha, 1, 320, 200);
    EnvironmentGuard environment;
    environment.set("LD_PRELOAD", QFile::encodeName(kFaultLibrary));
    environment.set("VORMELLE_FAULT", "tiff2pdf:swap");
    environment.set("VORMELLE_FAULT_SWAP", QFile::encodeName(other));
    environment.set("VORMELLE_FAULT_ONTO", QFile::encodeName(input));
    // Should tiff2pdf open the FIFO after all, a writer that comes and goes ends its wait: the
    // test then fails instead of hanging.
    QTimer unblock;
    QObject::connect(&unblock, &QTimer::timeout, [&input] {
        const QByteArray name = QFile::encodeName(input);
        struct stat st {};
        if (::stat(name.constData(), &st) == 0 && S_ISFIFO(st.st_mode)) {
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        }
    });
    unblock.start(100);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QVERIFY(!QFile::exists(other)); // the swap did happen
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString djvu = f.env.path(QStringLiteral("a.djvu"));
    QCOMPARE(engine::djvuPageCount(djvu), std::optional(1));
    QCOMPARE(test::djvuPageSize(djvu, 1), QSize(160, 240));
    QCOMPARE(f.leftInTemp(), QStringList());
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
