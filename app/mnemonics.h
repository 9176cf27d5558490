// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QList>

class QAbstractButton;
class QWidget;

namespace vormelle::mnemonics {

// Gives each button an Alt+letter key and underlines that letter where the caption is drawn.
// The caption itself (text(), what screen readers and tests read) stays as it is: no "&" is
// put into it. Letters are chosen in the buttons' order, the first letter of a word where one is
// free, so every language gets its own. Returns the letters given (a null QChar for none).
QList<QChar> install(QWidget& window, const QList<QAbstractButton*>& buttons);

// The letter's place in `caption` that is underlined: the start of a word first, -1 for none.
int position(const QString& caption, QChar letter);

} // namespace vormelle::mnemonics
