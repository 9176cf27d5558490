#include "app/settingsstore.h"
#include "platform/basicerror.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QTest>

using namespace vormelle;

class TestSettingsStore final : public QObject {
    Q_OBJECT

private slots:
    void roundTripThroughTheFile() {
        test::TestEnv env;
        QCOMPARE(settings::GetSetting(QStringLiteral("Extension"), QStringLiteral("tif*")),
                 QStringLiteral("tif*"));
        QVERIFY(!settings::HasSetting(QStringLiteral("Extension")));

        const QStringList values = {QStringLiteral("/data/out/"), QStringLiteral("a, b; c"),
                                    QStringLiteral("@Variant(x)"), QStringLiteral("ünï \"q\""),
                                    QString()};
        for (const QString& v : values) {
            settings::SaveSetting(QStringLiteral("Text1"), v);
            // The file holds it already: another reader (as after a restart) sees it.
            QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QStringLiteral("default")), v);
        }
        QVERIFY(settings::HasSetting(QStringLiteral("Text1")));

        QFile file(env.settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("[Vormelle]"), text.constData());
        QVERIFY2(text.contains("Text1="), text.constData());
    }

    void booleanTexts() {
        test::TestEnv env;
        settings::SaveSetting(QStringLiteral("Option1"), settings::BooleanText(false));
        settings::SaveSetting(QStringLiteral("Option2"), settings::BooleanText(true));
        QFile file(env.settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("Option1=False"));
        QVERIFY(text.contains("Option2=True"));
    }

    void toBoolean_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // 0 false, 1 true, -1 type mismatch
        QTest::newRow("True") << "True" << 1;
        QTest::newRow("false lower") << "false" << 0;
        QTest::newRow("TRUE upper") << "TRUE" << 1;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("one") << "1" << 1;
        QTest::newRow("minus one") << "-1" << 1;
        QTest::newRow("real") << "0.5" << 1;
        QTest::newRow("blank padded") << " True " << 1;
        QTest::newRow("word") << "yes" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("garbage") << "Tru e" << -1;
    }
    void toBoolean() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        try {
            const bool value = settings::ToBoolean(text);
            QCOMPARE(int(value), expected);
        } catch (const BasicError& e) {
            QCOMPARE(expected, -1);
            QCOMPARE(e.number(), 13);
            QCOMPARE(e.description(), QStringLiteral("Type mismatch"));
        }
    }

    void badBooleanInTheFile() {
        test::TestEnv env;
        QFile file(env.settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Vormelle]\nOption1=maybe\nText1=/kept/\n");
        file.close();
        QVERIFY_THROWS_EXCEPTION(
            BasicError, settings::ToBoolean(settings::GetSetting(QStringLiteral("Option1"), "1")));
        QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QString()),
                 QStringLiteral("/kept/"));
        // Writing another key keeps what was there.
        settings::SaveSetting(QStringLiteral("Option2"), QStringLiteral("True"));
        QCOMPARE(settings::GetSetting(QStringLiteral("Option1"), QString()),
                 QStringLiteral("maybe"));
        QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QString()),
                 QStringLiteral("/kept/"));
    }

    void unwritableStoreRaisesAnError() {
        test::TestEnv env;
        // A configuration folder below a plain file cannot be made, not even by root.
        const QString file = env.writeFile(QStringLiteral("plain"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(file + QStringLiteral("/config")));
        QVERIFY_THROWS_EXCEPTION(BasicError, settings::SaveSetting(QStringLiteral("Text1"), "x"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
