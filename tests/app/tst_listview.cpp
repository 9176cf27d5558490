// SPDX-License-Identifier: GPL-3.0-or-later
// The list's batched append, which large drops use.
#include "app/filelistmodel.h"
#include "app/listview.h"

#include <QSignalSpy>
#include <QTest>

using namespace vormelle;

class ListViewTest : public QObject {
    Q_OBJECT
private slots:
    void addRowsAppendsInOrder();
};

void ListViewTest::addRowsAppendsInOrder() {
    FileListModel files;
    ListView list(files);
    files.add(QStringLiteral("/a.tif"));
    files.add(QStringLiteral("/b.tif"));
    list.selectRow(1);
    QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);

    files.addRows({QStringLiteral("/c.tif"), QStringLiteral("/a.tif"), QStringLiteral("/d.tif")});
    files.addRows({});

    // One insertion for the batch, at the end, duplicates kept; the selection stays put.
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.front().at(1).toInt(), 2);
    QCOMPARE(inserted.front().at(2).toInt(), 4);
    QCOMPARE(files.files(), (QStringList{"/a.tif", "/b.tif", "/c.tif", "/a.tif", "/d.tif"}));
    QCOMPARE(list.selectedRow(), 1);
}

QTEST_MAIN(ListViewTest)
#include "tst_listview.moc"
