// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startupenv.h"

#include "app/errorreport.h"
#include "app/form1.h"
#include "app/paths/paths.h"
#include "platform/apptitle.h"
#include "platform/basicerror.h"
#include "platform/dialogs.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtEndian>

#include <cerrno>
#include <optional>

namespace vormelle::startup {

namespace {

constexpr qsizetype kLongestTitle = 40;

// The hot spot a cursor file gives its first picture (the one the picture loader reads), or
// nothing for an icon or any other picture.
std::optional<QPoint> cursorHotSpot(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Directory: reserved 0, type (2 for cursors), count; then per picture 16 bytes, of which
    // bytes 4..7 are the hot spot's x and y.
    const QByteArray head = file.read(6 + 16);
    if (head.size() < 6 + 16)
        return std::nullopt;
    const auto word = [&head](int at) { return qFromLittleEndian<quint16>(head.constData() + at); };
    if (word(0) != 0 || word(2) != 2 || word(4) == 0)
        return std::nullopt;
    return QPoint(word(6 + 4), word(6 + 6));
}

} // namespace

void ApplySkin(Form1& form) {
    const QString skin = paths::programFolder() + QLatin1String(kSkinFile);
    if (!paths::FileExists(skin) || paths::IsFolder(skin))
        return;
    // The button face as a role, not a copied colour, so it follows the user's colour scheme.
    const auto paintFace = [](QWidget* widget) {
        widget->setBackgroundRole(QPalette::Button);
        widget->setAutoFillBackground(true);
    };
    paintFace(&form);
    for (QWidget* control : form.findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control) ||
            qobject_cast<QGroupBox*>(control) || qobject_cast<QLabel*>(control))
            paintFace(control);
    }
}

QCursor loadPointer(const QString& path) {
    if (!paths::FileExists(path))
        throw BasicError(BasicError::FileNotFound).at(path, BasicError::systemText(ENOENT));
    QImageReader reader(path);
    const QImage picture = reader.read();
    if (picture.isNull())
        throw BasicError(BasicError::InvalidPicture).at(path, reader.errorString());
    QPoint hotSpot(picture.width() / 2, picture.height() / 2);
    if (const std::optional<QPoint> fromFile = cursorHotSpot(path))
        hotSpot = QPoint(qBound(0, fromFile->x(), picture.width() - 1),
                         qBound(0, fromFile->y(), picture.height() - 1));
    return QCursor(QPixmap::fromImage(picture), hotSpot.x(), hotSpot.y());
}

int drawOneToHundred(double fraction) {
    return static_cast<int>(fraction * 100) + 1;
}

void VisitHomePageAtRandom(Form1& form, const std::function<int()>& draw, const QString& homePage) {
    if (!homePage.isEmpty() && draw() == 7)
        form.desktop().openUrl(homePage);
}

void VisitHomePageAtRandom(Form1& form) {
    VisitHomePageAtRandom(
        form, [] { return drawOneToHundred(QRandomGenerator::global()->generateDouble()); });
}

QString applicationTitleFor(const QString& productName) {
    QString title = productName;
    bool cut = false;
    for (;;) {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        // A name without a blank, or one whose first word alone is too long, has nothing left
        // to cut at; the length limit below holds it.
        if (blank < 0 || (cut && title.size() <= kLongestTitle))
            break;
        title.truncate(blank);
        cut = true;
    }
    return title.left(kLongestTitle);
}

void SetApplicationTitle() {
    platform::setApplicationTitle(applicationTitleFor(QString::fromLatin1(kProductName)));
}

bool workInHomeFolder() {
    return QDir::setCurrent(QDir::homePath());
}

QString DesktopFolder() {
    return desktopFolderFrom(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

QString desktopFolderFrom(const QString& lookedUp) {
    if (lookedUp.isEmpty())
        throw BasicError(BasicError::InvalidProcedureCall);
    const QString folder = QDir::cleanPath(lookedUp);
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QIcon programIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/vormelle/icons/vormelle-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/vormelle/icons/vormelle-256.png"), QSize(256, 256));
    return icon;
}

} // namespace vormelle::startup
