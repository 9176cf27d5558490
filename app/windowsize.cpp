// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windowsize.h"

#include "app/form1.h"
#include "app/settingsstore.h"
#include "platform/basicerror.h"
#include "platform/settingsfile.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

namespace vormelle::windowsize {

namespace {

QString key() {
    return QString::fromLatin1(kSetting);
}

// While a window is dragged bigger, the size is written once it has rested this long.
constexpr int kSettleMs = 400;

} // namespace

std::optional<Stored> parse(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})x(\\d{1,5})( maximized)?$"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QSize size(m.captured(1).toInt(), m.captured(2).toInt());
    if (size.isEmpty())
        return std::nullopt;
    return Stored{size, m.hasCaptured(3)};
}

QString text(const Stored& stored) {
    return QStringLiteral("%1x%2%3")
        .arg(stored.size.width())
        .arg(stored.size.height())
        .arg(stored.maximized ? QStringLiteral(" maximized") : QString());
}

void restore(Form1& form) {
    const std::optional<Stored> stored = parse(settings::GetSetting(key(), QString()));
    if (!stored)
        return;
    QSize size = stored->size.expandedTo(form.firstSize());
    if (const QScreen* screen = form.screen())
        size = size.boundedTo(screen->availableSize()).expandedTo(form.firstSize());
    const QSize before = form.size();
    form.resize(size);
    // A hidden window hears of its new size only when shown; its controls take their places now.
    QResizeEvent resized(form.size(), before);
    QCoreApplication::sendEvent(&form, &resized);
    if (stored->maximized)
        form.setWindowState(form.windowState() | Qt::WindowMaximized);
}

void remember(Form1& form) {
    auto* settle = new QTimer(&form);
    settle->setSingleShot(true);
    settle->setInterval(kSettleMs);
    QObject::connect(&form, &Form1::resized, settle, qOverload<>(&QTimer::start));
    QObject::connect(settle, &QTimer::timeout, &form, [&form] {
        const bool maximized = form.isMaximized() || form.isFullScreen();
        // A maximised window keeps the size it had before, to return to it.
        Stored now{maximized ? form.normalGeometry().size() : form.size(), maximized};
        if (now.size.isEmpty()) {
            const std::optional<Stored> before = parse(settings::GetSetting(key(), QString()));
            now.size = before ? before->size : form.firstSize();
        }
        const QString value = text(now);
        // Nothing stored stands for the first size.
        const QString before = settings::GetSetting(key(), text({form.firstSize(), false}));
        if (before == value)
            return;
        // Straight to the file: a size that cannot be kept is no reason to trouble the user,
        // and the store's one report of an unwritable file stays for the choices it is about.
        try {
            platform::writeSetting(QString::fromLatin1(settings::kApplication),
                                   QString::fromLatin1(settings::kSection), key(), value);
        } catch (const BasicError&) {
        }
    });
}

} // namespace vormelle::windowsize
