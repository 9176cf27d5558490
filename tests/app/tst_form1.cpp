// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/program/handlers.h"
#include "app/program/startup.h"
#include "app/translations.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolTip>

#include <cmath>
#include <cstdio>

using namespace vormelle;

class Form1Test final : public QObject {
    Q_OBJECT

    // Every control lies inside the window and beside, not over, the controls next to it, and
    // every caption fits its control: a translation that does not fit would be cut off.
    static void checkLayout(Form1& form) {
        const QList<QWidget*> all = form.findChildren<QWidget*>();
        for (QWidget* w : all) {
            if (w->isWindow() || !w->parentWidget() || qobject_cast<QScrollBar*>(w) ||
                w->parentWidget()->inherits("QAbstractScrollArea") ||
                w->parentWidget()->inherits("QHeaderView") || w->parent() != w->parentWidget())
                continue;
            const QRect inWindow(w->mapTo(&form, QPoint(0, 0)), w->size());
            QVERIFY2(form.rect().contains(inWindow), qPrintable(w->objectName()));
            for (QWidget* other : all) {
                if (other != w && other->parentWidget() == w->parentWidget() &&
                    !other->isWindow() && qobject_cast<QAbstractButton*>(w) &&
                    qobject_cast<QAbstractButton*>(other))
                    QVERIFY2(!w->geometry().intersects(other->geometry()),
                             qPrintable(static_cast<QAbstractButton*>(w)->text() + " / " +
                                        static_cast<QAbstractButton*>(other)->text()));
            }
            int needed = 0;
            if (auto* b = qobject_cast<QPushButton*>(w))
                needed = b->fontMetrics().horizontalAdvance(b->text()) + 8;
            else if (auto* b = qobject_cast<QAbstractButton*>(w))
                needed = b->sizeHint().width();
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                needed = g->fontMetrics().horizontalAdvance(g->title());
            else if (auto* l = qobject_cast<QLabel*>(w))
                needed = l->sizeHint().width();
            QVERIFY2(needed <= w->width(), qPrintable(QStringLiteral("%1 needs %2 pixels, has %3")
                                                          .arg(w->metaObject()->className())
                                                          .arg(needed)
                                                          .arg(w->width())));
        }
    }

private slots:
    void controlsAtTheirPlaces() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        Form1 form(dialogs, desktop);
        struct Expect {
            QWidget* widget;
            QString caption;
        };
        const QList<Expect> expected = {
            {form.PushButton1, "Add TIFF File(s)"},
            {form.PushButton4, "Add All TIFF File(s) In Folder"},
            {form.PushButton6, "Clear List"},
            {form.PushButton7, "Load Sample/Example Files"},
            {form.Frame1, "Save Option"},
            {form.Option1, "Save results to this folder:"},
            {form.Frame4, ""},
            {form.PushButton9, "..."},
            {form.Option2, "Save results in folder of original file"},
            {form.PushButton2, "Start Converting"},
            {form.Option3, "Direct: exact 1-bit pages, compact colour"},
            {form.Option4, "Through PDF (tiff2pdf + pdf2djvu)"},
            {form.Check1, "Make text searchable (OCR)"},
            {form.PushButton3, "Stop"},
            {form.Check2, "Join all files into one document"},
            {form.Check3, "Smaller black-and-white pages (lossy)"},
        };
        for (const Expect& e : expected) {
            if (auto* b = qobject_cast<QAbstractButton*>(e.widget))
                QCOMPARE(b->text(), e.caption);
            if (auto* g = qobject_cast<QGroupBox*>(e.widget))
                QCOMPARE(g->title(), e.caption);
            QCOMPARE(e.widget->font().family(), QStringLiteral("Arial"));
        }
        checkLayout(form);
        QCOMPARE(form.Option1->parentWidget(), form.Frame1);
        QCOMPARE(form.Text1->parentWidget(), form.Frame4);
        QCOMPARE(form.PushButton9->parentWidget(), form.Frame4);
        QCOMPARE(form.Frame4->parentWidget(), form.Frame1);
        QVERIFY(form.ListView1->font().bold());
        QCOMPARE(form.ProgressBar1->text(), QStringLiteral("Progress Bar"));
        QCOMPARE(form.ProgressBar1->value(), 0);
        QVERIFY(form.Option1->isChecked());
        QVERIFY(!form.Option2->isChecked());
        QCOMPARE(form.Label1->text(), QStringLiteral("Encoder:"));
        QVERIFY(!form.Option3->isChecked());
        QVERIFY(form.Option4->isChecked());
        QVERIFY(!form.Check1->isChecked());
        QCOMPARE(form.Check1->parentWidget(), form.Option4->parentWidget());
        // "Stop" is of use only during a run; the count below it is empty until then.
        QVERIFY(!form.PushButton3->isEnabled());
        QCOMPARE(form.Label2->text(), QString());
        QVERIFY(!form.Check2->isChecked());
        QCOMPARE(form.Check2->parentWidget(), form.Option4->parentWidget());
        QVERIFY(!form.Check3->isChecked());
        QCOMPARE(form.Check3->parentWidget(), form.Option4->parentWidget());
        // Under the direct route's button, indented: it belongs to that route.
        QCOMPARE(form.Check3->y(), form.Option3->y() + form.twipsY(280));
        QVERIFY(form.Check3->x() > form.Option3->x());
        // The window grows by the encoder row, nothing else moves.
        QCOMPARE(form.size(), QSize(form.twipsX(8040), form.twipsY(8175)));
    }

    void columnHeader() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        Form_Load(form, [] { return 1; });
        QCOMPARE(form.ListView1->columnHeader(), QStringLiteral("TIFF File(s)"));
        QCOMPARE(form.ListView1->columnWidth(0), form.twipsX(7300));
        // A long path scrolls sideways rather than being cut off.
        form.show();
        form.files().add(QString(400, QLatin1Char('x')));
        form.ListView1->header()->resizeSection(0, 4000);
        QCoreApplication::processEvents();
        QVERIFY(form.ListView1->horizontalScrollBar()->maximum() > 0);
    }

    // The list's help text shows wherever the pointer rests on it, over a row too.
    void toolTipOverRows() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        Form1 form(dialogs, desktop);
        form.files().add(QStringLiteral("/scans/a.tif"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QWidget* viewport = form.ListView1->viewport();
        const QPoint overRow =
            form.ListView1->visualRect(form.ListView1->model()->index(0, 0)).center();
        const QPoint belowRows(overRow.x(), viewport->height() - 5);
        for (const QPoint& at : {overRow, belowRows}) {
            QHelpEvent event(QEvent::ToolTip, at, viewport->mapToGlobal(at));
            QApplication::sendEvent(viewport, &event);
            QTRY_COMPARE(QToolTip::text(),
                         QStringLiteral("Drag and drop files here. Double-click item to remove "
                                        "it. Move | line to right and out of window to reveal "
                                        "full names."));
            QToolTip::hideText();
        }
    }

    void optionsClearEachOtherButCanBothBeOff() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        Form1 form(dialogs, desktop);
        form.Option2->setChecked(true);
        QVERIFY(!form.Option1->isChecked());
        form.Option2->setChecked(false);
        QVERIFY(!form.Option1->isChecked() && !form.Option2->isChecked());
        form.Option1->click();
        form.Option1->click(); // a click never clears an option
        QVERIFY(form.Option1->isChecked());
        QVERIFY(!form.Option2->isChecked());
        QCOMPARE(form.Label1->text(), QStringLiteral("Encoder:"));
        QVERIFY(!form.Option3->isChecked());
        QVERIFY(form.Option4->isChecked());
        // The window grows by the encoder row, nothing else moves.
        QCOMPARE(form.size(), QSize(form.twipsX(8040), form.twipsY(8175)));
    }

    void progressPositionsClamp_data() {
        QTest::addColumn<double>("position");
        QTest::addColumn<int>("shown");
        QTest::newRow("inside") << 33.3 << 33;
        QTest::newRow("half to even down") << 2.5 << 2;
        QTest::newRow("half to even up") << 3.5 << 4;
        QTest::newRow("above 100") << 133.0 << 100;
        QTest::newRow("below 0") << -4.0 << 0;
        QTest::newRow("nan") << std::nan("") << 0;
    }
    void progressPositionsClamp() {
        ProgressBar bar;
        QFETCH(double, position);
        bar.setPosition(position);
        QFETCH(int, shown);
        QCOMPARE(bar.value(), shown);
        bar.setText(QStringLiteral("Processing: 50%p.tif"));
        QCOMPARE(bar.text(), QStringLiteral("Processing: 50%p.tif"));
    }

    void pointerRules() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        Form1 form(dialogs, desktop);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QList<QPushButton*> buttons = form.pushButtons();
        QCOMPARE(buttons.size(), 7);
        for (QPushButton* b : buttons) {
            QTest::mouseMove(b);
            QCOMPARE(form.MousePointer(), int(Form1::Custom));
            // Without a pointer file, the platform's hand.
            QCOMPARE(form.cursor().shape(), Qt::PointingHandCursor);
            QTest::mouseMove(form.ListView1->viewport());
            QCOMPARE(form.MousePointer(), int(Form1::Default));
        }
        QTest::mouseMove(form.PushButton2);
        QTest::mouseMove(form.Frame1, QPoint(5, 5));
        QCOMPARE(form.MousePointer(), int(Form1::Default));
        QTest::mouseMove(form.PushButton2);
        QTest::mouseMove(&form, QPoint(2, 2));
        QCOMPARE(form.MousePointer(), int(Form1::Default));

        // The hourglass stays whatever the pointer crosses.
        form.setMousePointer(Form1::Hourglass);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        for (QWidget* w : {static_cast<QWidget*>(form.PushButton1), form.ListView1->viewport(),
                           static_cast<QWidget*>(form.Frame4)}) {
            QTest::mouseMove(w);
            QCOMPARE(form.MousePointer(), int(Form1::Hourglass));
        }
        form.setMousePointer(Form1::Default);
        QVERIFY(QApplication::overrideCursor() == nullptr);

        form.setMouseIcon(QCursor(Qt::CrossCursor));
        QTest::mouseMove(form.PushButton4);
        QCOMPARE(form.cursor().shape(), Qt::CrossCursor);
    }

    void closingEndsTheProgramAtOnce() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        Form1 form(dialogs, desktop);
        int ended = 0;
        form.unload = [&] { ++ended; };
        form.show();
        form.close();
        QCOMPARE(ended, 1);
        QCOMPARE(dialogs.boxes.size(), 0); // asks nothing
    }

    // The real unload, from inside a handler that is processing events: the process ends there
    // and then, without returning into the handler.
    void closingDuringLongWorkEndsTheProcess() {
        test::TestEnv env;
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VORMELLE_UNLOAD_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QByteArray out = child.readAllStandardOutput();
        QVERIFY2(out.contains("working"), out.constData());
        QVERIFY2(!out.contains("returned"), out.constData());
    }

    // Last: the German texts stay installed for the rest of the process.
    void germanCaptionsFit() {
        QVERIFY(!translations::install(QLocale(QLocale::German, QLocale::Germany)).isEmpty());
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        Form1 form(dialogs, desktop);
        QCOMPARE(form.PushButton2->text(), QStringLiteral("Umwandlung starten"));
        checkLayout(form);
    }
};

namespace {

// The child of closingDuringLongWorkEndsTheProcess: a handler that keeps processing events
// while the window is closed under it.
int unloadChild(int argc, char** argv) {
    QApplication app(argc, argv);
    test::ScriptedDialogs dialogs;
    test::RecordingDesktop desktop;
    Form1 form(dialogs, desktop);
    form.show();
    QTimer::singleShot(50, &form, [&form] {
        std::puts("working");
        std::fflush(stdout);
        QTimer::singleShot(50, &form, [&form] { form.close(); });
        for (int i = 0; i < 400; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(10);
        }
        std::puts("returned");
    });
    return QApplication::exec() == 0 ? 3 : 4;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet("VORMELLE_UNLOAD_CHILD"))
        return unloadChild(argc, argv);
    QApplication app(argc, argv);
    Form1Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form1.moc"
