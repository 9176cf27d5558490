// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program/startup.h"

#include "app/program/batch.h"

#include "app/controls.h"
#include "app/errorreport.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "app/startupenv.h"
#include "app/windowsize.h"
#include "inputs/samples.h"
#include "output/encoderchoice.h"
#include "platform/attributes.h"
#include "platform/basicerror.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

namespace vormelle {

void Form_Load(Form1& form, const std::function<int()>& draw) {
    const QString handPointer =
        paths::programFolder() + QString::fromLatin1(startup::kHandPointerFile);
    const auto snapshotEmpty = [] {
        return settings::GetSetting(QStringLiteral("Snapshot"), QString()).isEmpty();
    };
    const auto readOption = [](const char* key, const char* absent) {
        return settings::toBoolean(
            settings::GetSetting(QString::fromLatin1(key), QString::fromLatin1(absent)));
    };

    runNumbered(
        form, trace::Form_Load, 100,
        [&](int line) {
            switch (line) {
            case 100:
                startup::ApplySkin(form);
                return 102;
            case 102:
                return paths::FileExists(handPointer) ? 104 : 106;
            case 104:
                form.setMouseIcon(startup::loadPointer(handPointer));
                return 106;
            case 106:
                if (draw)
                    startup::VisitHomePageAtRandom(form, draw);
                else
                    startup::VisitHomePageAtRandom(form);
                return 108;
            case 108:
                if (snapshotEmpty())
                    samples::SnapshotSampleFiles();
                return 128;
            case 128:
                if (snapshotEmpty())
                    samples::SnapshotSampleFiles();
                return 130;
            case 130:
                form.setWindowTitle(QString::fromLatin1(startup::kProductName));
                form.setWindowIcon(startup::programIcon());
                startup::SetApplicationTitle();
                return 132;
            case 132:
                form.ListView1->addColumn(Form1::tr("TIFF File(s)"), form.ListView1->width());
                return 134;
            case 134:
                form.ListView1->setColumnWidth(0, form.twipsX(7300));
                return 136;
            case 136:
                // The desktop is looked up only when no folder is stored: a failing lookup must
                // not keep the stored folder from coming back.
                form.Text1->setText(settings::hasSetting(QStringLiteral("Text1"))
                                        ? settings::GetSetting(QStringLiteral("Text1"), QString())
                                        : startup::DesktopFolder());
                return 138;
            case 138:
                form.Option1->setChecked(readOption("Option1", "1"));
                return 140;
            case 140:
                form.Option2->setChecked(readOption("Option2", "0"));
                return 142;
            case 142:
                return form.Option1->isChecked() ? 144 : 146;
            case 144:
                form.Frame4->setEnabled(true);
                return kEndHandler;
            case 146:
                form.Frame4->setEnabled(false);
                return kEndHandler;
            default:
                return kEndHandler;
            }
        },
        [](int failed) {
            switch (failed) {
            case 108:
                return 128; // the numbers between are not used
            case 144:
                return kEndHandler; // the "otherwise" branch is not the next statement
            default:
                return failed + 2;
            }
        });
    // The encoder row came after the numbered statements; its value cannot fail to read.
    encoderchoice::restore(form);
    // Last, so that the column the list was given grows with it.
    windowsize::restore(form);
}

QStringList addStartInputs(Form1& form, const QStringList& names) {
    QStringList missing;
    QStringList present;
    for (const QString& name : names) {
        try {
            platform::fileAttributes(name);
            present.append(name);
        } catch (const BasicError&) {
            missing.append(name);
        }
    }
    // A folder given to the program stands for the scans in it: its TIFF files, as --convert
    // takes them, not every file a drop would list.
    form.files().addRows(batch::expandInputs(present));
    return missing;
}

} // namespace vormelle
