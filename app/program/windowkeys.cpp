// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program/windowkeys.h"

#include "app/controls.h"
#include "app/form1.h"
#include "app/mnemonics.h"
#include "app/program/texts.h"
#include "platform/dialogs.h"

#include <QCheckBox>
#include <QPushButton>
#include <QShortcut>

namespace vormelle::windowkeys {

QString aboutText() {
    return program::Texts::tr("%1\n\nConverts TIFF images into DjVu documents.\n\nLicence: GNU "
                              "General Public License, version 3 or later (GPL-3.0-or-later). "
                              "There is no warranty.")
        .arg(QStringLiteral("Vormelle " VORMELLE_VERSION));
}

void connect(Form1& form) {
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &form);
    QObject::connect(quit, &QShortcut::activated, &form, [&form] { form.close(); });
    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), &form);
    QObject::connect(about, &QShortcut::activated, &form, [&form] {
        form.dialogs().messageBox(&form, aboutText(), program::Texts::tr("About Vormelle"),
                                  platform::Buttons::Ok, platform::Icon::Information);
    });
    // "Start Converting" first: it gets its S whatever the language.
    mnemonics::install(form,
                       {form.PushButton2, form.PushButton1, form.PushButton4, form.PushButton6,
                        form.PushButton7, form.PushButton3, form.Option1, form.Option2,
                        form.Option3, form.Option4, form.Check1, form.Check2, form.Check3});
}

} // namespace vormelle::windowkeys
