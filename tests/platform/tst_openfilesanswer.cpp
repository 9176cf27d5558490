// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dialogs.h"

#include <QTest>

using namespace vormelle;

// The real dialog's choice, shaped into the answer the "Add TIFF File(s)" handler reads.
class OpenFilesAnswerTest final : public QObject {
    Q_OBJECT

private slots:
    void shapes_data() {
        QTest::addColumn<QStringList>("picked");
        QTest::addColumn<QString>("answer");
        const QChar nul(0);
        QTest::newRow("none") << QStringList{} << QString();
        QTest::newRow("one") << QStringList{"/s/a.tif"} << "/s/a.tif";
        QTest::newRow("one folder") << QStringList{"/s/a.tif", "/s/b.tif"}
                                    << QStringLiteral("/s") + nul + "a.tif" + nul + "b.tif";
        QTest::newRow("root") << QStringList{"/a.tif", "/b.tif"}
                              << QStringLiteral("/") + nul + "a.tif" + nul + "b.tif";
        QTest::newRow("two folders") << QStringList{"/s/a.tif", "/t/b.tif"}
                                     << QStringLiteral("/") + nul + "s/a.tif" + nul + "t/b.tif";
    }
    void shapes() {
        QFETCH(QStringList, picked);
        QFETCH(QString, answer);
        QCOMPARE(platform::openFilesAnswer(picked), answer);
    }
};

QTEST_GUILESS_MAIN(OpenFilesAnswerTest)
#include "tst_openfilesanswer.moc"
