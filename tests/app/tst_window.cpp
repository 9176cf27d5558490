// SPDX-License-Identifier: GPL-3.0-or-later
// The window beyond its first size: resizing and maximising, the remembered size, rows cut in
// the middle, and its keys (Ctrl+Q, F1, Alt+letter).
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/mnemonics.h"
#include "app/program/handlers.h"
#include "app/program/runwatch.h"
#include "app/program/startup.h"
#include "app/program/windowkeys.h"
#include "app/settingsstore.h"
#include "app/windowsize.h"
#include "platform/basicerror.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/permissionbits.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

using namespace vormelle;

namespace {

const QString kHelp = QStringLiteral("Drag and drop files here. Double-click item to remove it. "
                                     "Move | line to right and out of window to reveal full "
                                     "names.");

// The window's own controls with their places, in window coordinates.
QHash<QWidget*, QRect> places(Form1& form) {
    QHash<QWidget*, QRect> found;
    for (QWidget* w : form.findChildren<QWidget*>()) {
        if (w->isWindow() || w->parentWidget()->inherits("QAbstractScrollArea") ||
            w->parentWidget()->inherits("QHeaderView") || qobject_cast<QScrollBar*>(w) ||
            w->parent() != w->parentWidget() || w->parentWidget() == form.ListView1)
            continue;
        found.insert(w, QRect(w->mapTo(&form, QPoint(0, 0)), w->size()));
    }
    return found;
}

// The pairs of controls side by side that overlap (the places themselves have a few: an option
// button's box reaches into the frame below it).
QSet<QPair<QWidget*, QWidget*>> overlaps(Form1& form) {
    const QHash<QWidget*, QRect> all = places(form);
    QSet<QPair<QWidget*, QWidget*>> found;
    for (auto a = all.cbegin(); a != all.cend(); ++a)
        for (auto b = all.cbegin(); b != all.cend(); ++b)
            if (a.key() != b.key() && a.key()->parentWidget() == b.key()->parentWidget() &&
                a.value().intersects(b.value()))
                found.insert({a.key(), b.key()});
    return found;
}

// Nothing leaves the window, and nothing overlaps that did not at the first size.
void checkNoOverlap(Form1& form, const QSet<QPair<QWidget*, QWidget*>>& atFirst) {
    for (auto [w, place] : places(form).asKeyValueRange())
        QVERIFY2(form.rect().contains(place), w->metaObject()->className());
    for (const auto& [a, b] : overlaps(form))
        QVERIFY2(atFirst.contains(qMakePair(a, b)),
                 qPrintable(QStringLiteral("%1 / %2").arg(a->metaObject()->className(),
                                                          b->metaObject()->className())));
}

QString stored() {
    return settings::GetSetting(QString::fromLatin1(windowsize::kSetting), QStringLiteral("-"));
}

} // namespace

class WindowTest final : public QObject {
    Q_OBJECT

private slots:
    // Larger, the list takes the room and the full-width controls stretch with it; back at the
    // first size every control is where it was.
    void growsAndComesBack() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        Form_Load(form, [] { return 1; });
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QSize first = form.firstSize();
        QCOMPARE(form.size(), first);
        QCOMPARE(form.minimumSize(), first);
        const QHash<QWidget*, QRect> atFirst = places(form);
        const QSet<QPair<QWidget*, QWidget*>> overlapsAtFirst = overlaps(form);
        QVERIFY(overlapsAtFirst.size() <= 4);
        const QRect list = form.ListView1->geometry();
        const int column = form.ListView1->columnWidth(0);

        form.resize(1000, 800);
        QCOMPARE(form.size(), QSize(1000, 800));
        const int dw = 1000 - first.width();
        const int dh = 800 - first.height();
        QCOMPARE(form.ListView1->geometry(), list.adjusted(0, 0, dw, dh));
        QCOMPARE(form.ListView1->columnWidth(0), column + dw);
        for (QWidget* w : QList<QWidget*>{form.PushButton2, form.ProgressBar1, form.Frame1,
                                          form.PushButton4, form.PushButton7})
            QCOMPARE(w->geometry().right(), form.ListView1->geometry().right());
        QCOMPARE(form.PushButton1->width() + form.PushButton4->width(),
                 atFirst[form.PushButton1].width() + atFirst[form.PushButton4].width() + dw);
        QCOMPARE(form.PushButton9->geometry().right() + form.Frame4->geometry().x(),
                 atFirst[form.PushButton9].right() - form.Frame1->x() + dw);
        // Everything below the list moved down by what the list grew.
        QCOMPARE(form.ProgressBar1->y(), atFirst[form.ProgressBar1].y() + dh);
        QCOMPARE(form.PushButton3->pos(), atFirst[form.PushButton3].topLeft() + QPoint(dw, dh));
        checkNoOverlap(form, overlapsAtFirst);

        // Smaller than the first size it does not go; back at it, nothing has moved.
        form.resize(first);
        QCOMPARE(places(form), atFirst);
        QCOMPARE(form.ListView1->columnWidth(0), column);
        form.resize(first - QSize(100, 100));
        QCOMPARE(form.size(), first);

        // Maximised, the whole screen.
        form.showMaximized();
        QTRY_VERIFY(form.isMaximized());
        QTRY_VERIFY(form.width() > first.width());
        checkNoOverlap(form, overlapsAtFirst);
        QCOMPARE(form.ListView1->geometry().right(), form.ProgressBar1->geometry().right());
    }

    // What a stored size gives at start: never below the first size, never beyond the screen.
    void restoresTheStoredSize_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("size"); // an empty size for the first size, 1x1 for the screen
        QTest::addColumn<bool>("maximized");
        QTest::newRow("missing") << QString() << QSize() << false;
        QTest::newRow("a size") << "700x580" << QSize(700, 580) << false;
        QTest::newRow("spaces") << " 700x580 " << QSize(700, 580) << false;
        QTest::newRow("maximized") << "700x580 maximized" << QSize(700, 580) << true;
        QTest::newRow("smaller") << "100x100" << QSize() << false;
        QTest::newRow("garbage") << "wide" << QSize() << false;
        QTest::newRow("negative") << "-700x580" << QSize() << false;
        QTest::newRow("zero") << "0x0" << QSize() << false;
        QTest::newRow("huge") << "99999x99999" << QSize(1, 1) << false;
        QTest::newRow("other words") << "700x580 tall" << QSize() << false;
    }
    void restoresTheStoredSize() {
        QFETCH(QString, text);
        QFETCH(QSize, size);
        QFETCH(bool, maximized);
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        if (!text.isNull())
            settings::SaveSetting(QString::fromLatin1(windowsize::kSetting), text);
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        Form_Load(form, [] { return 1; });
        const QSize available = form.screen()->availableSize();
        const QSize expected = size == QSize(1, 1) ? available.expandedTo(form.firstSize())
                                                   : (size.isEmpty() ? form.firstSize() : size);
        QCOMPARE(form.size(), expected);
        QCOMPARE(form.windowState().testFlag(Qt::WindowMaximized), maximized);
        QCOMPARE(form.ListView1->columnWidth(0),
                 form.twipsX(7300) + form.width() - form.firstSize().width());
        QCOMPARE(dialogs.boxes.size(), 0);
    }

    // A size the user gives is written once the resizing has settled, into the same file as
    // the other settings; one the file cannot take troubles nobody.
    void remembersTheSize() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        Form_Load(form, [] { return 1; });
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::qWait(600);
        QCOMPARE(stored(), QStringLiteral("-")); // the first size is not written
        form.resize(640, 560);
        form.resize(650, 570);
        QTRY_COMPARE(stored(), QStringLiteral("650x570"));
        QVERIFY(QString::fromUtf8(test::fileBytes(env.settingsFile()))
                    .contains(QStringLiteral("WindowSize=650x570")));

        form.showMaximized();
        QTRY_COMPARE(stored(), QStringLiteral("650x570 maximized"));

        // A settings file that cannot be written: no box now, and the one report of it is left
        // for the user's own choices.
        const test::PermissionBitsApply bits;
        QVERIFY(
            QFile::setPermissions(env.configDir(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        form.showNormal();
        form.resize(660, 575);
        QTest::qWait(800);
        QCOMPARE(dialogs.boxes.size(), 0);
        QVERIFY(!QString::fromUtf8(test::fileBytes(env.settingsFile())).contains(u"660x575"));
        // The store's own first report is still there for the user's choices.
        QVERIFY_THROWS_EXCEPTION(
            BasicError, settings::SaveSetting(QStringLiteral("Text1"), QStringLiteral("x")));
        QVERIFY(QFile::setPermissions(env.configDir(), QFileDevice::ReadOwner |
                                                           QFileDevice::WriteOwner |
                                                           QFileDevice::ExeOwner));
    }

    // A long folder leaves each row's file name in view, cut in the middle; the tool tip over
    // a cut row gives the whole path before the list's own help text, and over a whole one the
    // help text alone.
    void longRowsShowTheirNames() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        Form_Load(form, [] { return 1; });
        const QString folder = QStringLiteral("/home/user/scans/") + QString(30, u'x') +
                               QStringLiteral("/archive/2026/box-17/<b>folder&more</b>/");
        for (int i = 0; i < 3; ++i)
            form.files().add(folder + QStringLiteral("page-%1.tif").arg(i));
        form.files().add(QStringLiteral("/s/a.tif"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.ListView1->textElideMode(), Qt::ElideMiddle);

        ListView& list = *form.ListView1;
        QWidget* viewport = list.viewport();
        const int margin =
            list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1;
        for (int row = 0; row < 3; ++row) {
            QVERIFY(!list.rowShownWhole(row));
            // As the view draws it: the name at the end stays.
            const QString shown =
                list.fontMetrics().elidedText(form.files().files().at(row), list.textElideMode(),
                                              list.columnWidth(0) - 2 * margin);
            QVERIFY2(shown.endsWith(QStringLiteral("page-%1.tif").arg(row)), qPrintable(shown));
            QVERIFY(shown.contains(QChar(0x2026)));

            const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
            QHelpEvent event(QEvent::ToolTip, at, viewport->mapToGlobal(at));
            QApplication::sendEvent(viewport, &event);
            QTRY_VERIFY(QToolTip::isVisible());
            const QString tip = QToolTip::text();
            QVERIFY2(tip.contains(form.files().files().at(row).toHtmlEscaped()), qPrintable(tip));
            QVERIFY(tip.contains(kHelp));
            QVERIFY(!tip.contains(QStringLiteral("<b>folder"))); // a name is no markup
            QToolTip::hideText();
        }
        // After a run, the row's own tip (what became of it) in place of the help text.
        form.files().setOutcome(0, RowState::Failed, QStringLiteral("not a TIFF file"));
        {
            const QPoint over = list.visualRect(list.model()->index(0, 0)).center();
            QHelpEvent event(QEvent::ToolTip, over, viewport->mapToGlobal(over));
            QApplication::sendEvent(viewport, &event);
            QTRY_VERIFY(QToolTip::text().contains(QStringLiteral("not a TIFF file")));
            QVERIFY(QToolTip::text().contains(form.files().files().at(0).toHtmlEscaped()));
            QVERIFY(!QToolTip::text().contains(kHelp));
            QToolTip::hideText();
        }
        QVERIFY(list.rowShownWhole(3));
        const QPoint at = list.visualRect(list.model()->index(3, 0)).center();
        QHelpEvent event(QEvent::ToolTip, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &event);
        QTRY_COMPARE(QToolTip::text(), kHelp);
        QToolTip::hideText();

        // Wider, more of each path shows; dragged wide enough, the whole of it.
        form.resize(1000, 800);
        list.header()->resizeSection(0, 4000);
        QVERIFY(list.rowShownWhole(0) || list.horizontalScrollBar()->maximum() > 0);
    }

    // Ctrl+Q is the close button: the run's say first, then the program's end.
    void ctrlQCloses() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        int ended = 0;
        bool allow = false;
        int asked = 0;
        form.unload = [&] { ++ended; };
        form.mayClose = [&] {
            ++asked;
            return allow;
        };
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(form.ListView1, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(asked, 1);
        QCOMPARE(ended, 0);
        QVERIFY(form.isVisible());
        allow = true;
        QTest::keyClick(form.Text1, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(asked, 2);
        QCOMPARE(ended, 1);
        QVERIFY(!form.isVisible());
    }

    void f1ShowsAbout() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(form.PushButton2, Qt::Key_F1);
        QCOMPARE(dialogs.boxes.size(), 1);
        const test::ShownBox& box = dialogs.boxes.front();
        QCOMPARE(box.title, QStringLiteral("About Vormelle"));
        QVERIFY2(box.text.startsWith(QStringLiteral("Vormelle " VORMELLE_VERSION "\n")),
                 qPrintable(box.text));
        QVERIFY(box.text.contains(QStringLiteral("GPL-3.0-or-later")));
        QCOMPARE(box.buttons, platform::Buttons::Ok);
        QCOMPARE(windowkeys::aboutText(), box.text);
    }

    // Every button has its own Alt+letter, its caption unchanged; the letter works as a click.
    void mnemonicsKeepTheCaptions() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        test::TestEnv env;
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        Form_Load(form, [] { return 1; });
        const QList<QAbstractButton*> buttons = form.findChildren<QAbstractButton*>();
        QSet<QChar> letters;
        for (QAbstractButton* b : buttons) {
            QVERIFY2(!b->text().contains(u'&'), qPrintable(b->text()));
            const QChar letter = b->property("vormelleMnemonic").toChar();
            if (b == form.PushButton9) {
                QVERIFY(letter.isNull()); // "..." has no letter
                continue;
            }
            QVERIFY2(!letter.isNull(), qPrintable(b->text()));
            QVERIFY2(mnemonics::position(b->text(), letter) >= 0, qPrintable(b->text()));
            QVERIFY2(!letters.contains(letter), qPrintable(b->text()));
            letters.insert(letter);
        }
        QCOMPARE(form.PushButton2->property("vormelleMnemonic").toChar(), QChar(u'S'));
        QCOMPARE(form.PushButton1->text(), QStringLiteral("Add TIFF File(s)"));

        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        // "Start Converting" with an empty list says so.
        QTest::keyClick(form.ListView1, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(dialogs.boxes.size(), 1);
        QCOMPARE(dialogs.boxes.front().text, QStringLiteral("No files added."));
        // An option is selected by its letter, and stores its state as a click does.
        const QChar second = form.Option2->property("vormelleMnemonic").toChar();
        QTest::keyClick(form.ListView1, Qt::Key(second.unicode()), Qt::AltModifier);
        QTRY_VERIFY(form.Option2->isChecked());
        QVERIFY(!form.Option1->isChecked());
        QTRY_COMPARE(settings::GetSetting(QStringLiteral("Option2"), QString()),
                     QStringLiteral("True"));
        // A disabled button's letter does nothing.
        QVERIFY(!form.PushButton3->isEnabled());
        const QChar stop = form.PushButton3->property("vormelleMnemonic").toChar();
        QTest::keyClick(form.ListView1, Qt::Key(stop.unicode()), Qt::AltModifier);
        QTest::qWait(300);
        QCOMPARE(dialogs.boxes.size(), 1);
    }

    // The end of a long run is told to the desktop; with no session bus (this test runs with
    // the bus addresses pointing nowhere) nothing fails and the run ends as always. A short run
    // tells nothing.
    void longRunTellsTheDesktop_data() {
        QTest::addColumn<int>("after");
        QTest::addColumn<int>("told");
        QTest::newRow("long") << 0 << 1;
        QTest::newRow("short") << 3600 << 0;
    }
    void longRunTellsTheDesktop() {
        QFETCH(int, after);
        QFETCH(int, told);
        test::RunFixture f;
        runwatch::Watch* watch = runwatch::connect(*f.form, after);
        QSignalSpy notified(watch, &runwatch::Watch::notified);
        const QString input = f.env.path(QStringLiteral("a.tif"));
        test::writeTiff(input, test::TiffKind::BitonalG4);
        f.add(input);
        f.form->Text1->setText(f.env.dir());
        f.start();
        QCOMPARE(f.lastBox(), QStringLiteral("Done."));
        QCOMPARE(notified.size(), told);
        if (told)
            QCOMPARE(notified.front().at(0).toBool(), false); // no bus took it
        QVERIFY(QFileInfo::exists(f.env.path(QStringLiteral("a.djvu"))));
    }

    void notificationBody_data() {
        QTest::addColumn<QString>("closing");
        QTest::addColumn<QString>("body");
        QTest::newRow("done") << "Done."
                              << "Done.";
        QTest::newRow("lines")
            << "Done.\r\n\r\n1 of 2 file(s) could not be converted:\r\na.tif: bad"
            << "Done.\n1 of 2 file(s) could not be converted:\na.tif: bad";
        QTest::newRow("many") << "Done.\r\n\r\nx\r\na\r\nb\r\nc"
                              << "Done.\nx\na\nb\n...";
        QTest::newRow("markup") << "<b>a&b.tif</b>: bad"
                                << "&lt;b&gt;a&amp;b.tif&lt;/b&gt;: bad";
    }
    void notificationBody() {
        QFETCH(QString, closing);
        QFETCH(QString, body);
        QCOMPARE(runwatch::notificationBody(closing), body);
    }

    void mnemonicPosition_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QChar>("letter");
        QTest::addColumn<int>("position");
        QTest::newRow("first") << "Start Converting" << QChar(u'S') << 0;
        QTest::newRow("word start before inside") << "Stop Converting" << QChar(u'C') << 5;
        QTest::newRow("inside a word") << "Stop" << QChar(u'O') << 2;
        QTest::newRow("lower case caption") << "add all" << QChar(u'L') << 5;
        QTest::newRow("missing") << "Stop" << QChar(u'X') << -1;
        QTest::newRow("none") << "Stop" << QChar() << -1;
        QTest::newRow("after a bracket") << "Text (OCR)" << QChar(u'O') << 6;
    }
    void mnemonicPosition() {
        QFETCH(QString, caption);
        QFETCH(QChar, letter);
        QFETCH(int, position);
        QCOMPARE(mnemonics::position(caption, letter), position);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
