// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/encoderchoice.h"

#include "app/controls.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/settingsstore.h"
#include "platform/basicerror.h"

#include <QCheckBox>

namespace vormelle::encoderchoice {

namespace {

constexpr char kDirect[] = "Direct";
constexpr char kPdf[] = "PDF";
constexpr char kClickTrace[] = "in Tessary2021/08/31.Form1.Encoder_Click ";
constexpr char kOcrClickTrace[] = "in Tessary2021/08/31.Form1.Check1_Click ";
constexpr char kJoinClickTrace[] = "in Tessary2021/08/31.Form1.Check2_Click ";
constexpr char kLossyClickTrace[] = "in Tessary2021/08/31.Form1.Check3_Click ";

// The lossy box means something on the direct route only.
void enableLossy(Form1& form) {
    form.Check3->setEnabled(form.Option3->isChecked());
}

} // namespace

QString settingText(Encoder encoder) {
    return QString::fromLatin1(encoder == Encoder::Direct ? kDirect : kPdf);
}

Encoder fromSettingText(const QString& text) {
    return text.trimmed().compare(QLatin1String(kDirect), Qt::CaseInsensitive) == 0
               ? Encoder::Direct
               : Encoder::Pdf;
}

Encoder storedEncoder() {
    return fromSettingText(
        settings::GetSetting(QString::fromLatin1(kSetting), QString::fromLatin1(kPdf)));
}

Encoder chosenEncoder(const Form1& form) {
    return form.Option3->isChecked() ? Encoder::Direct : Encoder::Pdf;
}

void Option_Click(Form1& form) {
    runStatement(form, kClickTrace, 100, [&form] {
        settings::SaveSetting(QString::fromLatin1(kSetting), settingText(chosenEncoder(form)));
    });
}

bool storedOcr() {
    try {
        return settings::toBoolean(
            settings::GetSetting(QString::fromLatin1(kOcrSetting), QStringLiteral("False")));
    } catch (const BasicError&) {
        return false; // a value that is no boolean leaves OCR off, as a missing one does
    }
}

QString storedOcrLanguages() {
    return settings::GetSetting(QString::fromLatin1(kOcrLanguagesSetting), QString()).trimmed();
}

int storedJobs() {
    return engine::jobsFromSetting(settings::GetSetting(QString::fromLatin1(kJobsSetting), {}));
}

engine::ColourPages storedColourPages() {
    return engine::colourPagesFromSetting(
        settings::GetSetting(QString::fromLatin1(engine::kColourPagesSetting), {}));
}

engine::Route routeOf(Encoder encoder) {
    return encoder == Encoder::Direct ? engine::Route::Direct : engine::Route::Pdf;
}

engine::RunChoices storedChoices() {
    engine::RunChoices choices;
    choices.route = routeOf(storedEncoder());
    choices.text = {storedOcr(), storedOcrLanguages()};
    choices.jobs = storedJobs();
    choices.colourPages = storedColourPages();
    choices.lossy = choices.route == engine::Route::Direct && storedLossy();
    return choices;
}

engine::RunChoices chosenChoices(const Form1& form) {
    engine::RunChoices choices;
    choices.route = routeOf(chosenEncoder(form));
    choices.text = {form.Check1->isChecked(), storedOcrLanguages()};
    choices.jobs = storedJobs();
    choices.colourPages = storedColourPages();
    choices.lossy = choices.route == engine::Route::Direct && form.Check3->isChecked();
    // The window's route through a PDF runs one converter at a time unless "Jobs" asks for more.
    bool number = false;
    settings::GetSetting(QString::fromLatin1(kJobsSetting), {}).trimmed().toInt(&number);
    if (choices.route == engine::Route::Pdf && !number)
        choices.jobs = 1;
    return choices;
}

void Check1_Click(Form1& form) {
    runStatement(form, kOcrClickTrace, 100, [&form] {
        settings::SaveSetting(QString::fromLatin1(kOcrSetting),
                              settings::booleanText(form.Check1->isChecked()));
    });
}

bool storedJoin() {
    try {
        return settings::toBoolean(
            settings::GetSetting(QString::fromLatin1(kJoinSetting), QStringLiteral("False")));
    } catch (const BasicError&) {
        return false;
    }
}

void Check2_Click(Form1& form) {
    runStatement(form, kJoinClickTrace, 100, [&form] {
        settings::SaveSetting(QString::fromLatin1(kJoinSetting),
                              settings::booleanText(form.Check2->isChecked()));
    });
}

bool storedLossy() {
    try {
        return settings::toBoolean(
            settings::GetSetting(QString::fromLatin1(kLossySetting), QStringLiteral("False")));
    } catch (const BasicError&) {
        return false;
    }
}

void Check3_Click(Form1& form) {
    runStatement(form, kLossyClickTrace, 100, [&form] {
        settings::SaveSetting(QString::fromLatin1(kLossySetting),
                              settings::booleanText(form.Check3->isChecked()));
    });
}

void restore(Form1& form) {
    (storedEncoder() == Encoder::Direct ? form.Option3 : form.Option4)->setChecked(true);
    form.Check1->setChecked(storedOcr());
    form.Check2->setChecked(storedJoin());
    form.Check3->setChecked(storedLossy());
    enableLossy(form);
}

void connect(Form1& form) {
    for (OptionButton* option : {form.Option3, form.Option4})
        QObject::connect(option, &QAbstractButton::clicked, &form, [&form] { Option_Click(form); });
    QObject::connect(form.Check1, &QAbstractButton::clicked, &form,
                     [&form] { Check1_Click(form); });
    QObject::connect(form.Check2, &QAbstractButton::clicked, &form,
                     [&form] { Check2_Click(form); });
    QObject::connect(form.Check3, &QAbstractButton::clicked, &form,
                     [&form] { Check3_Click(form); });
    // However the route changes (a click, a key, restore()), the box follows it.
    QObject::connect(form.Option3, &QAbstractButton::toggled, &form,
                     [&form] { enableLossy(form); });
    enableLossy(form);
}

} // namespace vormelle::encoderchoice
