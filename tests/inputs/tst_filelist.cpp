// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/program/handlers.h"
#include "app/program/startup.h"
#include "inputs/filelist.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tests/support/widgets.h"

#include <QPushButton>
#include <QTest>

using namespace vormelle;

class FileListTest final : public QObject {
    Q_OBJECT

    test::ScriptedDialogs m_dialogs;
    test::RecordingDesktop m_desktop;
    std::unique_ptr<test::TestEnv> m_env;
    std::unique_ptr<Form1> m_form;

    Form1& form() { return *m_form; }
    void fill(const QStringList& texts) {
        for (const QString& t : texts)
            form().files().add(t);
    }
    QPoint rowCenter(int row) {
        return form().ListView1->visualRect(form().ListView1->model()->index(row, 0)).center();
    }
    // A press on `from`, moves over each row of `over`, and a release, as real mouse events.
    void carry(int from, const QList<int>& over) {
        QWidget* vp = form().ListView1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, rowCenter(from));
        for (int row : over) {
            QMouseEvent move(QEvent::MouseMove, rowCenter(row), vp->mapToGlobal(rowCenter(row)),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(vp, &move);
        }
        QTest::mouseRelease(vp, Qt::LeftButton, {}, rowCenter(over.isEmpty() ? from : over.back()));
    }

private slots:
    void init() {
        m_env = std::make_unique<test::TestEnv>();
        m_form = std::make_unique<Form1>(m_dialogs, m_desktop);
        connectHandlers(*m_form);
        Form_Load(*m_form, [] { return 1; });
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    void cleanup() {
        m_form.reset();
        m_env.reset();
        m_dialogs.boxes.clear();
    }

    void removal_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QStringList>("after");
        const QStringList all = {"/a.tif", "/b.tif", "/a.tif"};
        const QStringList removed = {"/a.tif", "/a.tif"};
        QTest::newRow("delete key") << "delete" << false << removed;
        QTest::newRow("double-click") << "dblclick" << false << removed;
        QTest::newRow("double-click below the rows") << "dblclick-empty" << false << removed;
        QTest::newRow("other key") << "other" << false << all;
        QTest::newRow("delete while busy") << "delete" << true << all;
        QTest::newRow("double-click while busy") << "dblclick" << true << all;
    }
    void removal() {
        QFETCH(QString, how);
        QFETCH(bool, busy);
        fill({"/a.tif", "/b.tif", "/a.tif"});
        form().ListView1->selectRow(1);
        if (busy)
            form().setMousePointer(Form1::Hourglass);
        QWidget* vp = form().ListView1->viewport();
        if (how == QLatin1String("delete"))
            QTest::keyClick(form().ListView1, Qt::Key_Delete);
        else if (how == QLatin1String("other"))
            QTest::keyClick(form().ListView1, Qt::Key_Backspace);
        else if (how == QLatin1String("dblclick"))
            QTest::mouseDClick(vp, Qt::LeftButton, {}, rowCenter(1));
        else
            filelist::ListView1_DblClick(form());
        QFETCH(QStringList, after);
        QCOMPARE(test::rowsOf(form().files()), after);
        QCOMPARE(m_dialogs.boxes.size(), 0);
        form().setMousePointer(Form1::Default);
    }

    void nothingToRemove() {
        filelist::ListView1_KeyDown(form(), Qt::Key_Delete);
        filelist::ListView1_DblClick(form());
        fill({"/a.tif"});
        form().ListView1->clearSelection();
        filelist::ListView1_KeyDown(form(), Qt::Key_Delete);
        QCOMPARE(test::rowsOf(form().files()), QStringList{"/a.tif"});
    }

    void clearList() {
        fill({"/a.tif", "/a.tif"});
        form().setMousePointer(Form1::Hourglass);
        form().PushButton6->click();
        QCOMPARE(form().files().count(), 2);
        form().setMousePointer(Form1::Default);
        form().PushButton6->click();
        QCOMPARE(form().files().count(), 0);
        QCOMPARE(form().ListView1->columnHeader(), QStringLiteral("TIFF File(s)"));
    }

    void dragToReorder_data() {
        QTest::addColumn<QStringList>("start");
        QTest::addColumn<int>("from");
        QTest::addColumn<QList<int>>("over");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("selected");
        const QStringList abcd = {"A", "B", "C", "D"};
        QTest::newRow("down one by one")
            << abcd << 0 << QList<int>{1, 2, 3} << QStringList{"B", "C", "D", "A"} << 3;
        QTest::newRow("jump") << abcd << 0 << QList<int>{3} << QStringList{"D", "B", "C", "A"} << 3;
        QTest::newRow("up") << abcd << 3 << QList<int>{2, 1} << QStringList{"A", "D", "B", "C"}
                            << 1;
        QTest::newRow("equal texts")
            << QStringList{"A", "A", "B"} << 0 << QList<int>{1} << QStringList{"A", "A", "B"} << 0;
        QTest::newRow("stay on own row") << abcd << 1 << QList<int>{1} << abcd << 1;
    }
    void dragToReorder() {
        QFETCH(QStringList, start);
        QFETCH(int, from);
        QFETCH(QList<int>, over);
        fill(start);
        carry(from, over);
        QFETCH(QStringList, after);
        QCOMPARE(test::rowsOf(form().files()), after);
        QFETCH(int, selected);
        QCOMPARE(form().ListView1->selectedRow(), selected);
        QVERIFY(!form().MouseIsDown);
    }

    void movesWithoutAButtonDownCarryNothing() {
        fill({"A", "B"});
        filelist::ListView1_ItemClick(form(), 0);
        filelist::ListView1_MouseMove(form(), Qt::NoButton, rowCenter(1));
        QCOMPARE(test::rowsOf(form().files()), (QStringList{"A", "B"}));
    }

    void aRemovedRowIsNoLongerCarried() {
        fill({"A", "B", "C"});
        filelist::ListView1_ItemClick(form(), 1);
        form().ListView1->selectRow(1);
        filelist::ListView1_KeyDown(form(), Qt::Key_Delete);
        filelist::ListView1_MouseDown(form());
        filelist::ListView1_MouseMove(form(), Qt::LeftButton, rowCenter(0));
        QCOMPARE(test::rowsOf(form().files()), (QStringList{"A", "C"}));
        filelist::ListView1_MouseUp(form());

        // A carried row below a removed one keeps being carried.
        filelist::ListView1_ItemClick(form(), 1);
        form().ListView1->selectRow(0);
        filelist::ListView1_KeyDown(form(), Qt::Key_Delete);
        fill({"D"});
        filelist::ListView1_MouseDown(form());
        filelist::ListView1_MouseMove(form(), Qt::LeftButton, rowCenter(1));
        QCOMPARE(test::rowsOf(form().files()), (QStringList{"D", "C"}));
        filelist::ListView1_MouseUp(form());

        form().PushButton6->click();
        fill({"X", "Y"});
        filelist::ListView1_MouseDown(form());
        filelist::ListView1_MouseMove(form(), Qt::LeftButton, rowCenter(1));
        QCOMPARE(test::rowsOf(form().files()), (QStringList{"X", "Y"}));
    }

    // The list follows a carried row near its edges, wherever the window stands on the screen.
    void autoScrollNearTheEdges() {
        for (int i = 0; i < 200; ++i)
            form().files().add(QStringLiteral("/row%1.tif").arg(i, 3, 10, QLatin1Char('0')));
        ListView& list = *form().ListView1;
        list.scrollToBottom();
        QCoreApplication::processEvents();
        const int bottomFirst = list.rowAt(QPoint(5, 2));
        QVERIFY(bottomFirst > 0);
        filelist::ListView1_ItemClick(form(), bottomFirst + 1);
        filelist::ListView1_MouseDown(form());
        filelist::ListView1_MouseMove(form(), Qt::LeftButton, QPoint(5, 2));
        QCoreApplication::processEvents();
        QCOMPARE(list.rowAt(QPoint(5, 2)), bottomFirst - 1);

        const int inMiddle = list.viewport()->height() / 2;
        const int top = list.rowAt(QPoint(5, 2));
        const int middleRow = list.rowAt(QPoint(5, inMiddle));
        filelist::ListView1_MouseMove(form(), Qt::LeftButton, QPoint(5, inMiddle));
        QCoreApplication::processEvents();
        QCOMPARE(list.rowAt(QPoint(5, 2)), top);
        QCOMPARE(form().files().text(middleRow), form().files().text(form().DraggedItem));
        filelist::ListView1_MouseUp(form());
    }

    void pointerBackToDefaultOverTheList() {
        QTest::mouseMove(form().PushButton1);
        QCOMPARE(form().MousePointer(), int(Form1::Custom));
        filelist::ListView1_MouseMove(form(), Qt::NoButton, QPoint(3, 3));
        QCOMPARE(form().MousePointer(), int(Form1::Default));
    }
};

QTEST_MAIN(FileListTest)
#include "tst_filelist.moc"
