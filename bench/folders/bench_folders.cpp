// SPDX-License-Identifier: GPL-3.0-or-later
// Folder scan figures, each against a baseline measured in the same run:
//   generate-tree DIR       2,000 folders with 50,000 files, half of them .tif or .TIFF
//   generate-flat DIR N     N files in one folder
//   addall DIR              "Add All" over DIR against find(1) on the same tree, and the longest
//                           time the window went without looking at its events
//   drop DIR                dropping DIR (a folder), and then all its files named one by one,
//                           onto the list, "Clear List" after each, with the peak memory of each
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "inputs/addall.h"
#include "inputs/addfolder.h"
#include "inputs/dragdrop.h"
#include "inputs/filelist.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace vormelle;

namespace {

// Answers every dialog at once: the extension prompt and the folder picker.
class FixedDialogs final : public platform::Dialogs {
public:
    QString extension;
    QString folder;
    platform::Answer messageBox(QWidget*, const QString& text, const QString&, platform::Buttons,
                                platform::Icon) override {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(text));
        return platform::Answer::Ok;
    }
    QString openFiles(QWidget*, const platform::OpenFilesRequest&) override { return {}; }
    QString browseForFolder(QWidget*, const QString&, const QString&) override { return folder; }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString inputBox(QWidget*, const QString&, const QString&, const QString&) override {
        return extension;
    }
};

class NoDesktop final : public platform::Desktop {
public:
    void openUrl(const QString&) override {}
    void openFolder(const QString&) override {}
};

// The fastest of `rounds` runs of each, after one run of each to warm the caches. The two
// take turns, so both meet the same load on a shared machine.
std::pair<double, double> fastestOfEach(int rounds, const std::function<void()>& first,
                                        const std::function<void()>& second) {
    const auto seconds = [](const std::function<void()>& run) {
        QElapsedTimer t;
        t.start();
        run();
        return double(t.nsecsElapsed()) / 1e9;
    };
    first();
    second();
    double a = 1e9;
    double b = 1e9;
    for (int i = 0; i < rounds; ++i) {
        a = std::min(a, seconds(first));
        b = std::min(b, seconds(second));
    }
    return {a, b};
}

void writeEmpty(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
}

int generateTree(const QString& root) {
    constexpr int kFolders = 2000;
    constexpr int kFilesPerFolder = 25;
    const char* const kExtensions[] = {".tif", ".TIFF", ".jpg", ".txt"};
    // Folder i lives in folder (i - 1) / 8: a tree eight wide, four to five levels deep.
    QStringList folders{root};
    for (int i = 1; i < kFolders; ++i)
        folders.append(folders.at((i - 1) / 8) + QStringLiteral("/folder %1").arg(i));
    for (const QString& f : folders) {
        QDir().mkpath(f);
        for (int k = 0; k < kFilesPerFolder; ++k)
            writeEmpty(f +
                       QStringLiteral("/scan %1%2").arg(k).arg(QLatin1String(kExtensions[k % 4])));
    }
    std::printf("tree: %d folders, %d files in %s\n", kFolders, kFolders * kFilesPerFolder,
                qPrintable(root));
    return 0;
}

int generateFlat(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i)
        writeEmpty(folder + QStringLiteral("/page %1.tif").arg(i, 6, 10, QLatin1Char('0')));
    std::printf("flat: %d files in %s\n", count, qPrintable(folder));
    return 0;
}

long peakMemoryKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return -1;
}

// Starts a new high-water mark from the memory in use now.
void resetPeakMemory() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

struct Window {
    FixedDialogs dialogs;
    NoDesktop desktop;
    Form1 form{dialogs, desktop};
    Window() {
        form.unload = [] {};
        filelist::connect(form);
        addall::connect(form);
        dragdrop::connect(form);
        form.show();
        QApplication::processEvents();
    }
};

int addAll(const QString& root) {
    Window w;
    w.dialogs.extension = QStringLiteral("tif*");
    w.dialogs.folder = root;

    // The longest stretch between two looks at the window's events during one "Add All".
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });

    int rows = 0;
    int found = 0;
    const auto addAllOnce = [&] {
        w.form.PushButton6->click(); // "Clear List" first: every run adds the same rows
        probe.start();
        clock.start();
        last = 0;
        w.form.PushButton4->click();
        longest = std::max(longest, clock.nsecsElapsed() - last);
        probe.stop();
        rows = w.form.files().count();
    };
    const auto findOnce = [&] {
        QProcess p;
        p.start(QStringLiteral("find"), {root, QStringLiteral("-type"), QStringLiteral("f"),
                                         QStringLiteral("-iname"), QStringLiteral("*.tif*")});
        p.waitForFinished(-1);
        found = int(p.readAllStandardOutput().count('\n'));
    };
    const auto [ours, find] = fastestOfEach(5, addAllOnce, findOnce);

    std::printf("addall: %d rows (find: %d files)\n", rows, found);
    std::printf("addall: Add All %.3f s, find %.3f s, ratio %.2f (target <= 3)\n", ours, find,
                ours / find);
    std::printf("addall: longest time without looking at events %.1f ms (target <= 250)\n",
                double(longest) / 1e6);
    return rows == found ? 0 : 1;
}

void dropOnto(Window& w, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QWidget* target = w.form.ListView1->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QApplication::processEvents(); // the repaint belongs to the drop
}

int dropRows(const QString& folder) {
    Window w;
    const long windowAlone = peakMemoryKiB();
    const QList<QUrl> tree{QUrl::fromLocalFile(folder)};

    const auto timeOnce = [&](const std::function<void()>& run) {
        QElapsedTimer t;
        t.start();
        run();
        return double(t.nsecsElapsed()) / 1e9;
    };
    const auto clear = [&] {
        w.form.PushButton6->click();
        QApplication::processEvents();
    };
    // Warm the file system's caches once, as a second drop of the same folder would find them.
    dropOnto(w, tree);
    clear();

    resetPeakMemory();
    const double folderDrop = timeOnce([&] { dropOnto(w, tree); });
    const int folderRows = w.form.files().count();
    const double folderClear = timeOnce(clear);
    const long folderPeak = peakMemoryKiB();

    // The same files named one by one, as a file manager sends a selection of them all.
    QList<QUrl> files;
    for (const QString& name : addfolder::ListFilesInFolder(folder, QStringLiteral("*")))
        files.append(QUrl::fromLocalFile(folder + QLatin1Char('/') + name));
    resetPeakMemory();
    const double filesDrop = timeOnce([&] { dropOnto(w, files); });
    const int fileRows = w.form.files().count();
    const double filesClear = timeOnce(clear);
    const long filesPeak = peakMemoryKiB();

    const auto mb = [](long kib) { return double(kib) / 1024; };
    std::printf("drop: folder of %d files: drop %.3f s, clear %.3f s, peak memory %.1f MB\n",
                folderRows, folderDrop, folderClear, mb(folderPeak));
    std::printf("drop: %d files named at once: drop %.3f s, clear %.3f s, peak memory %.1f MB\n",
                fileRows, filesDrop, filesClear, mb(filesPeak));
    std::printf("drop: targets: under 1 s each, under 200 MB (the window alone: %.1f MB)\n",
                mb(windowAlone));
    return folderRows == files.size() && fileRows == files.size() ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    const QString mode = args.value(0);
    const QString dir = args.value(1);
    if (mode == QLatin1String("generate-tree") && !dir.isEmpty())
        return generateTree(dir);
    if (mode == QLatin1String("generate-flat") && !dir.isEmpty())
        return generateFlat(dir, args.value(2, QStringLiteral("100000")).toInt());
    // Settings of the benchmark's own, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    if (mode == QLatin1String("addall") && !dir.isEmpty())
        return addAll(dir);
    if (mode == QLatin1String("drop") && !dir.isEmpty())
        return dropRows(dir);
    std::fprintf(stderr,
                 "usage: %s generate-tree DIR | generate-flat DIR [N] | addall DIR | "
                 "drop DIR\n",
                 argv[0]);
    return 2;
}
