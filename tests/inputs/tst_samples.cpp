// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/program/handlers.h"
#include "app/settingsstore.h"
#include "inputs/samples.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tests/support/widgets.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

using namespace vormelle;

namespace {

const QString kQuestion = QStringLiteral(
    "Would you like this software to open the folder where these sample files are stored (so "
    "that you can view them before working with them)?");

} // namespace

class SamplesTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TestEnv> m_env;
    std::unique_ptr<test::ScriptedDialogs> m_dialogs;
    test::RecordingDesktop m_desktop;
    std::unique_ptr<Form1> m_form;
    QString m_samples;

    QString sample(const QString& name) const { return m_samples + QLatin1Char('/') + name; }

private slots:
    void init() {
        m_env = std::make_unique<test::TestEnv>();
        m_dialogs = std::make_unique<test::ScriptedDialogs>();
        m_desktop.folders.clear();
        paths::setProgramFolder(m_env->path(QStringLiteral("program")));
        m_samples = m_env->path(QStringLiteral("program/Samples"));
        for (const char* name : {"c.tif", "a.tif", "B.tif"})
            m_env->writeFile(QStringLiteral("program/Samples/") + QLatin1String(name));
        m_form = std::make_unique<Form1>(*m_dialogs, m_desktop);
        connectHandlers(*m_form);
    }
    void cleanup() {
        m_form.reset();
        paths::setProgramFolder(QString());
        m_env.reset();
    }

    void captureInListingOrder() {
        samples::SnapshotSampleFiles();
        QCOMPARE(settings::GetSetting(QStringLiteral("Snapshot"), QString()),
                 QStringList({sample("a.tif"), sample("B.tif"), sample("c.tif")})
                     .join(QLatin1Char('|')));
    }

    void loadAddsEachSampleOnceAndAsks() {
        samples::SnapshotSampleFiles();
        m_dialogs->boxAnswers = {platform::Answer::No, platform::Answer::Yes};
        m_form->PushButton7->click();
        const QStringList all = {sample("a.tif"), sample("B.tif"), sample("c.tif")};
        QCOMPARE(test::rowsOf(m_form->files()), all);
        QCOMPARE(m_dialogs->boxes.size(), 1);
        QCOMPARE(m_dialogs->boxes[0].text, kQuestion);
        QCOMPARE(m_dialogs->boxes[0].title, QString());
        QCOMPARE(m_dialogs->boxes[0].buttons, platform::Buttons::YesNo);
        QCOMPARE(m_dialogs->boxes[0].icon, platform::Icon::None);
        QVERIFY(m_desktop.folders.isEmpty());

        // A second click adds nothing and still asks; Yes opens the folder.
        m_form->PushButton7->click();
        QCOMPARE(test::rowsOf(m_form->files()), all);
        QCOMPARE(m_dialogs->boxes.size(), 2);
        QCOMPARE(m_desktop.folders, QStringList{m_samples + QLatin1Char('/')});
    }

    void rowsThatOnlyLookAlikeDoNotCount() {
        samples::SnapshotSampleFiles();
        m_form->files().add(sample("A.TIF"));
        m_form->files().add(sample("c.tif"));
        m_form->PushButton7->click();
        QCOMPARE(test::rowsOf(m_form->files()),
                 (QStringList{sample("A.TIF"), sample("c.tif"), sample("a.tif"), sample("B.tif")}));
    }

    void deletedSamplesAreSkippedSilently() {
        samples::SnapshotSampleFiles();
        QVERIFY(QFile::remove(sample("B.tif")));
        m_form->PushButton7->click();
        QCOMPARE(test::rowsOf(m_form->files()), (QStringList{sample("a.tif"), sample("c.tif")}));
        QCOMPARE(m_dialogs->boxes.size(), 1);
        QCOMPARE(m_dialogs->boxes[0].text, kQuestion);
    }

    void noCaptureAddsNothingButAsks_data() {
        QTest::addColumn<QString>("stored"); // "-" for no value at all
        QTest::newRow("never captured") << "-";
        QTest::newRow("captured empty") << "";
        QTest::newRow("stale paths") << "/gone/a.tif|/gone/b.tif";
    }
    void noCaptureAddsNothingButAsks() {
        QFETCH(QString, stored);
        if (stored != QLatin1String("-"))
            settings::SaveSetting(QStringLiteral("Snapshot"), stored);
        m_form->PushButton7->click();
        QCOMPARE(m_form->files().count(), 0);
        QCOMPARE(m_dialogs->boxes.size(), 1);
        QCOMPARE(m_dialogs->boxes[0].text, kQuestion);
    }

    void isInFileList() {
        FileListModel& list = m_form->files();
        QVERIFY(!samples::IsInFileList(list, QStringLiteral("/a.tif")));
        list.add(QStringLiteral("/a.tif"));
        list.add(QStringLiteral("/b.tif"));
        QVERIFY(samples::IsInFileList(list, QStringLiteral("/b.tif")));
        QVERIFY(!samples::IsInFileList(list, QStringLiteral("/A.tif")));
        QVERIFY(!samples::IsInFileList(list, QStringLiteral("/a.tif ")));
    }
};

QTEST_MAIN(SamplesTest)
#include "tst_samples.moc"
