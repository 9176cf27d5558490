// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/convert/runfixture.h"

#include "app/filelistmodel.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/program/handlers.h"
#include "app/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QPushButton>

namespace vormelle::test {

RunFixture::RunFixture(bool oneJob) : m_oldTemp(qgetenv("TEMP")) {
    QDir().mkpath(temp());
    qputenv("TEMP", QFile::encodeName(temp()));
    paths::setProgramFolder(TestEnv::builtProgramFolder());
    // One row at a time on either route: the fault tests count converter calls in list order.
    // Tests of parallel runs set "Jobs" themselves.
    if (oneJob)
        settings::SaveSetting(QStringLiteral("Jobs"), QStringLiteral("1"));
    form = std::make_unique<Form1>(dialogs, desktop);
    form->unload = [] {};
    connectHandlers(*form);
}

RunFixture::~RunFixture() {
    form.reset();
    paths::setProgramFolder(QString());
    if (m_oldTemp.isEmpty())
        qunsetenv("TEMP");
    else
        qputenv("TEMP", m_oldTemp);
}

QStringList RunFixture::leftInTemp() const {
    return QDir(temp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

void RunFixture::add(const QString& path) {
    form->files().add(path);
}

void RunFixture::start() {
    form->PushButton2->click();
}

QString RunFixture::fakeSecondConverter(const QByteArray& script) {
    const QString folder = env.path(QStringLiteral("program"));
    const QString path =
        env.writeFile(QStringLiteral("program/pdf2djvu/pdf2djvu"), "#!/bin/sh\n" + script + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    paths::setProgramFolder(folder);
    return folder;
}

QString RunFixture::lastBox() const {
    return dialogs.boxes.isEmpty() ? QString() : dialogs.boxes.back().text;
}

} // namespace vormelle::test
