// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/controls.h"
#include "app/settingsstore.h"
#include "output/encoderchoice.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/textpage.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QtTest>

using namespace vormelle;
using test::TextPageLayout;

namespace {

QString djvutxt(const QString& djvu) {
    QProcess p;
    p.start(QStringLiteral("djvutxt"), {djvu});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TextLayerTest : public QObject {
    Q_OBJECT
private slots:
    void missingLanguageSaidOnceBeforeTheRun_data();
    void missingLanguageSaidOnceBeforeTheRun();
    void textLayerNeedsNoDjvused();
    void checkBoxIsStoredAndRestored();
    void commandLineOcr();
};

void TextLayerTest::missingLanguageSaidOnceBeforeTheRun_data() {
    QTest::addColumn<QString>("languages");
    QTest::addColumn<QString>("named");
    QTest::addColumn<bool>("emptyDataFolder");
    QTest::newRow("one of two missing") << "eng+zzz"
                                        << "zzz" << false;
    QTest::newRow("not a language name") << "../eng"
                                         << "../eng" << false;
    QTest::newRow("no data at all, default languages") << ""
                                                       << "eng" << true;
}

// The window's run says it once in a warning box and converts nothing; no row gets a DjVu
// without the text it was asked to have.
void TextLayerTest::missingLanguageSaidOnceBeforeTheRun() {
    QFETCH(QString, languages);
    QFETCH(QString, named);
    QFETCH(bool, emptyDataFolder);
    test::RunFixture f;
    const QByteArray oldPrefix = qgetenv("TESSDATA_PREFIX");
    if (emptyDataFolder) {
        QDir().mkpath(f.env.path(QStringLiteral("tessdata")));
        qputenv("TESSDATA_PREFIX", QFile::encodeName(f.env.path(QStringLiteral("tessdata/"))));
    }
    settings::SaveSetting(QStringLiteral("OcrLanguages"), languages);
    const QString out = f.env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    for (const char* name : {"a.tif", "b.tif"}) {
        const QString tiff = f.env.path(QString::fromLatin1(name));
        TextPageLayout layout;
        layout.lines = {QStringLiteral("hello")};
        test::writeTextTiff(tiff, {test::paintTextPage(layout)}, true);
        f.add(tiff);
    }
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(out);
    f.form->Check1->setChecked(true);
    f.start();
    if (emptyDataFolder)
        qputenv("TESSDATA_PREFIX", oldPrefix);
    if (oldPrefix.isEmpty())
        qunsetenv("TESSDATA_PREFIX");
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QVERIFY2(f.lastBox().startsWith(QStringLiteral("Nothing was converted: ")),
             qPrintable(f.lastBox()));
    QVERIFY2(f.lastBox().contains(named), qPrintable(f.lastBox()));
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList());
    QCOMPARE(f.leftInTemp(), QStringList());
    QVERIFY(!f.form->IsConverting);
}

// The text goes in without DjVuLibre's djvused: a failing one on the PATH changes nothing, and
// the page gets its words.
void TextLayerTest::textLayerNeedsNoDjvused() {
    test::RunFixture f;
    const QString bin = f.env.path(QStringLiteral("bin"));
    const QString fake = f.env.writeFile(QStringLiteral("bin/djvused"),
                                         "#!/bin/sh\necho 'djvused: disk on fire' >&2\nexit 1\n");
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ':' + oldPath);
    const QString out = f.env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    TextPageLayout layout;
    layout.lines = test::knownLines(9, 2, 5);
    const QString tiff = f.env.path(QStringLiteral("p3.tif"));
    test::writeTextTiff(tiff, {test::paintTextPage(layout)}, true);
    f.add(tiff);
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(out);
    f.form->Check1->setChecked(true);
    f.form->Option3->setChecked(true);
    f.start();
    qputenv("PATH", oldPath);
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString djvu = out + QStringLiteral("/p3.djvu");
    QVERIFY(QFileInfo::exists(djvu));
    QVERIFY(!test::hiddenWords(djvu, 1).isEmpty());
}

void TextLayerTest::checkBoxIsStoredAndRestored() {
    struct Case {
        QString stored; // "-" for missing
        bool checked;
    };
    for (const Case& c :
         {Case{QStringLiteral("-"), false}, Case{QStringLiteral("True"), true},
          Case{QStringLiteral("False"), false}, Case{QStringLiteral("junk"), false}}) {
        test::RunFixture f;
        if (c.stored != QStringLiteral("-"))
            settings::SaveSetting(QStringLiteral("Ocr"), c.stored);
        encoderchoice::restore(*f.form);
        QCOMPARE(f.form->Check1->isChecked(), c.checked);
        f.form->Check1->click();
        QCOMPARE(settings::GetSetting(QStringLiteral("Ocr"), {}),
                 c.checked ? QStringLiteral("False") : QStringLiteral("True"));
        QVERIFY(f.dialogs.boxes.isEmpty());
    }
}

// `vormelle --convert --ocr=eng` makes a DjVu whose text djvutxt finds.
void TextLayerTest::commandLineOcr() {
    test::TestEnv env;
    const QString out = env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    TextPageLayout layout;
    layout.lines = {QStringLiteral("remember the mountain river"),
                    QStringLiteral("listen to the ocean")};
    const QString tiff = env.path(QStringLiteral("cli.tif"));
    test::writeTextTiff(tiff, {test::paintTextPage(layout)}, true);
    QProcess vormelle;
    vormelle.start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"),
                   {QStringLiteral("--convert"), QStringLiteral("--ocr=eng"),
                    QStringLiteral("--encoder"), QStringLiteral("direct"),
                    QStringLiteral("--output"), out, tiff});
    QVERIFY(vormelle.waitForFinished(120000));
    QCOMPARE(vormelle.exitCode(), 0);
    QVERIFY(djvutxt(out + QStringLiteral("/cli.djvu")).contains(QStringLiteral("mountain")));
    // Without --ocr the same file gets no text.
    vormelle.start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"),
                   {QStringLiteral("--convert"), QStringLiteral("--encoder"),
                    QStringLiteral("direct"), QStringLiteral("--output"), out, tiff});
    QVERIFY(vormelle.waitForFinished(120000));
    QCOMPARE(vormelle.exitCode(), 0);
    QCOMPARE(djvutxt(out + QStringLiteral("/cli.djvu")).trimmed(), QString());
}

QTEST_MAIN(TextLayerTest)
#include "tst_textlayer.moc"
