// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/controls.h"
#include "app/texts.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <cmath>

namespace vormelle {

// Shares its text with the run, which puts it back when a run ends.
ProgressBar::ProgressBar(QWidget* parent)
    : QProgressBar(parent), m_text(shell::Texts::tr("Progress Bar")) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void ProgressBar::setText(const QString& text) {
    m_text = text;
    update();
}

void ProgressBar::setPosition(double position) {
    if (!std::isfinite(position))
        position = 0;
    // Round half to even, as the runtime assigns a real to a whole-number property.
    setValue(int(std::nearbyint(std::clamp(position, 0.0, 100.0))));
}

void OptionButton::setChecked(bool checked) {
    if (checked || !isChecked() || !autoExclusive()) {
        QRadioButton::setChecked(checked);
        return;
    }
    setAutoExclusive(false);
    QRadioButton::setChecked(false);
    setAutoExclusive(true);
}

void OptionButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QRadioButton::keyPressEvent(event);
}

} // namespace vormelle
