#include "app/form1.h"
#include "app/handlers.h"
#include "platform/qtdialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vormelle"));
    vormelle::platform::setApplicationTitle(QStringLiteral("Vormelle"));

    vormelle::platform::QtDialogs dialogs;
    vormelle::platform::QtDesktop desktop;
    vormelle::Form1 form(dialogs, desktop);
    vormelle::connectHandlers(form);
    form.show();
    return QApplication::exec();
}
