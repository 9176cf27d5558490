// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/translations.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

using namespace vormelle;

namespace {

struct Message {
    QString context;
    QString source;
    QString translation;
    QString type;  // "" for finished; "unfinished", "vanished", "obsolete"
    int form = -1; // a plural form's number, -1 for a message without plural forms
};

// The text of <source> or <translation>, with lupdate's <byte value="xd"/> for a carriage return.
QString textOf(QXmlStreamReader& xml) {
    QString text;
    const QString name = xml.name().toString();
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isCharacters())
            text += xml.text();
        else if (xml.isStartElement() && xml.name() == u"byte")
            text +=
                QChar(xml.attributes().value(QLatin1String("value")).mid(1).toUInt(nullptr, 16));
        else if (xml.isEndElement() && xml.name() == name)
            break;
    }
    return text;
}

QList<Message> readTs(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    QXmlStreamReader xml(&file);
    QList<Message> messages;
    QString context;
    bool numerus = false;
    bool firstForm = true;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"message") {
            numerus = xml.attributes().value(QLatin1String("numerus")) == u"yes";
            messages.append({context, {}, {}, {}});
        } else if (xml.name() == u"source") {
            messages.last().source = textOf(xml);
        } else if (xml.name() == u"translation") {
            messages.last().type = xml.attributes().value(QLatin1String("type")).toString();
            firstForm = true;
            if (!numerus)
                messages.last().translation = textOf(xml);
        } else if (xml.name() == u"numerusform") {
            // Each plural form keeps what its source has, as a message of its own.
            const QString form = textOf(xml);
            if (!firstForm)
                messages.append(messages.last());
            messages.last().translation = form;
            ++messages.last().form;
            firstForm = false;
        }
    }
    if (xml.hasError())
        qFatal("%s: %s", qPrintable(path), qPrintable(xml.errorString()));
    return messages;
}

QStringList tsFiles() {
    return QString::fromUtf8(VORMELLE_TS_FILES).split(u',', Qt::SkipEmptyParts);
}

QStringList placeholders(const QString& text) {
    static const QRegularExpression marker(QStringLiteral("%[1-9]"));
    QStringList found;
    for (const QRegularExpressionMatch& m : marker.globalMatch(text))
        found.append(m.captured());
    found.sort();
    return found;
}

QString leadingSpace(const QString& text) {
    qsizetype start = 0;
    while (start < text.size() && text.at(start).isSpace())
        ++start;
    return text.left(start);
}

QString trailingSpace(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    return text.mid(end);
}

} // namespace

class TranslationsTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(!tsFiles().isEmpty()); }

    // lupdate over today's sources into a copy of each .ts: a text added in the code and not yet
    // translated comes out "unfinished", one gone from the code "vanished".
    void everyTextIsTranslated() {
        for (const QString& ts : tsFiles()) {
            QTemporaryDir dir;
            const QString copy = dir.filePath(QFileInfo(ts).fileName());
            QVERIFY(QFile::copy(ts, copy));
            QProcess lupdate;
            lupdate.setProcessChannelMode(QProcess::MergedChannels);
            QStringList arguments{QStringLiteral("-I"),
                                  QStringLiteral(VORMELLE_SOURCE_ROOT),
                                  QStringLiteral("-locations"),
                                  QStringLiteral("none"),
                                  QLatin1Char('@') + QStringLiteral(VORMELLE_TR_SOURCES),
                                  QStringLiteral("-ts"),
                                  copy};
            // English holds only the plural forms, and every one of them.
            if (ts == QStringLiteral(VORMELLE_TS_PLURALS))
                arguments.prepend(QStringLiteral("-pluralonly"));
            lupdate.start(QStringLiteral(VORMELLE_LUPDATE), arguments);
            QVERIFY(lupdate.waitForFinished(60000));
            const QString said = QString::fromLocal8Bit(lupdate.readAll());
            QVERIFY2(lupdate.exitCode() == 0, qPrintable(said));

            QStringList faults;
            for (const Message& m : readTs(copy)) {
                if (!m.type.isEmpty())
                    faults.append(QStringLiteral("%1 [%2]: %3").arg(m.type, m.context, m.source));
                else if (m.translation.isEmpty())
                    faults.append(QStringLiteral("empty [%1]: %2").arg(m.context, m.source));
            }
            QVERIFY2(faults.isEmpty(),
                     qPrintable(ts +
                                QStringLiteral(" is behind the sources; run the target "
                                               "update_translations and translate:\n") +
                                faults.join(u'\n')));
        }
    }

    // A text is looked up under the context its call names. Only a class keeps the two the same:
    // lupdate files a text by the class or namespace it finds the call in, whatever literal
    // context the call passes, so every context must be a class's (Q_OBJECT or
    // Q_DECLARE_TR_FUNCTIONS).
    void contextsAreClasses() {
        QFile list(QStringLiteral(VORMELLE_TR_SOURCES));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QSet<QString> declared; // full names given to Q_DECLARE_TR_FUNCTIONS
        QSet<QString> objects;  // names of Q_OBJECT classes, without their namespace
        // Spelled in pieces, so that moc takes none of it for a class of this file.
        const QRegularExpression declaration(QStringLiteral("Q_DECLARE_TR_"
                                                            "FUNCTIONS\\(([\\w:]+)\\)"));
        const QRegularExpression object(
            QStringLiteral("class\\s+(\\w+)(\\s+final)?\\s*(:[^{;]*)?\\{\\s*Q_"
                           "OBJECT"));
        const QRegularExpression literal(QStringLiteral("translate\\(\\s*\""));
        QStringList literals;
        for (const QByteArray& line : list.readAll().split('\n')) {
            if (line.trimmed().isEmpty())
                continue;
            QFile source(QString::fromLocal8Bit(line.trimmed()));
            QVERIFY2(source.open(QIODevice::ReadOnly), line.constData());
            const QString text = QString::fromUtf8(source.readAll());
            for (const auto& m : declaration.globalMatch(text))
                declared.insert(m.captured(1));
            for (const auto& m : object.globalMatch(text))
                objects.insert(m.captured(1));
            if (literal.match(text).hasMatch())
                literals.append(source.fileName());
        }
        QVERIFY2(literals.isEmpty(),
                 qPrintable(QStringLiteral("literal contexts (use a class's tr) in:\n") +
                            literals.join(u'\n')));
        for (const QString& ts : tsFiles()) {
            for (const Message& m : readTs(ts)) {
                const QString last = m.context.section(QStringLiteral("::"), -1);
                QVERIFY2(declared.contains(m.context) || objects.contains(last),
                         qPrintable(ts + QStringLiteral(": context ") + m.context +
                                    QStringLiteral(" is no class: ") + m.source));
            }
        }
    }

    // Every message as shipped: what a translation must keep of its source, and the built .qm
    // answering with it.
    void translationKeepsItsSource_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("translation");
        QTest::addColumn<int>("count"); // for a plural form, a count it is for
        for (const QString& ts : tsFiles()) {
            const QString language = QFileInfo(ts).completeBaseName().section(u'_', 1);
            // German, as English: the first form for one, the second for every other count.
            for (const Message& m : readTs(ts))
                QTest::addRow("%s %s: %s%s", qPrintable(language), qPrintable(m.context),
                              qPrintable(m.source.left(40)),
                              m.form < 0 ? "" : qPrintable(QStringLiteral(" [%1]").arg(m.form)))
                    << language << m.context << m.source << m.translation
                    << (m.form < 0    ? -1
                        : m.form == 0 ? 1
                                      : 2);
        }
    }
    void translationKeepsItsSource() {
        QFETCH(QString, language);
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, translation);
        // A lost %1 loses a file's name; lost spaces or breaks glue words and lines together.
        QCOMPARE(placeholders(translation), placeholders(source));
        QCOMPARE(leadingSpace(translation), leadingSpace(source));
        QCOMPARE(trailingSpace(translation), trailingSpace(source));
        QCOMPARE(translation.count(u'\r'), source.count(u'\r'));
        // A file filter's patterns after the shown name are read, not shown.
        if (source.contains(u'|') && source.endsWith(u'|'))
            QCOMPARE(translation.section(u'|', 1), source.section(u'|', 1));

        QTranslator built;
        QVERIFY(built.load(QStringLiteral("vormelle_") + language,
                           QString::fromLatin1(translations::kFolder)));
        QFETCH(int, count);
        QCOMPARE(built.translate(context.toUtf8().constData(), source.toUtf8().constData(), nullptr,
                                 count),
                 translation);
    }

    // Only the languages before the first English one are looked for: the texts are English.
    void wantedLanguages_data() {
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<QStringList>("wanted");
        const auto l = [](std::initializer_list<const char*> names) {
            QStringList list;
            for (const char* n : names)
                list.append(QString::fromLatin1(n));
            return list;
        };
        QTest::addRow("German") << l({"de-DE", "de"}) << l({"de-DE", "de"});
        QTest::addRow("English first") << l({"en-US", "en", "de"}) << l({});
        QTest::addRow("French, then German") << l({"fr-FR", "de", "en"}) << l({"fr-FR", "de"});
        QTest::addRow("German, English, French") << l({"de-AT", "en-GB", "fr"}) << l({"de-AT"});
        QTest::addRow("C locale") << l({"C"}) << l({});
        QTest::addRow("none") << l({}) << l({});
    }
    void wantedLanguages() {
        QFETCH(QStringList, uiLanguages);
        QFETCH(QStringList, wanted);
        QCOMPARE(translations::wantedLanguages(uiLanguages), wanted);
    }

    // Last (it stays installed): English gets its plural forms, and every other text as written.
    void englishReadsPlurals() {
        QCOMPARE(translations::install(QLocale(QLocale::English, QLocale::UnitedKingdom)),
                 QString());
        const auto tr = [](const char* context, const char* source, int n = -1) {
            return QCoreApplication::translate(context, source, nullptr, n);
        };
        QCOMPARE(tr("vormelle::engine::Texts", "%1 of %n file(s) could not be converted:", 1),
                 QStringLiteral("%1 of 1 file could not be converted:"));
        QCOMPARE(tr("vormelle::engine::Texts", "%1 of %n file(s) could not be converted:", 12),
                 QStringLiteral("%1 of 12 files could not be converted:"));
        QCOMPARE(tr("vormelle::conversion::Texts", "Joined into %1 (%n page(s)):", 1),
                 QStringLiteral("Joined into %1 (1 page):"));
        QCOMPARE(tr("vormelle::engine::Texts", "Done."), QStringLiteral("Done."));
        QCOMPARE(tr("vormelle::Form1", "Add TIFF File(s)"), QStringLiteral("Add TIFF File(s)"));
    }
};

QTEST_GUILESS_MAIN(TranslationsTest)
#include "tst_translations.moc"
