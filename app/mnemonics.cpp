// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mnemonics.h"

#include <QAbstractButton>
#include <QPointer>
#include <QProxyStyle>
#include <QShortcut>
#include <QStyleOptionButton>

#include <memory>

namespace vormelle::mnemonics {

namespace {

constexpr char kProperty[] = "vormelleMnemonic";

bool isWordStart(const QString& text, qsizetype i) {
    return i == 0 || !text.at(i - 1).isLetterOrNumber();
}

bool usable(QChar c) {
    const QChar upper = c.toUpper();
    return upper >= u'A' && upper <= u'Z';
}

// The caption as the style draws it, "&" before the underlined letter and every "&" of the
// caption doubled so that it shows as itself.
QString marked(const QString& caption, int at) {
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (i == at)
            text += u'&';
        text += caption.at(i);
        if (caption.at(i) == u'&')
            text += u'&';
    }
    return text;
}

// Draws a marked caption in place of the button's own, which the button keeps unchanged.
class MnemonicStyle final : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* button = qobject_cast<const QAbstractButton*>(widget);
        const auto* o = qstyleoption_cast<const QStyleOptionButton*>(option);
        const bool label = element == CE_PushButtonLabel || element == CE_RadioButtonLabel ||
                           element == CE_CheckBoxLabel;
        if (label && button && o && o->text == button->text()) {
            const int at = position(o->text, button->property(kProperty).toChar());
            if (at >= 0) {
                QStyleOptionButton copy(*o);
                copy.text = marked(o->text, at);
                QProxyStyle::drawControl(element, &copy, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

QChar choose(const QString& caption, const QList<QChar>& taken) {
    const auto free = [&taken](QChar c) { return usable(c) && !taken.contains(c.toUpper()); };
    for (qsizetype i = 0; i < caption.size(); ++i)
        if (isWordStart(caption, i) && free(caption.at(i)))
            return caption.at(i).toUpper();
    for (const QChar c : caption)
        if (free(c))
            return c.toUpper();
    return {};
}

} // namespace

int position(const QString& caption, QChar letter) {
    if (letter.isNull())
        return -1;
    int first = -1;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i).toUpper() != letter.toUpper())
            continue;
        if (isWordStart(caption, i))
            return int(i);
        if (first < 0)
            first = int(i);
    }
    return first;
}

QList<QChar> install(QWidget& window, const QList<QAbstractButton*>& buttons) {
    // One style for all the window's buttons, living as long as the window.
    auto* style = new MnemonicStyle;
    style->setParent(&window);
    QList<QChar> letters;
    QList<QChar> taken;
    for (QAbstractButton* button : buttons) {
        const QChar letter = choose(button->text(), taken);
        letters.append(letter);
        if (letter.isNull())
            continue;
        taken.append(letter);
        button->setProperty(kProperty, letter);
        button->setStyle(style);
        auto* key = new QShortcut(QKeySequence(Qt::ALT | Qt::Key(letter.unicode())), &window);
        QObject::connect(key, &QShortcut::activated, button, [button] {
            if (!button->isEnabled() || !button->isVisible())
                return;
            button->setFocus(Qt::ShortcutFocusReason);
            button->animateClick();
        });
    }
    return letters;
}

} // namespace vormelle::mnemonics
