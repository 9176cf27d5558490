// SPDX-License-Identifier: GPL-3.0-or-later
// "Join all files into one document" through the real window and the real converters: the save
// dialog once, pages in list order with each file's pages together, a failed file refused or
// left out when the user agrees, the same bytes from the same files, and nothing left behind.
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/settingsstore.h"
#include "engine/join.h"
#include "output/encoderchoice.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/djvudecode.h"
#include "tests/engine/tiffmaker.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QtTest>

using namespace vormelle;
using platform::Answer;
using test::RunFixture;

namespace {

// Three files of different page sizes, the middle one of two pages, so the order shows.
struct Book {
    QStringList inputs;
    QList<QSize> pageSizes; // in list order
};

Book writeBook(RunFixture& f, bool withBadFile) {
    Book book;
    QDir().mkpath(f.env.path(QStringLiteral("scans/b")));
    const QString a = f.env.path(QStringLiteral("scans/page.tif"));
    const QString b = f.env.path(QStringLiteral("scans/b/page.tif")); // the same name
    const QString c = f.env.path(QStringLiteral("scans/c.tif"));
    test::writeTiff(a, test::TiffKind::BitonalG4, 1, 160, 240);
    test::writeTiff(b, test::TiffKind::BitonalG4, 2, 200, 120);
    test::writeTiff(c, test::TiffKind::Gray8, 1, 120, 120);
    book.inputs = {a, b, c};
    book.pageSizes = {{160, 240}, {200, 120}, {200, 120}, {120, 120}};
    if (withBadFile) {
        const QString bad = f.env.writeFile(QStringLiteral("scans/bad.tif"), "not a TIFF");
        book.inputs.insert(1, bad);
    }
    for (const QString& input : book.inputs)
        f.add(input);
    return book;
}

QList<QSize> pageSizes(const QString& document) {
    QList<QSize> sizes;
    for (const test::DjvuPage& page : test::decodeDjvu(document))
        sizes.append(page.image.size());
    return sizes;
}

} // namespace

class JoinTest final : public QObject {
    Q_OBJECT

private slots:
    void joinsInListOrder_data() {
        QTest::addColumn<bool>("direct");
        QTest::newRow("direct") << true;
        QTest::newRow("through PDF") << false;
    }

    void joinsInListOrder() {
        QFETCH(bool, direct);
        RunFixture f;
        const Book book = writeBook(f, false);
        QDir().mkpath(f.env.path(QStringLiteral("out")));
        f.form->Text1->setText(f.env.path(QStringLiteral("out")));
        (direct ? f.form->Option3 : f.form->Option4)->setChecked(true);
        f.form->Check2->click();
        QCOMPARE(settings::GetSetting(QStringLiteral("Join"), QString()), QStringLiteral("True"));
        // A name typed without its extension gets one.
        const QString target = f.env.path(QStringLiteral("out/book"));
        f.dialogs.saveAnswers = {target};
        f.start();

        // Asked once, in the output folder, with the folder's name as the suggestion.
        QCOMPARE(f.dialogs.saveStarts, QStringList{f.env.path(QStringLiteral("out/out.djvu"))});
        const QString document = target + QStringLiteral(".djvu");
        QCOMPARE(pageSizes(document), book.pageSizes);
        // Only the document: the files' own results stay out of the output folder.
        QCOMPARE(QDir(f.env.path(QStringLiteral("out"))).entryList(QDir::Files),
                 QStringList{QStringLiteral("book.djvu")});
        QVERIFY2(f.lastBox().endsWith(QStringLiteral("Joined into %1 (4 page(s)):\r\n"
                                                     "page.tif: page 1\r\n"
                                                     "page.tif: pages 2-3\r\n"
                                                     "c.tif: page 4")
                                          .arg(document)),
                 qPrintable(f.lastBox()));
        QCOMPARE(f.leftInTemp(), QStringList());

        // The same files again: the same bytes. (Through a PDF, pdf2djvu keeps the PDF's time of
        // making in each page, so only the direct route can promise it.)
        if (!direct)
            return;
        const QByteArray first = test::fileBytes(document);
        f.dialogs.saveAnswers = {document};
        f.start();
        QCOMPARE(test::fileBytes(document), first);
    }

    void failedFileIsRefusedOrLeftOut_data() {
        QTest::addColumn<bool>("agree");
        QTest::newRow("refused") << false;
        QTest::newRow("the others joined") << true;
    }

    void failedFileIsRefusedOrLeftOut() {
        QFETCH(bool, agree);
        RunFixture f;
        const Book book = writeBook(f, true);
        f.form->Option2->setChecked(true);
        f.form->Option3->setChecked(true);
        f.form->Check2->setChecked(true);
        const QString document = f.env.path(QStringLiteral("book.djvu"));
        const QString old = f.env.writeFile(QStringLiteral("book.djvu"), "the older book");
        f.dialogs.saveAnswers = {document};
        f.dialogs.boxAnswers = {agree ? Answer::Yes : Answer::No};
        f.start();

        // The question names the file that failed.
        QCOMPARE(f.dialogs.boxes.size(), 2);
        const QString question = f.dialogs.boxes.first().text;
        QVERIFY2(
            question.startsWith(QStringLiteral("1 file(s) could not be converted:\r\nbad.tif: ")),
            qPrintable(question));
        QVERIFY(question.endsWith(QStringLiteral("Make %1 from the other files?").arg(document)));
        if (agree) {
            QCOMPARE(pageSizes(document), book.pageSizes);
            QVERIFY(f.lastBox().contains(QStringLiteral("page.tif: pages 2-3")));
        } else {
            QCOMPARE(test::fileBytes(old), QByteArray("the older book"));
            QVERIFY(f.lastBox().endsWith(QStringLiteral("%1 was not written.").arg(document)));
        }
        QCOMPARE(f.leftInTemp(), QStringList());
    }

    void cancelledSaveDialogDoesNothing() {
        RunFixture f;
        writeBook(f, false);
        f.form->Option2->setChecked(true);
        f.form->Check2->setChecked(true);
        f.start(); // the scripted dialog cancels
        QCOMPARE(f.dialogs.saveStarts.size(), 1);
        QCOMPARE(f.dialogs.boxes.size(), 0);
        QVERIFY(!f.form->IsConverting);
        QVERIFY(QDir(f.env.path(QStringLiteral("scans"))).entryList({"*.djvu"}).isEmpty());
    }

    // Stored as "True"/"False"; missing or unreadable is off.
    void storedChoice_data() {
        QTest::addColumn<QString>("stored"); // "-" for missing
        QTest::addColumn<bool>("on");
        QTest::newRow("missing") << "-" << false;
        QTest::newRow("True") << "True" << true;
        QTest::newRow("False") << "False" << false;
        QTest::newRow("garbage") << "maybe" << false;
    }

    void storedChoice() {
        QFETCH(QString, stored);
        QFETCH(bool, on);
        RunFixture f;
        if (stored != QLatin1String("-"))
            settings::SaveSetting(QStringLiteral("Join"), stored);
        encoderchoice::restore(*f.form);
        QCOMPARE(f.form->Check2->isChecked(), on);
    }

    // Many files, single pages and bundles mixed, join in their order.
    void moreFilesThanOneStep() {
        RunFixture f;
        QList<engine::RowOutcome> rows;
        QList<QSize> sizes;
        const QString one = f.env.path(QStringLiteral("one.djvu"));
        const QString two = f.env.path(QStringLiteral("two.djvu"));
        const QString tif1 = f.env.path(QStringLiteral("one.tif"));
        const QString tif2 = f.env.path(QStringLiteral("two.tif"));
        test::writeTiff(tif1, test::TiffKind::BitonalG4, 1, 64, 80);
        test::writeTiff(tif2, test::TiffKind::BitonalG4, 2, 80, 64);
        QCOMPARE(QProcess::execute(QStringLiteral("cjb2"), {tif1, one}), 0);
        QCOMPARE(QProcess::execute(QStringLiteral("tiffsplit"),
                                   {tif2, f.env.path(QStringLiteral("two-"))}),
                 0);
        const QString twoA = f.env.path(QStringLiteral("two-a.djvu"));
        const QString twoB = f.env.path(QStringLiteral("two-b.djvu"));
        QCOMPARE(QProcess::execute(QStringLiteral("cjb2"),
                                   {f.env.path(QStringLiteral("two-aaa.tif")), twoA}),
                 0);
        QCOMPARE(QProcess::execute(QStringLiteral("cjb2"),
                                   {f.env.path(QStringLiteral("two-aab.tif")), twoB}),
                 0);
        QCOMPARE(QProcess::execute(QStringLiteral("djvm"), {QStringLiteral("-c"), two, twoA, twoB}),
                 0);
        QDir().mkpath(f.env.path(QStringLiteral("parts")));
        const int count = 203;
        for (int i = 0; i < count; ++i) {
            engine::RowOutcome row;
            row.converted = true;
            row.fileName = QStringLiteral("%1.tif").arg(i);
            row.output = f.env.path(QStringLiteral("parts/%1.djvu").arg(i));
            QVERIFY(QFile::copy(i % 2 ? two : one, row.output));
            rows.append(row);
            sizes += i % 2 ? QList<QSize>{{80, 64}, {80, 64}} : QList<QSize>{{64, 80}};
        }
        const QString target = f.env.path(QStringLiteral("all.djvu"));
        const engine::JoinResult joined = engine::joinDocument(rows, target);
        QCOMPARE(joined.problem, QString());
        QCOMPARE(joined.pages, int(sizes.size()));
        QCOMPARE(pageSizes(target), sizes);
        QCOMPARE(joined.files.last().firstPage, int(sizes.size()) - (count % 2 ? 0 : 1));
    }
};

QTEST_MAIN(JoinTest)
#include "tst_join.moc"
