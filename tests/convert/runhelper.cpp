// SPDX-License-Identifier: GPL-3.0-or-later
// Test-only: the program's window with every handler wired in, running one conversion in a
// process of its own, for the tests that end, kill or double the program.
//   vormelle_runhelper <program folder> <output folder, "" for beside each input>
//                      <"convert" | "close-when:<file>"> <input>...
// "convert" prints the closing box and exits with 0. "close-when" closes the window as soon as
// <file> exists during the run, as the user does. Each box shown goes to the error output.
// The signals that end a program have their default action, as for a program started by hand.
// VORMELLE_FAULT_PRELOAD names a library that the converters get preloaded.

#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/program/handlers.h"
#include "tests/support/scripteddialogs.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <csignal>
#include <cstdio>

using namespace vormelle;

int main(int argc, char* argv[]) {
    // As started from a desktop or a terminal, whatever the test runner ignores.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        std::signal(signal, SIG_DFL);
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: vormelle_runhelper <program> <output> <action> <input>...\n");
        return 2;
    }
    // Set here, not by the caller: the helper itself may carry a sanitizer runtime.
    const QByteArray preload = qgetenv("VORMELLE_FAULT_PRELOAD");
    if (!preload.isEmpty())
        qputenv("LD_PRELOAD", preload);

    test::ScriptedDialogs dialogs;
    test::RecordingDesktop desktop;
    Form1 form(dialogs, desktop);
    connectHandlers(form);
    paths::setProgramFolder(args[1]);
    if (args[2].isEmpty()) {
        form.Option2->click();
    } else {
        form.Option1->click();
        form.Text1->setText(args[2]);
    }
    for (const QString& input : args.mid(4))
        form.files().add(input);
    form.show();

    const QString action = args[3];
    if (action.startsWith(QStringLiteral("close-when:"))) {
        const QString trigger = action.section(QLatin1Char(':'), 1);
        dialogs.onBox = [](const test::ShownBox& box) {
            std::fprintf(stderr, "asked: %s\n", qPrintable(box.text));
        };
        auto* poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, &form, [&form, trigger] {
            if (QFile::exists(trigger))
                form.close();
        });
        poll->start(20);
    }
    form.PushButton2->click();
    const QString closing = dialogs.boxes.isEmpty() ? QString() : dialogs.boxes.back().text;
    std::fputs(closing.toUtf8().constData(), stdout);
    return 0;
}
