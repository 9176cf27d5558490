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
    QString m_text = QStringLiteral("Progress Bar");
};

// An option button of a group whose exclusivity the window keeps itself, so that the group can
// also hold no selected button (a stored state the program restores). A click always selects.
class OptionButton final : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;
    Q_DISABLE_COPY_MOVE(OptionButton)

protected:
    void nextCheckState() override { setChecked(true); }
};

} // namespace vormelle
