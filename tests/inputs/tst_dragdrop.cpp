// SPDX-License-Identifier: GPL-3.0-or-later
// Files and folders dropped onto the list, through the list's own drag and drop events.
#include "inputs/dragdrop.h"
#include "tests/inputs/foldertree.h"

#include <QDropEvent>
#include <QMimeData>
#include <QSysInfo>
#include <QTest>
#include <QUrl>

#include <memory>

using namespace vormelle;
using test::Window;

namespace {

std::unique_ptr<Window> window() {
    auto w = std::make_unique<Window>();
    dragdrop::connect(w->form);
    return w;
}

std::unique_ptr<QMimeData> fileData(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls.append(QUrl::fromLocalFile(p));
    data->setUrls(urls);
    return data;
}

// What the list answers while the data is dragged over it: whether it takes it.
bool dragOver(Window& w, const QMimeData& data) {
    QWidget* target = w.form.ListView1->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted() || enter.dropAction() == Qt::IgnoreAction)
        return false;
    QDragMoveEvent move(QPoint(12, 12), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    return move.isAccepted() && move.dropAction() != Qt::IgnoreAction;
}

void drop(Window& w, const QMimeData& data) {
    QDropEvent event(QPointF(12, 12), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.form.ListView1->viewport(), &event);
}

void dropFiles(Window& w, const QStringList& paths) {
    const auto data = fileData(paths);
    QVERIFY(dragOver(w, *data));
    drop(w, *data);
}

} // namespace

class DragDropTest : public QObject {
    Q_OBJECT
private slots:
    void listTakesDrops();
    void dataWithoutFilesRefused_data();
    void dataWithoutFilesRefused();
    void filesInSourceOrder();
    void folderTree();
    void foldersAndFilesKeepTheirOrder();
    void folderGivenWithSlash();
    void linkedFolderIsWalked();
    void fileUrlsWithAHost_data();
    void fileUrlsWithAHost();
};

void DragDropTest::listTakesDrops() {
    auto w = window();
    QVERIFY(w->form.ListView1->viewport()->acceptDrops());
    const auto data = fileData({w->path("a.tif")});
    QVERIFY(dragOver(*w, *data));
}

void DragDropTest::dataWithoutFilesRefused_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("text") << "text";
    QTest::newRow("web address") << "web";
    QTest::newRow("picture") << "picture";
}

void DragDropTest::dataWithoutFilesRefused() {
    QFETCH(QString, kind);
    auto w = window();
    w->make({"a.tif"});
    QMimeData data;
    if (kind == QLatin1String("text"))
        data.setText(w->path("a.tif"));
    if (kind == QLatin1String("web"))
        data.setUrls({QUrl(QStringLiteral("https://example.org/a.tif"))});
    if (kind == QLatin1String("picture"))
        data.setData(QStringLiteral("image/png"), QByteArray("\x89PNG"));
    QVERIFY(!dragOver(*w, data));
    // The platform delivers no drop after a refusal; should the data arrive all the same, it
    // names no files.
    dragdrop::ListView1_OLEDragDrop(w->form, data);
    QCOMPARE(w->rows(), QStringList());
}

void DragDropTest::filesInSourceOrder() {
    auto w = window();
    w->make({"a.tif", "b.txt", "d/~lock.tif", "d//x.tif"});
    w->form.files().add(QStringLiteral("/earlier.tif"));
    // A dropped file is listed as given: not cleaned, whatever its type or name; a name
    // that is gone by the time of the drop is passed over.
    const QString doubled = w->path("d//x.tif");
    dropFiles(*w, {w->path("b.txt"), w->path("gone.tif"), w->path("a.tif"), w->path("d/~lock.tif"),
                   doubled, w->path("a.tif")});
    const QStringList expected = QStringList{"/earlier.tif"} +
                                 w->paths({"b.txt", "a.tif", "d/~lock.tif"}) +
                                 QStringList{doubled, w->path("a.tif")};
    QCOMPARE(w->rows(), expected);
}

void DragDropTest::folderTree() {
    auto w = window();
    w->make({"scans/p1.tif", "scans/old/p0.tif", "scans/~lock.tif", "scans/.DS_Store",
             "scans/.ro.tif", "scans/notes.txt", "scans/.thumbs/t.png"});
    QVERIFY(test::setMode(w->path("scans/.ro.tif"), 0444));
    QVERIFY(test::makeFifo(w->path("scans/pipe")));
    QVERIFY(QFile::link(w->path("scans"), w->path("scans/old/loop")));
    dropFiles(*w, {w->path("scans")});
    QCOMPARE(w->rows(), w->paths({"scans/.ro.tif", "scans/notes.txt", "scans/p1.tif",
                                  "scans/.thumbs/t.png", "scans/old/p0.tif"}));
    QVERIFY(w->dialogs.boxes.isEmpty());
}

void DragDropTest::foldersAndFilesKeepTheirOrder() {
    auto w = window();
    w->make({"one/b.tif", "one/a.tif", "two/c.tif", "loose.tif"});
    dropFiles(*w, {w->path("two"), w->path("loose.tif"), w->path("one")});
    QCOMPARE(w->rows(), w->paths({"two/c.tif", "loose.tif", "one/a.tif", "one/b.tif"}));
}

void DragDropTest::folderGivenWithSlash() {
    auto w = window();
    w->make({"scans/p.tif", "scans/sub/q.tif"});
    // Every row from a folder is cleaned, so the joins never show a doubled "/".
    dropFiles(*w, {w->path("scans/")});
    QCOMPARE(w->rows(), w->paths({"scans/p.tif", "scans/sub/q.tif"}));
}

void DragDropTest::linkedFolderIsWalked() {
    auto w = window();
    w->make({"real/p.tif", "real/sub/q.tif"});
    QVERIFY(QFile::link(w->path("real"), w->path("alias")));
    dropFiles(*w, {w->path("alias")});
    QCOMPARE(w->rows(), w->paths({"alias/p.tif", "alias/sub/q.tif"}));
}

void DragDropTest::fileUrlsWithAHost_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("here");
    QTest::newRow("localhost") << "localhost" << true;
    QTest::newRow("LOCALHOST") << "LOCALHOST" << true;
    QTest::newRow("this computer's name") << QSysInfo::machineHostName() << true;
    QTest::newRow("another computer") << "scanner.invalid" << false;
}

// file://localhost/... and file://<this computer>/... name local files; another computer's
// files are passed over without a box: the drop shows no message of its own.
void DragDropTest::fileUrlsWithAHost() {
    QFETCH(QString, host);
    QFETCH(bool, here);
    auto w = window();
    w->make({"a b.tif", "d/c.tif"});
    QMimeData data;
    QList<QUrl> urls;
    for (const char* name : {"a b.tif", "d"}) {
        QUrl url = QUrl::fromLocalFile(w->path(QString::fromLatin1(name)));
        url.setHost(host);
        urls.append(url);
    }
    data.setUrls(urls);
    QVERIFY(dragOver(*w, data));
    drop(*w, data);
    QCOMPARE(w->rows(), here ? w->paths({"a b.tif", "d/c.tif"}) : QStringList());
    QCOMPARE(w->dialogs.boxes.size(), 0);
}

QTEST_MAIN(DragDropTest)
#include "tst_dragdrop.moc"
