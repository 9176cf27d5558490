#include "app/form1.h"
#include "app/handlers.h"
#include "app/startup.h"
#include "app/startupenv.h"
#include "platform/qtdialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vormelle"));
    // The desktop entry's name, so the desktop matches the window to its menu entry and icon.
    QApplication::setDesktopFileName(QStringLiteral("vormelle"));

    // Relative paths (an output folder typed as "out") never depend on where it was started.
    vormelle::startup::WorkInHomeFolder();

    vormelle::platform::QtDialogs dialogs;
    vormelle::platform::QtDesktop desktop;
    vormelle::Form1 form(dialogs, desktop);
    vormelle::connectHandlers(form);
    vormelle::Form_Load(form);
    form.show();
    return QApplication::exec();
}
