// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settingsstore.h"
#include "platform/basicerror.h"
#include "platform/inifile.h"
#include "platform/settingsfile.h"
#include "tests/support/permissionbits.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vormelle;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The file's lines without those of the given keys, in order.
QList<QByteArray> otherLines(const QByteArray& file, const QList<QByteArray>& keys) {
    QList<QByteArray> lines;
    for (const QByteArray& line : file.split('\n')) {
        const bool isKey = std::any_of(keys.begin(), keys.end(), [&](const QByteArray& k) {
            return line.startsWith(k + '=');
        });
        if (!isKey && !line.isEmpty())
            lines.append(line);
    }
    return lines;
}

QByteArray blob() {
    QByteArray bytes;
    quint32 x = 2463534242u;
    for (int i = 0; i < 4096; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes.append(char(x & 0xff));
    }
    return bytes;
}

} // namespace

class SettingsStoreTest final : public QObject {
    Q_OBJECT

private slots:
    // A settings file padded with megabytes of junk lines: a keystroke's write and read cost a
    // pass over its bytes, not memory per line (it took 450 MB and 0.4 s a keystroke). Run first,
    // while the process's peak memory is still low.
    void junkFileCostsOnlyItsBytes() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer's own memory hides the store's");
#endif
        test::TestEnv env;
        const QByteArray junk(12 * 1024 * 1024, '\n');
        writeAll(env.settingsFile(), junk + "[Vormelle]\nText1=/data/out/\n");
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        for (const char* typed : {"/data/o", "/data/ou", "/data/out"})
            settings::SaveSetting(QStringLiteral("Text1"), QString::fromLatin1(typed));
        QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QString()),
                 QStringLiteral("/data/out"));
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        // The file read, the file written and the kernel's copies: a few times its size.
        const long grownKiB = after.ru_maxrss - before.ru_maxrss;
        QVERIFY2(grownKiB < 6 * 12 * 1024, qPrintable(QString::number(grownKiB)));
        QCOMPARE(readAll(env.settingsFile()), junk + "[Vormelle]\nText1=/data/out\n");
    }

    void roundTripThroughTheFile() {
        test::TestEnv env;
        QCOMPARE(settings::GetSetting(QStringLiteral("Extension"), QStringLiteral("tif*")),
                 QStringLiteral("tif*"));
        QVERIFY(!settings::hasSetting(QStringLiteral("Extension")));

        const QStringList values = {QStringLiteral("/data/out/"), QStringLiteral("a, b; c"),
                                    QStringLiteral("@Variant(x)"), QStringLiteral("ünï \"q\""),
                                    QString()};
        for (const QString& v : values) {
            settings::SaveSetting(QStringLiteral("Text1"), v);
            // The file holds it already: another reader (as after a restart) sees it.
            QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QStringLiteral("default")), v);
        }
        QVERIFY(settings::hasSetting(QStringLiteral("Text1")));

        QFile file(env.settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("[Vormelle]"), text.constData());
        QVERIFY2(text.contains("Text1="), text.constData());
    }

    void booleanTexts() {
        test::TestEnv env;
        settings::SaveSetting(QStringLiteral("Option1"), settings::booleanText(false));
        settings::SaveSetting(QStringLiteral("Option2"), settings::booleanText(true));
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
            const bool value = settings::toBoolean(text);
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
            BasicError, settings::toBoolean(settings::GetSetting(QStringLiteral("Option1"), "1")));
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

    // Files written by earlier versions (through QSettings) read the same, and what the store
    // writes reads back the same through QSettings.
    void sameDialectAsQSettings_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("path") << QStringLiteral("/home/a b/out/");
        QTest::newRow("quotes and backslashes") << QStringLiteral("say \"hi\" C:\\x\\");
        QTest::newRow("comma") << QStringLiteral("a, b");
        QTest::newRow("semicolon") << QStringLiteral("a; b");
        QTest::newRow("equals") << QStringLiteral("a=b");
        QTest::newRow("leading at") << QStringLiteral("@Variant(x)");
        QTest::newRow("at at") << QStringLiteral("@@");
        QTest::newRow("outer blanks") << QStringLiteral("  padded\t ");
        QTest::newRow("line breaks") << QStringLiteral("one\ntwo\r\nthree");
        QTest::newRow("control then hex digit") << QString(QChar(1)) + QStringLiteral("AbF9");
        QTest::newRow("delete") << QString(QChar(0x7f)) + QStringLiteral("x");
        QTest::newRow("unicode") << QStringLiteral("ünï 文字 \U0001F600");
        QTest::newRow("empty") << QString();
        QTest::newRow("snapshot") << QStringLiteral("/s/a.tif|/s/b.tif");
    }
    void sameDialectAsQSettings() {
        QFETCH(QString, value);
        test::TestEnv env;
        const QString theirs = env.path(QStringLiteral("theirs.conf"));
        {
            QSettings settings(theirs, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Vormelle/Text1"), value);
        }
        QCOMPARE(platform::ini::find(readAll(theirs), QStringLiteral("Vormelle"),
                                     QStringLiteral("Text1")),
                 std::optional<QString>(value));

        settings::SaveSetting(QStringLiteral("Text1"), value);
        QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QStringLiteral("absent")), value);
        QSettings settings(env.settingsFile(), QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("Vormelle/Text1")).toString(), value);
    }

    // Writing a setting changes its own line and nothing else, however odd the rest is.
    void writeKeepsTheRestOfTheFile_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("unparsable lines and comments")
            << QByteArray("garbage without equals\n; comment\n# hash\n[Vormelle]\n"
                          "Option1=maybe\nnot a setting\nText1=/old/\n[Other]\nk=v\n");
        QTest::newRow("binary blob") << blob() + "\n[Vormelle]\nText1=/old/\n" + blob();
        QTest::newRow("nothing but a blob") << blob();
        QTest::newRow("values of other kinds")
            << QByteArray("[Vormelle]\nOption1=@Variant(\\0\\0\\0\\x7f\\0QPoint)\n"
                          "Extension=@ByteArray(tif*)\nLastFolder=a, b\nOption2=@Invalid()\n");
        QTest::newRow("CR LF, no final break")
            << QByteArray("[Vormelle]\r\nText1=/old/\r\nOption2=False\r\n[Other]\r\nz=1");
        QTest::newRow("section twice")
            << QByteArray("[Vormelle]\nText1=/first/\n[Other]\nx=1\n[Vormelle]\nText1=/old/\n");
        QTest::newRow("empty file") << QByteArray();
    }
    void writeKeepsTheRestOfTheFile() {
        QFETCH(QByteArray, file);
        test::TestEnv env;
        writeAll(env.settingsFile(), file);
        settings::SaveSetting(QStringLiteral("Text1"), QStringLiteral("/new, \"dir\"/"));
        settings::SaveSetting(QStringLiteral("Option2"), QStringLiteral("True"));
        QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QString()),
                 QStringLiteral("/new, \"dir\"/"));
        QCOMPARE(settings::GetSetting(QStringLiteral("Option2"), QString()),
                 QStringLiteral("True"));
        const QByteArray after = readAll(env.settingsFile());
        const QList<QByteArray> keys{"Text1", "Option2"};
        auto strip = [](QList<QByteArray> lines) {
            for (QByteArray& l : lines) {
                if (l.endsWith('\r'))
                    l.chop(1);
            }
            return lines;
        };
        const QList<QByteArray> before = strip(otherLines(file, keys));
        QList<QByteArray> now = strip(otherLines(after, keys));
        // A section the store had to add is the only line that may be new.
        now.removeAll("[Vormelle]");
        QList<QByteArray> expected = before;
        expected.removeAll("[Vormelle]");
        QCOMPARE(now, expected);
        // The second, later section still decides, as QSettings would have it.
        if (file.contains("/first/"))
            QVERIFY(after.contains("Text1=/first/"));
    }

    // A write that fails leaves the file and what the program reads as they were.
    void failedWriteChangesNothing() {
        test::TestEnv env;
        settings::SaveSetting(QStringLiteral("Text1"), QStringLiteral("/kept/"));
        const QByteArray before = readAll(env.settingsFile());
        const QByteArray folder = QFile::encodeName(env.configDir());
        QCOMPARE(::chmod(folder.constData(), 0500), 0);
        const QString app = QString::fromLatin1(settings::kApplication);
        const QString section = QString::fromLatin1(settings::kSection);
        {
            test::PermissionBitsApply bits;
            QVERIFY(bits.active());
            // The file's own layer: nothing is remembered of a value it could not write.
            QVERIFY_THROWS_EXCEPTION(BasicError,
                                     platform::writeSetting(app, section, QStringLiteral("Text1"),
                                                            QStringLiteral("/lost/")));
            QCOMPARE(platform::readSetting(app, section, QStringLiteral("Text1"), QString()),
                     QStringLiteral("/kept/"));
        }
        QCOMPARE(::chmod(folder.constData(), 0700), 0);
        QCOMPARE(readAll(env.settingsFile()), before);
        QCOMPARE(QDir(env.configDir()).entryList(QDir::Files),
                 QStringList{QStringLiteral("Quenlark.conf")});
    }

    // Two instances writing at once: each write starts from the file the other left.
    void concurrentWritersLoseNothing() {
        test::TestEnv env;
        constexpr int kWriters = 4;
        constexpr int kWrites = 40;
        QList<pid_t> children;
        for (int w = 0; w < kWriters; ++w) {
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                for (int i = 0; i < kWrites; ++i)
                    settings::SaveSetting(QStringLiteral("Key%1").arg(w), QString::number(i));
                ::_exit(0);
            }
            children.append(pid);
        }
        for (const pid_t pid : std::as_const(children)) {
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        for (int w = 0; w < kWriters; ++w)
            QCOMPARE(settings::GetSetting(QStringLiteral("Key%1").arg(w), QString()),
                     QString::number(kWrites - 1));
    }

    // What stands in the file's place but cannot be read as one is never read into, blocked
    // on, or written over.
    void notAFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("folder") << "folder";
        QTest::newRow("no read permission") << "unreadable";
    }
    void notAFile() {
        QFETCH(QString, kind);
        test::TestEnv env;
        const QByteArray name = QFile::encodeName(env.settingsFile());
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        else if (kind == QLatin1String("folder"))
            QCOMPARE(::mkdir(name.constData(), 0700), 0);
        else
            writeAll(env.settingsFile(), "[Vormelle]\nText1=/secret/\n");
        if (kind == QLatin1String("unreadable"))
            QCOMPARE(::chmod(name.constData(), 0), 0);
        struct stat before {};
        QCOMPARE(::lstat(name.constData(), &before), 0);
        {
            test::PermissionBitsApply bits;
            QVERIFY(bits.active());
            QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QStringLiteral("default")),
                     QStringLiteral("default"));
            QVERIFY(!settings::hasSetting(QStringLiteral("Text1")));
            QVERIFY_THROWS_EXCEPTION(
                BasicError, settings::SaveSetting(QStringLiteral("Text1"), QStringLiteral("/x/")));
        }
        struct stat after {};
        QCOMPARE(::lstat(name.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        ::chmod(name.constData(), 0600);
        if (kind == QLatin1String("unreadable"))
            QCOMPARE(readAll(env.settingsFile()), QByteArray("[Vormelle]\nText1=/secret/\n"));
    }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "tst_settingsstore.moc"
