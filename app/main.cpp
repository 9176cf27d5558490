#include "app/form1.h"
#include "app/handlers.h"
#include "app/startup.h"
#include "platform/qtdialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vormelle"));
    // The desktop entry's name, so the desktop matches the window to its menu entry and icon.
    QApplication::setDesktopFileName(QStringLiteral("vormelle"));

    vormelle::platform::QtDialogs dialogs;
    vormelle::platform::QtDesktop desktop;
    vormelle::Form1 form(dialogs, desktop);
    vormelle::connectHandlers(form);
    vormelle::Form_Load(form);
    form.show();
    return QApplication::exec();
}
