// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/form1.h"
#include "app/program/batch.h"
#include "app/program/commandline.h"
#include "app/program/handlers.h"
#include "app/program/runwatch.h"
#include "app/program/startup.h"
#include "app/program/texts.h"
#include "app/startupenv.h"
#include "app/translations.h"
#include "platform/filesystem.h"
#include "platform/qtdialogs.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

using vormelle::batch::print;

int main(int argc, char* argv[]) {
    namespace cli = vormelle::commandline;
    // Read before Qt starts: only the window needs a display.
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    cli::CommandLine command = cli::parse(arguments, vormelle::platform::currentFolder());

    // The arguments are ours: Qt sees none of them, so a file named like one of its options
    // stays a file.
    int qtArgc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (command.action == cli::CommandLine::Action::Window)
        app = std::make_unique<QApplication>(qtArgc, argv);
    else
        app = std::make_unique<QCoreApplication>(qtArgc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vormelle"));
    vormelle::translations::install();
    // Once more, now that a mistake can be told in the user's language.
    if (command.action == cli::CommandLine::Action::UsageError)
        command = cli::parse(arguments, vormelle::platform::currentFolder());

    switch (command.action) {
    case cli::CommandLine::Action::Help:
        print(stdout, cli::usage());
        return 0;
    case cli::CommandLine::Action::Version:
        print(stdout, cli::version() + QLatin1Char('\n'));
        return 0;
    case cli::CommandLine::Action::UsageError:
        print(stderr, cli::usageErrorText(command.error));
        return cli::kExitUsage;
    case cli::CommandLine::Action::Convert:
        return vormelle::batch::run(command);
    case cli::CommandLine::Action::Window:
        break;
    }

    // The desktop entry's name, so the desktop matches the window to its menu entry and icon.
    QApplication::setDesktopFileName(QStringLiteral(VORMELLE_APP_ID));

    // Relative paths (an output folder typed as "out") never depend on where it was started.
    vormelle::startup::workInHomeFolder();

    vormelle::platform::QtDialogs dialogs;
    vormelle::platform::QtDesktop desktop;
    vormelle::Form1 form(dialogs, desktop);
    vormelle::connectHandlers(form);
    vormelle::Form_Load(form);
    vormelle::runwatch::connect(form);
    const QStringList missing = vormelle::addStartInputs(form, command.inputs);
    for (const QString& name : missing)
        print(stderr, QStringLiteral("vormelle: ") +
                          vormelle::program::Texts::tr("%1: no such file or folder").arg(name) +
                          QLatin1Char('\n'));
    form.show();
    return QApplication::exec();
}
