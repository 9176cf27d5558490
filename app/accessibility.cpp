// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/accessibility.h"

#include "app/controls.h"
#include "app/form1.h"
#include "app/listview.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

namespace vormelle {

void makeAccessible(Form1& form) {
    form.ListView1->setAccessibleName(Form1::tr("TIFF files to convert"));
    // The list's tool tip says how to use it, but a view's accessible interface does not read it.
    form.ListView1->setAccessibleDescription(form.ListView1->toolTip());
    form.Text1->setAccessibleName(Form1::tr("Output folder"));
    // Its caption is "...", which a screen reader reads as "dot dot dot".
    form.PushButton9->setAccessibleName(Form1::tr("Choose output folder"));
    form.ProgressBar1->setAccessibleName(Form1::tr("Progress"));
    // Outside a dialog a push button takes only the space bar; an auto-default one also takes
    // Return. The window has no default button, so Return never reaches another one.
    for (QPushButton* button : form.pushButtons())
        button->setAutoDefault(true);
}

} // namespace vormelle
