// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader and a keyboard user get from the real window, on the offscreen platform.
#include "app/controls.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/program/handlers.h"
#include "app/program/startup.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace vormelle;

namespace {

struct Window {
    test::TestEnv env;
    test::ScriptedDialogs dialogs;
    test::RecordingDesktop desktop;
    Form1 form{dialogs, desktop};
};

QAccessibleInterface* accessible(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w);
}

// Moves the keyboard focus with Tab until `target` has it, as a keyboard user does.
bool tabTo(Form1& form, QWidget* target) {
    for (int i = 0; i < 30 && QApplication::focusWidget() != target; ++i)
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &form,
                        Qt::Key_Tab);
    return QApplication::focusWidget() == target;
}

} // namespace

class AccessibilityTest final : public QObject {
    Q_OBJECT
private slots:
    void namesAndRoles() {
        Window w;
        Form1& f = w.form;
        struct Expect {
            QWidget* widget;
            QAccessible::Role role;
            const char* name;
        };
        const Expect expected[] = {
            {f.ListView1, QAccessible::Tree, "TIFF files to convert"},
            {f.PushButton1, QAccessible::Button, "Add TIFF File(s)"},
            {f.PushButton4, QAccessible::Button, "Add All TIFF File(s) In Folder"},
            {f.PushButton6, QAccessible::Button, "Clear List"},
            {f.PushButton7, QAccessible::Button, "Load Sample/Example Files"},
            {f.Frame1, QAccessible::Grouping, "Save Option"},
            {f.Option1, QAccessible::RadioButton, "Save results to this folder:"},
            {f.Text1, QAccessible::EditableText, "Output folder"},
            {f.PushButton9, QAccessible::Button, "Choose output folder"},
            {f.Option2, QAccessible::RadioButton, "Save results in folder of original file"},
            {f.PushButton2, QAccessible::Button, "Start Converting"},
            {f.ProgressBar1, QAccessible::ProgressBar, "Progress"},
        };
        for (const Expect& e : expected) {
            QAccessibleInterface* iface = accessible(e.widget);
            QVERIFY(iface);
            QCOMPARE(iface->role(), e.role);
            QCOMPARE(iface->text(QAccessible::Name), QString::fromUtf8(e.name));
        }
        // The captions the product fixes stay as they are.
        QCOMPARE(f.PushButton9->text(), QStringLiteral("..."));
        // The list's tool tip is what it says about itself.
        QVERIFY(accessible(f.ListView1)
                    ->text(QAccessible::Description)
                    .startsWith(QStringLiteral("Drag and drop files here.")));

        // No control that takes the focus is left nameless.
        for (QWidget* child : f.findChildren<QWidget*>()) {
            if (!(child->focusPolicy() & Qt::TabFocus) || !child->isVisibleTo(&f))
                continue;
            QAccessibleInterface* iface = accessible(child);
            QVERIFY2(iface && !iface->text(QAccessible::Name).isEmpty(),
                     child->metaObject()->className());
        }
    }

    // The options stay radio buttons in every state a start-up can restore, neither included.
    void optionsAreRadioButtonsInEveryState_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("option1");
        QTest::addColumn<bool>("option2");
        QTest::newRow("first start") << QByteArray() << true << false;
        QTest::newRow("Option2") << QByteArray("Option1=False\nOption2=True\n") << false << true;
        QTest::newRow("neither") << QByteArray("Option1=False\nOption2=False\n") << false << false;
        QTest::newRow("both, the later wins")
            << QByteArray("Option1=True\nOption2=True\n") << false << true;
    }
    void optionsAreRadioButtonsInEveryState() {
        Window w;
        QFETCH(QByteArray, stored);
        QFile settings(w.env.settingsFile());
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[Vormelle]\n" + stored);
        settings.close();
        connectHandlers(w.form);
        Form_Load(w.form, [] { return 1; });
        QTEST(w.form.Option1->isChecked(), "option1");
        QTEST(w.form.Option2->isChecked(), "option2");
        for (OptionButton* o : {w.form.Option1, w.form.Option2}) {
            QAccessibleInterface* iface = accessible(o);
            QCOMPARE(iface->role(), QAccessible::RadioButton);
            QVERIFY(iface->state().checkable);
            QCOMPARE(bool(iface->state().checked), o->isChecked());
        }
        QCOMPARE(w.dialogs.boxes.size(), 0);
    }

    // Return on a focused push button clicks it, as the space bar does; on an option button it
    // selects it.
    void returnActivatesFocusedButton() {
        Window w;
        w.form.show();
        QApplication::setActiveWindow(&w.form);
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
        for (QPushButton* b : w.form.pushButtons()) {
            if (!b->isEnabled())
                continue; // "Stop", between runs
            QSignalSpy clicked(b, &QAbstractButton::clicked);
            b->setFocus(Qt::TabFocusReason);
            QTest::keyClick(b, Qt::Key_Return);
            QTest::keyClick(b, Qt::Key_Enter);
            QCOMPARE(clicked.count(), 2);
        }
        w.form.Option1->setChecked(false);
        QSignalSpy clicked(w.form.Option2, &QAbstractButton::clicked);
        w.form.Option2->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w.form.Option2, Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(w.form.Option2->isChecked());
        QTest::keyClick(w.form.Option2, Qt::Key_Return); // a selected option stays selected
        QVERIFY(w.form.Option2->isChecked());
        QVERIFY(!w.form.Option1->isChecked());
    }

    // An empty list that has the keyboard focus shows it; the view draws focus only on a row.
    void focusShowsOnEmptyList() {
        Window w;
        w.form.show();
        QApplication::setActiveWindow(&w.form);
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
        QWidget* viewport = w.form.ListView1->viewport();
        QVERIFY(tabTo(w.form, w.form.PushButton1));
        const QImage unfocused = viewport->grab().toImage();
        QVERIFY(tabTo(w.form, w.form.ListView1));
        const QImage focused = viewport->grab().toImage();
        QVERIFY(focused != unfocused);
        // Leaving it takes the mark away again.
        QVERIFY(tabTo(w.form, w.form.PushButton1));
        QCOMPARE(viewport->grab().toImage(), unfocused);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
