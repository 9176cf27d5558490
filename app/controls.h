// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProgressBar>
#include <QRadioButton>

namespace vormelle {

// A progress bar that shows a text of its own ("Progress Bar", "Processing: a.tif"), never a
// percentage.
class ProgressBar final : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ProgressBar)

    QString text() const override { return m_text; }
    void setText(const QString& text);
    // Positions outside 0..100 show as the nearest end.
    void setPosition(double position);

private:
    QString m_text;
};

// An option button of an exclusive group that can also hold no selected button (a stored state
// the program restores). The group stays auto-exclusive, so it is a radio group to the
// keyboard and to screen readers; only clearing through setChecked(false) steps around the
// exclusivity, which would refuse to clear the selected button. A click always selects, and
// Return selects like the space bar.
class OptionButton final : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;
    Q_DISABLE_COPY_MOVE(OptionButton)

    // Hides QAbstractButton::setChecked: the program's calls may clear the selected button.
    void setChecked(bool checked);

protected:
    void nextCheckState() override { QRadioButton::setChecked(true); }
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace vormelle
