// SPDX-License-Identifier: GPL-3.0-or-later
// "Smaller black-and-white pages (lossy)" and `--lossy` through the real window, the real
// settings file and the real program: a scanned-looking page converts, decodes with DjVuLibre,
// differs from its TIFF in at most 1 % of its pixels, is smaller than the exact page and the
// same bytes every time; the box is stored as "Lossy" and means nothing on the PDF route.
#include "app/controls.h"
#include "app/settingsstore.h"
#include "bench/codec/scanpages.h"
#include "output/encoderchoice.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/compoundpage.h"
#include "tests/engine/djvudecode.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using namespace vormelle;
using test::RunFixture;

namespace {

// The scan's pages as their decoded DjVu pages are compared: RGB888, black on white.
qint64 changedPixels(const QImage& mono, const QImage& decoded) {
    if (mono.size() != decoded.size())
        return qint64(mono.width()) * mono.height();
    qint64 changed = 0;
    for (int y = 0; y < mono.height(); ++y) {
        const uchar* line = mono.constScanLine(y);
        for (int x = 0; x < mono.width(); ++x) {
            const bool black = line[x / 8] & (0x80 >> (x % 8));
            changed += black != (qGray(decoded.pixel(x, y)) < 128);
        }
    }
    return changed;
}

struct Scan {
    QString tiff;
    QList<QImage> pages;
};

// Pages of running text at 300 dpi or a table of six-digit figures in 7-point type, one TIFF
// (G4) each.
Scan writeScan(const QString& path, bool table, int pages = 1) {
    Scan scan{path, {}};
    for (int i = 0; i < pages; ++i)
        scan.pages << (table ? bench::tablePage(300, QStringLiteral("Liberation Sans"), 7, 21 + i)
                             : bench::textPage(300, QStringLiteral("Liberation Serif"), 10, 22 + i))
                          .image;
    if (!bench::writeTiff(path, scan.pages, 300))
        qFatal("cannot write %s", qPrintable(path));
    return scan;
}

// Every page of `djvu` against the scan: the share of changed pixels of the worst page, or -1
// when the pages do not decode as the scan's.
double worstChange(const QString& djvu, const Scan& scan) {
    const QList<test::DjvuPage> pages = test::decodeDjvu(djvu);
    if (pages.size() != scan.pages.size())
        return -1;
    double worst = 0;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (pages[i].image.size() != scan.pages[i].size() || pages[i].dpi != 300)
            return -1;
        const QImage& page = scan.pages[i];
        worst = std::max(worst, double(changedPixels(page, pages[i].image)) /
                                    double(qint64(page.width()) * page.height()));
    }
    return worst;
}

// The size of the first chunk `id` in `djvu`, as djvudump lists it ("Sjbz [1234]"); -1 if none.
qint64 chunkSize(const QString& djvu, const QString& id) {
    QProcess p;
    p.start(QStringLiteral("djvudump"), {djvu});
    p.waitForFinished(-1);
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        const QString t = line.trimmed();
        if (t.startsWith(id + QStringLiteral(" ["))) {
            const qsizetype end = t.indexOf(QLatin1Char(']'));
            return t.mid(id.size() + 2, end - id.size() - 2).toLongLong();
        }
    }
    return -1;
}

// The page's mask as DjVuLibre renders it, as Format_Mono (1 for black).
QImage maskOf(const QString& djvu, const QString& pbm) {
    QProcess::execute(QStringLiteral("ddjvu"),
                      {QStringLiteral("-format=pbm"), QStringLiteral("-mode=mask"), djvu, pbm});
    return QImage(pbm).convertToFormat(QImage::Format_Mono);
}

QProcess* convert(const QStringList& arguments) {
    auto* p = new QProcess;
    p->start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"),
             QStringList{QStringLiteral("--convert")} + arguments);
    return p;
}

} // namespace

class LossyTest final : public QObject {
    Q_OBJECT

private slots:
    // Stored as "True"/"False"; missing or anything else is off.
    void storedChoice_data() {
        QTest::addColumn<QString>("stored"); // "-" for missing
        QTest::addColumn<bool>("on");
        QTest::newRow("missing") << "-" << false;
        QTest::newRow("True") << "True" << true;
        QTest::newRow("False") << "False" << false;
        QTest::newRow("garbage") << "very" << false;
        QTest::newRow("empty") << "" << false;
    }
    void storedChoice() {
        QFETCH(QString, stored);
        QFETCH(bool, on);
        RunFixture f;
        settings::SaveSetting(QStringLiteral("Encoder"), QStringLiteral("Direct"));
        if (stored != QLatin1String("-"))
            settings::SaveSetting(QStringLiteral("Lossy"), stored);
        encoderchoice::restore(*f.form);
        QCOMPARE(f.form->Check3->isChecked(), on);
        QCOMPARE(encoderchoice::storedLossy(), on);
        QCOMPARE(encoderchoice::storedChoices().lossy, on);
        QCOMPARE(encoderchoice::chosenChoices(*f.form).lossy, on);
    }

    // A click stores the box at once, in the settings file itself; the box follows the route:
    // through a PDF it is greyed and the run's choices say exact, whatever it shows.
    void boxStoresAndFollowsTheRoute() {
        RunFixture f;
        QCOMPARE(f.form->Check3->text(), QStringLiteral("Smaller black-and-white pages (lossy)"));
        QCOMPARE(f.form->Check3->parentWidget(), f.form->Option3->parentWidget());
        QVERIFY(!f.form->Check3->isChecked());
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        QVERIFY(!f.form->Option3->isChecked());
        QVERIFY(!f.form->Check3->isEnabled()); // the route through a PDF at first

        QTest::mouseClick(f.form->Option3, Qt::LeftButton);
        QVERIFY(f.form->Check3->isEnabled());
        QTest::mouseClick(f.form->Check3, Qt::LeftButton);
        QVERIFY(f.form->Check3->isChecked());
        QCOMPARE(settings::GetSetting(QStringLiteral("Lossy"), QString()), QStringLiteral("True"));
        QVERIFY(test::fileBytes(f.env.settingsFile()).contains("Lossy=True"));
        QVERIFY(encoderchoice::chosenChoices(*f.form).lossy);

        QTest::mouseClick(f.form->Option4, Qt::LeftButton);
        QVERIFY(!f.form->Check3->isEnabled());
        QVERIFY(f.form->Check3->isChecked()); // kept for the direct route
        QVERIFY(!encoderchoice::chosenChoices(*f.form).lossy);
        QVERIFY(!encoderchoice::storedChoices().lossy);
        // A greyed box takes no click.
        QTest::mouseClick(f.form->Check3, Qt::LeftButton);
        QVERIFY(f.form->Check3->isChecked());

        QTest::mouseClick(f.form->Option3, Qt::LeftButton);
        QTest::mouseClick(f.form->Check3, Qt::LeftButton);
        QVERIFY(test::fileBytes(f.env.settingsFile()).contains("Lossy=False"));
        QVERIFY(!encoderchoice::chosenChoices(*f.form).lossy);
    }

    // Through the window: the box ticked, a scanned page converts smaller than with it cleared,
    // within 1 % of its pixels, and to the same bytes again.
    void throughTheWindow() {
        RunFixture f;
        const Scan scan = writeScan(f.env.path(QStringLiteral("scan.tif")), false);
        const QString out = f.env.path(QStringLiteral("out"));
        QDir().mkpath(out);
        f.form->Text1->setText(out);
        f.form->Option3->click();
        const QString result = out + QStringLiteral("/scan.djvu");
        QByteArray exact, lossy;
        for (const bool on : {false, true, true}) {
            if (f.form->Check3->isChecked() != on)
                f.form->Check3->click();
            f.add(scan.tiff);
            f.start();
            QVERIFY2(QFile::exists(result), qPrintable(f.lastBox()));
            const double worst = worstChange(result, scan);
            QVERIFY2(worst >= 0, qPrintable(result));
            const QByteArray bytes = test::fileBytes(result);
            if (!on) {
                QCOMPARE(worst, 0.0);
                exact = bytes;
            } else {
                QVERIFY2(worst > 0 && worst <= 0.01, qPrintable(QString::number(worst)));
                if (!lossy.isEmpty())
                    QCOMPARE(bytes, lossy);
                lossy = bytes;
            }
            QFile::remove(result);
        }
        QVERIFY2(lossy.size() * 10 < exact.size() * 8,
                 qPrintable(
                     QStringLiteral("%1 B lossy, %2 B exact").arg(lossy.size()).arg(exact.size())));
        QCOMPARE(f.leftInTemp(), QStringList());
    }

    // `vormelle --convert --lossy`: the same checks on text and on a table of figures, the mode
    // named in the run log; exact without it. A document's pages share a dictionary either way.
    void onTheCommandLine_data() {
        QTest::addColumn<bool>("table");
        QTest::addColumn<int>("pages");
        QTest::newRow("text") << false << 1;
        QTest::newRow("figures 7 pt") << true << 1;
        QTest::newRow("three pages of text") << false << 3;
    }
    void onTheCommandLine() {
        QFETCH(bool, table);
        QFETCH(int, pages);
        test::TestEnv env;
        const Scan scan = writeScan(env.path(QStringLiteral("scan.tif")), table, pages);
        QList<QByteArray> results;
        for (const QString& mode :
             {QStringLiteral("exact"), QStringLiteral("lossy"), QStringLiteral("again")}) {
            const QString out = env.path(mode);
            QDir().mkpath(out);
            QStringList arguments{QStringLiteral("--output"), out, QStringLiteral("--log"),
                                  out + QStringLiteral("/run.log"), scan.tiff};
            if (mode != QLatin1String("exact"))
                arguments.prepend(QStringLiteral("--lossy"));
            std::unique_ptr<QProcess> p(convert(arguments));
            QVERIFY(p->waitForFinished(180000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
            const QString result = out + QStringLiteral("/scan.djvu");
            const double worst = worstChange(result, scan);
            const QByteArray log = test::fileBytes(out + QStringLiteral("/run.log"));
            if (mode == QLatin1String("exact")) {
                QCOMPARE(worst, 0.0);
                QVERIFY2(log.contains("page 1: bitonal, mask "), log.constData());
            } else {
                QVERIFY2(worst > 0 && worst <= 0.01, qPrintable(QString::number(worst)));
                for (int page = 1; page <= pages; ++page)
                    QVERIFY2(
                        log.contains(
                            QStringLiteral("page %1: bitonal lossy, mask ").arg(page).toUtf8()) &&
                            log.contains(" shapes drawn as twins, ") &&
                            log.contains("% of the pixels changed"),
                        log.constData());
                // Every page has twins drawn.
                QVERIFY2(!QString::fromUtf8(log).contains(
                             QRegularExpression(QStringLiteral(R"(mask \d+ B, 0 of )"))),
                         log.constData());
            }
            QCOMPARE(chunkSize(result, QStringLiteral("Djbz")) > 0, pages > 1);
            results << test::fileBytes(result);
        }
        QVERIFY2(results[1].size() * 10 < results[0].size() * 9,
                 qPrintable(QStringLiteral("%1 B lossy, %2 B exact")
                                .arg(results[1].size())
                                .arg(results[0].size())));
        QCOMPARE(results[2], results[1]);
    }

    // A grey page of text becomes a compound page; with --lossy its mask is coded lossy too:
    // smaller, changed in at most 1 % of its pixels, the same bytes every time.
    void compoundMask() {
        test::TestEnv env;
        const QString tiff = env.path(QStringLiteral("grey.tif"));
        test::writePageTiff(tiff, {test::paintPage(test::greyTextPage()).image}, true, 0);
        QList<QByteArray> results;
        QList<qint64> masks;
        QList<QImage> maskImages;
        for (const QString& mode :
             {QStringLiteral("exact"), QStringLiteral("lossy"), QStringLiteral("again")}) {
            const QString out = env.path(mode);
            QDir().mkpath(out);
            QStringList arguments{QStringLiteral("--output"), out, QStringLiteral("--log"),
                                  out + QStringLiteral("/run.log"), tiff};
            if (mode != QLatin1String("exact"))
                arguments.prepend(QStringLiteral("--lossy"));
            std::unique_ptr<QProcess> p(convert(arguments));
            QVERIFY(p->waitForFinished(180000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
            const QString result = out + QStringLiteral("/grey.djvu");
            QVERIFY2(test::fileBytes(out + QStringLiteral("/run.log")).contains("page 1: text ("),
                     test::fileBytes(out + QStringLiteral("/run.log")).constData());
            results << test::fileBytes(result);
            masks << chunkSize(result, QStringLiteral("Sjbz"));
            maskImages << maskOf(result, out + QStringLiteral("/mask.pbm"));
            QVERIFY(!maskImages.last().isNull());
        }
        QVERIFY(masks[0] > 0);
        QVERIFY2(
            masks[1] * 10 < masks[0] * 9,
            qPrintable(QStringLiteral("mask %1 B lossy, %2 B exact").arg(masks[1]).arg(masks[0])));
        QCOMPARE(maskImages[1].size(), maskImages[0].size());
        qint64 changed = 0;
        for (int y = 0; y < maskImages[0].height(); ++y)
            for (int x = 0; x < maskImages[0].width(); ++x)
                changed += maskImages[0].pixelIndex(x, y) != maskImages[1].pixelIndex(x, y);
        QVERIFY2(changed > 0 &&
                     changed * 100 <= qint64(maskImages[0].width()) * maskImages[0].height(),
                 qPrintable(QString::number(changed)));
        QCOMPARE(results[2], results[1]);
    }

    // On the command line the PDF route refuses it rather than ignoring it.
    void refusedThroughPdf() {
        test::TestEnv env;
        std::unique_ptr<QProcess> p(
            convert({QStringLiteral("--lossy"), QStringLiteral("--encoder"), QStringLiteral("pdf"),
                     QStringLiteral("--beside"), env.path(QStringLiteral("a.tif"))}));
        QVERIFY(p->waitForFinished(20000));
        QCOMPARE(p->exitCode(), 2);
        QCOMPARE(QString::fromUtf8(p->readAllStandardError()),
                 QStringLiteral("vormelle: --lossy needs --encoder direct\n"
                                "Try 'vormelle --help' for more information.\n"));
    }
};

QTEST_MAIN(LossyTest)
#include "tst_lossy.moc"
