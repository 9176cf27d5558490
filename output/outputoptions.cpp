// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/outputoptions.h"

#include "app/controls.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/rememberedfolder.h"
#include "app/settingsstore.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace vormelle::outputoptions {

namespace {

// These small handlers carry a trap too: a settings file that cannot be written is reported,
// and the program goes on.
constexpr char kOption1Trace[] = "in Tessary2021/08/31.Form1.Option1_Click ";
constexpr char kOption2Trace[] = "in Tessary2021/08/31.Form1.Option2_Click ";
constexpr char kText1Trace[] = "in Tessary2021/08/31.Form1.Text1_Change ";

void optionClick(Form1& form, const char* traceText) {
    runNumbered(form, traceText, 100, [&form](int line) {
        switch (line) {
        case 100:
            settings::SaveSetting(QStringLiteral("Option1"),
                                  settings::booleanText(form.Option1->isChecked()));
            return 102;
        case 102:
            settings::SaveSetting(QStringLiteral("Option2"),
                                  settings::booleanText(form.Option2->isChecked()));
            return 104;
        case 104:
            form.Frame4->setEnabled(form.Option1->isChecked());
            return kEndHandler;
        default:
            return kEndHandler;
        }
    });
}

} // namespace

void Option1_Click(Form1& form) {
    optionClick(form, kOption1Trace);
}

void Option2_Click(Form1& form) {
    optionClick(form, kOption2Trace);
}

void Text1_Change(Form1& form) {
    runStatement(form, kText1Trace, 100,
                 [&form] { settings::SaveSetting(QStringLiteral("Text1"), form.Text1->text()); });
}

void PushButton9_Click(Form1& form) {
    const QChar sep = QLatin1Char('/');
    QString picked;
    const auto decide = [&picked, sep] { return picked.endsWith(sep) ? 108 : 106; };
    runNumbered(
        form, trace::PushButton9_Click, 100,
        [&](int line) {
            switch (line) {
            case 100:
                picked = rememberedfolder::pick(form, QStringLiteral("LastFolderDot"));
                return 102;
            case 102:
                return picked.isEmpty() ? kEndHandler : 104;
            case 104:
                rememberedfolder::remember(QStringLiteral("LastFolderDot"), picked);
                return decide();
            case 106:
                form.Text1->setText(picked + sep);
                return kEndHandler;
            case 108:
                form.Text1->setText(picked);
                return kEndHandler;
            default:
                return kEndHandler;
            }
        },
        [&decide](int line) {
            switch (line) {
            case 104: // a failed store still goes on to the decision on the same line
                return decide();
            case 106: // the other text is not a fallback
                return kEndHandler;
            default:
                return line + 2;
            }
        });
}

QString LastOutputFolder() {
    return rememberedfolder::lastPicked(QStringLiteral("LastFolderDot"));
}

void connect(Form1& form) {
    QObject::connect(form.Option1, &QAbstractButton::clicked, &form,
                     [&form] { Option1_Click(form); });
    QObject::connect(form.Option2, &QAbstractButton::clicked, &form,
                     [&form] { Option2_Click(form); });
    // textChanged, not textEdited: a text set by the program is stored as well.
    QObject::connect(form.Text1, &QLineEdit::textChanged, &form, [&form] { Text1_Change(form); });
    QObject::connect(form.PushButton9, &QPushButton::clicked, &form,
                     [&form] { PushButton9_Click(form); });
}

} // namespace vormelle::outputoptions
