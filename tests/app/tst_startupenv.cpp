// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/controls.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/paths/paths.h"
#include "app/startupenv.h"
#include "platform/apptitle.h"
#include "platform/basicerror.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>

#include <cmath>
#include <memory>

using namespace vormelle;

namespace {

// A scheme whose button face differs from the window colour, so the skin's colour shows.
const QColor kWindow(236, 236, 236);
const QColor kButtonFace(190, 160, 110);
const QColor kBase(255, 255, 255);

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return f.readAll();
}

// The colour the window shows at a point of `widget`, and the control found there.
QColor shownAt(Form1& form, QWidget* widget, QPoint at, QWidget** found) {
    const QPoint onForm = widget->mapTo(&form, at);
    *found = form.childAt(onForm);
    return form.grab().toImage().pixelColor(onForm);
}

} // namespace

class StartupEnvTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void applySkin_data();
    void applySkin();

    void loadPointer_data();
    void loadPointer();
    void loadPointerFailures_data();
    void loadPointerFailures();
    void handPointerShowsOverButtons();

    void homePageOpensOnlyOnSeven_data();
    void homePageOpensOnlyOnSeven();
    void drawCoversOneToHundred_data();
    void drawCoversOneToHundred();

    void applicationTitle_data();
    void applicationTitle();
    void setApplicationTitle();

    void desktopFolder_data();
    void desktopFolder();
    void desktopFolderFailedLookup();

    void programIcon();

private:
    std::unique_ptr<test::TestEnv> m_env;
    test::ScriptedDialogs m_dialogs;
    test::RecordingDesktop m_desktop;
    QByteArray m_oldHome;
};

void StartupEnvTest::initTestCase() {
    QPalette scheme = QApplication::palette();
    scheme.setColor(QPalette::Window, kWindow);
    scheme.setColor(QPalette::Button, kButtonFace);
    scheme.setColor(QPalette::Base, kBase);
    QApplication::setPalette(scheme);
}

void StartupEnvTest::init() {
    m_env = std::make_unique<test::TestEnv>();
    m_desktop.urls.clear();
    m_oldHome = qgetenv("HOME");
    paths::setProgramFolder(m_env->path(QStringLiteral("program")));
    QDir().mkpath(paths::programFolder());
}

void StartupEnvTest::cleanup() {
    paths::setProgramFolder(QString());
    qputenv("HOME", m_oldHome);
    m_env.reset();
}

void StartupEnvTest::applySkin_data() {
    QTest::addColumn<QString>("skin"); // what lies at x/o.cjs
    QTest::addColumn<bool>("painted");
    QTest::newRow("no skin file") << "" << false;
    QTest::newRow("skin file") << "file" << true;
    QTest::newRow("empty skin file") << "empty" << true;
    QTest::newRow("folder named o.cjs") << "folder" << false;
}

void StartupEnvTest::applySkin() {
    QFETCH(QString, skin);
    QFETCH(bool, painted);
    const QString skinPath = paths::programFolder() + QStringLiteral("/x/o.cjs");
    if (skin == QLatin1String("file"))
        m_env->writeFile(QStringLiteral("program/x/o.cjs"), "skin");
    else if (skin == QLatin1String("empty"))
        m_env->writeFile(QStringLiteral("program/x/o.cjs"), "");
    else if (skin == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(skinPath));

    Form1 form(m_dialogs, m_desktop);
    startup::ApplySkin(form);

    if (!painted) {
        // Nothing changes: the window looks exactly as one that never saw the step.
        Form1 untouched(m_dialogs, m_desktop);
        QCOMPARE(form.grab().toImage(), untouched.grab().toImage());
        return;
    }
    QWidget* found = nullptr;
    QCOMPARE(shownAt(form, &form, QPoint(2, 2), &found), kButtonFace);
    QCOMPARE(found, nullptr);
    for (QWidget* option : std::initializer_list<QWidget*>{form.Option1, form.Option2}) {
        const QPoint end(option->width() - 3, option->height() / 2);
        QCOMPARE(shownAt(form, option, end, &found), kButtonFace);
        QCOMPARE(found, option);
    }
    // Between the frame's title and its border line: the frame's own background.
    const QPoint frameTop(form.Frame1->width() - 6, 2);
    QCOMPARE(shownAt(form, form.Frame1, frameTop, &found), kButtonFace);
    QCOMPARE(found, form.Frame1);
    // Inside their borders the style shades both frames alike, over their own background; the
    // inner frame would show the shade twice if it had kept the outer one's.
    const QPoint outerInside(form.Frame1->width() - 8, form.Frame1->height() - 8);
    const QColor outer = shownAt(form, form.Frame1, outerInside, &found);
    QCOMPARE(found, form.Frame1);
    const QPoint innerInside(form.Frame4->width() - 8, form.Frame4->height() - 8);
    QCOMPARE(shownAt(form, form.Frame4, innerInside, &found), outer);
    QCOMPARE(found, form.Frame4);
    // The text box keeps its own colour.
    const QPoint textEnd(form.Text1->width() - 6, form.Text1->height() / 2);
    QCOMPARE(shownAt(form, form.Text1, textEnd, &found), kBase);
    QCOMPARE(found, form.Text1);
}

void StartupEnvTest::loadPointer_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QPoint>("hotSpot");
    QTest::addColumn<QSize>("size");
    // The shipped hand keeps the hot spot written in its file.
    QTest::newRow("cursor file") << "HAND-M.CUR" << QPoint(13, 4) << QSize(32, 32);
    QTest::newRow("hot spot outside the picture") << "far.cur" << QPoint(31, 31) << QSize(32, 32);
    // Icons and other pictures carry no hot spot: they point with their centre.
    QTest::newRow("icon file") << "drag.ico" << QPoint(16, 16) << QSize(32, 32);
    QTest::newRow("png named .CUR") << "png.CUR" << QPoint(5, 3) << QSize(10, 6);
}

void StartupEnvTest::loadPointer() {
    QFETCH(QString, file);
    QFETCH(QPoint, hotSpot);
    QFETCH(QSize, size);
    const QString shipped = test::TestEnv::builtProgramFolder();
    const QByteArray hand = readAll(shipped + QStringLiteral("/HAND-M.CUR"));
    m_env->writeFile(QStringLiteral("HAND-M.CUR"), hand);
    QByteArray far = hand;
    far[10] = char(200); // hot spot x, y: little-endian words at bytes 10 and 12
    far[12] = char(200);
    m_env->writeFile(QStringLiteral("far.cur"), far);
    m_env->writeFile(QStringLiteral("drag.ico"), readAll(shipped + QStringLiteral("/drag.ico")));
    QImage png(size, QImage::Format_ARGB32);
    png.fill(Qt::red);
    QVERIFY(png.save(m_env->path(QStringLiteral("png.CUR")), "PNG"));

    const QCursor pointer = startup::loadPointer(m_env->path(file));
    QCOMPARE(pointer.shape(), Qt::BitmapCursor);
    QCOMPARE(pointer.pixmap().size(), size);
    QCOMPARE(pointer.hotSpot(), hotSpot);
}

void StartupEnvTest::loadPointerFailures_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("error");
    QTest::newRow("missing") << QByteArray() << int(BasicError::FileNotFound);
    QTest::newRow("empty") << QByteArray("") << int(BasicError::InvalidPicture);
    QTest::newRow("text") << QByteArray("not a pointer\n") << int(BasicError::InvalidPicture);
    // The directory of a cursor file, then nothing: the picture it announces is missing.
    const QByteArray head = QByteArray::fromHex("00000200010020200000040004002810000016000000");
    QTest::newRow("truncated cursor") << head << int(BasicError::InvalidPicture);
}

void StartupEnvTest::loadPointerFailures() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, error);
    const QString path = m_env->path(QStringLiteral("HAND-M.CUR"));
    if (!bytes.isNull())
        m_env->writeFile(QStringLiteral("HAND-M.CUR"), bytes);
    try {
        startup::loadPointer(path);
        QFAIL("no error raised");
    } catch (const BasicError& e) {
        QCOMPARE(e.number(), error);
    }
}

void StartupEnvTest::handPointerShowsOverButtons() {
    Form1 form(m_dialogs, m_desktop);
    const QCursor hand = startup::loadPointer(test::TestEnv::builtProgramFolder() +
                                              QLatin1String(startup::kHandPointerFile));
    form.setMouseIcon(hand);
    form.PushButton_MouseMove();
    QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(form.cursor().hotSpot(), hand.hotSpot());
    QCOMPARE(form.cursor().pixmap().toImage(), hand.pixmap().toImage());
}

void StartupEnvTest::homePageOpensOnlyOnSeven_data() {
    QTest::addColumn<int>("draw");
    QTest::addColumn<QString>("homePage");
    QTest::addColumn<bool>("opens");
    const QString page = QStringLiteral("https://scans.test/");
    for (int n : {1, 6, 7, 8, 70, 100})
        QTest::addRow("%d", n) << n << page << (n == 7);
    // A build without a home page never opens one.
    QTest::addRow("7 without a home page") << 7 << QString() << false;
}

void StartupEnvTest::homePageOpensOnlyOnSeven() {
    QFETCH(int, draw);
    QFETCH(QString, homePage);
    QFETCH(bool, opens);
    Form1 form(m_dialogs, m_desktop);
    int draws = 0;
    startup::VisitHomePageAtRandom(
        form,
        [&] {
            ++draws;
            return draw;
        },
        homePage);
    QCOMPARE(m_desktop.urls, opens ? QStringList{homePage} : QStringList());
    QCOMPARE(draws, homePage.isEmpty() ? 0 : 1);
    QVERIFY(m_dialogs.boxes.isEmpty());
}

void StartupEnvTest::drawCoversOneToHundred_data() {
    QTest::addColumn<double>("fraction");
    QTest::addColumn<int>("draw");
    QTest::newRow("the lowest fraction draws 1") << 0.0 << 1;
    QTest::newRow("just under a hundredth") << 0.0099 << 1;
    QTest::newRow("the seventh hundredth draws 7") << 0.06 << 7;
    QTest::newRow("its end") << 0.0699 << 7;
    QTest::newRow("just past it") << 0.07 << 8;
    QTest::newRow("the highest fraction draws 100") << std::nextafter(1.0, 0.0) << 100;
}

// Every fraction the generator gives draws from 1 to 100, and 7 takes one hundredth of them.
void StartupEnvTest::drawCoversOneToHundred() {
    QFETCH(double, fraction);
    QFETCH(int, draw);
    QCOMPARE(startup::drawOneToHundred(fraction), draw);
}

void StartupEnvTest::applicationTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("one word stays whole") << "Vormelle"
                                          << "Vormelle";
    QTest::newRow("two words lose the last") << "Vormelle Converter"
                                             << "Vormelle";
    const QString forty = QStringLiteral("Vormelle TIFF to DjVu Batch Converter XL");
    QCOMPARE(forty.size(), 40);
    QTest::newRow("exactly 40 still loses its last word")
        << forty << "Vormelle TIFF to DjVu Batch Converter";
    QTest::newRow("longer than 40 loses words until it fits")
        << "Vormelle TIFF to DjVu Batch Converter Extra Deluxe Edition"
        << "Vormelle TIFF to DjVu Batch Converter";
    QTest::newRow("trailing blank") << "Vormelle "
                                    << "Vormelle";
    QTest::newRow("one word over 40 is held to 40")
        << QString(45, QLatin1Char('V')) << QString(40, QLatin1Char('V'));
    QTest::newRow("first word over 40")
        << QString(45, QLatin1Char('V')) + QStringLiteral(" Pro") << QString(40, QLatin1Char('V'));
}

void StartupEnvTest::applicationTitle() {
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(startup::applicationTitleFor(name), title);
}

void StartupEnvTest::setApplicationTitle() {
    platform::setApplicationTitle(QStringLiteral("something else"));
    startup::SetApplicationTitle();
    QCOMPARE(platform::applicationTitle(), QStringLiteral("Vormelle"));
}

void StartupEnvTest::desktopFolder_data() {
    QTest::addColumn<QByteArray>("userDirs"); // user-dirs.dirs; empty for none
    QTest::addColumn<QString>("expected");    // "~" stands for the home folder
    QTest::newRow("no user folders setting") << QByteArray() << "~/Desktop/";
    QTest::newRow("folder under home")
        << QByteArray("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n") << "~/Schreibtisch/";
    QTest::newRow("trailing slash")
        << QByteArray("XDG_DESKTOP_DIR=\"$HOME/Bureau/\"\n") << "~/Bureau/";
    QTest::newRow("blank and non-ASCII letters")
        << QByteArray("XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\nXDG_DESKTOP_DIR=\"$HOME/Työ pöytä\"\n")
        << "~/Työ pöytä/";
    QTest::newRow("absolute path")
        << QByteArray("XDG_DESKTOP_DIR=\"@/shared desk\"\n") << "@/shared desk/";
}

void StartupEnvTest::desktopFolder() {
    QFETCH(QByteArray, userDirs);
    QFETCH(QString, expected);
    const QString home = m_env->path(QStringLiteral("home"));
    // "@" stands for a folder outside home.
    const QString elsewhere = m_env->path(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(home));
    qputenv("HOME", QFile::encodeName(home));
    if (!userDirs.isEmpty()) {
        QFile file(m_env->configDir() + QStringLiteral("/user-dirs.dirs"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(userDirs.replace('@', QFile::encodeName(elsewhere)));
    }
    expected.replace(QLatin1Char('~'), home).replace(QLatin1Char('@'), elsewhere);
    // The folders exist, as a desktop makes them.
    QVERIFY(QDir().mkpath(expected));

    QCOMPARE(startup::DesktopFolder(), expected);
}

void StartupEnvTest::desktopFolderFailedLookup() {
    try {
        startup::desktopFolderFrom(QString());
        QFAIL("no error raised");
    } catch (const BasicError& e) {
        QCOMPARE(e.number(), int(BasicError::InvalidProcedureCall));
    }
    QCOMPARE(startup::desktopFolderFrom(QStringLiteral("/")), QStringLiteral("/"));
}

void StartupEnvTest::programIcon() {
    const QIcon icon = startup::programIcon();
    const QList<QSize> sizes = icon.availableSizes();
    QVERIFY(sizes.contains(QSize(48, 48)));
    QVERIFY(sizes.contains(QSize(256, 256)));
    // Drawn, not blank: a transparent corner, an opaque middle.
    const QImage picture = icon.pixmap(QSize(48, 48)).toImage();
    QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(picture.pixel(24, 24)), 255);
}

QTEST_MAIN(StartupEnvTest)
#include "tst_startupenv.moc"
