// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCursor>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vormelle {

class FileListModel;
class ListView;
class OptionButton;
class ProgressBar;
namespace platform {
class Desktop;
class Dialogs;
} // namespace platform

// The program's one window: its controls at their places and the window-wide state that the
// handlers share. The handlers themselves live with their subsystems and are wired in by the
// program (connectHandlers), so this class knows none of them.
class Form1 final : public QWidget {
    Q_OBJECT
    // Declared first: the file list is there before the view that shows it.
    FileListModel* const m_files;

public:
    enum Pointer : int { Default = 0, Hourglass = 11, Custom = 99 };

    Form1(platform::Dialogs& dialogs, platform::Desktop& desktop, QWidget* parent = nullptr);
    ~Form1() override;
    Q_DISABLE_COPY_MOVE(Form1)

    ListView* const ListView1;
    QPushButton* const PushButton1;
    QPushButton* const PushButton4;
    QPushButton* const PushButton6;
    QPushButton* const PushButton7;
    QGroupBox* const Frame1;
    OptionButton* const Option1;
    QGroupBox* const Frame4;
    QLineEdit* const Text1;
    QPushButton* const PushButton9;
    OptionButton* const Option2;
    QPushButton* const PushButton2;
    ProgressBar* const ProgressBar1;
    // The encoder row below the progress bar: straight from the TIFF into DjVu, or
    // the route through a PDF.
    QLabel* const Label1;
    OptionButton* const Option3;
    OptionButton* const Option4;
    // On the same row: whether a run adds a searchable text layer (OCR) to every page.
    QCheckBox* const Check1;
    // And whether it joins every file's pages into one document.
    QCheckBox* const Check2;
    // Under the direct route's option: whether its bitonal pages are coded lossy.
    QCheckBox* const Check3;
    // Beside the encoder row: stops a run (enabled only while one goes on), and below it how far
    // the run has come ("3 of 10").
    QPushButton* const PushButton3;
    QLabel* const Label2;

    bool IsConverting = false;
    bool MouseIsDown = false;
    int DraggedItem = -1; // the carried row, -1 for none

    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int pointer);
    void setMouseIcon(const QCursor& icon);
    bool hasMouseIcon() const { return m_mouseIcon.has_value(); }

    QList<QPushButton*> pushButtons() const;

    // Twips to pixels on this screen (1440 twips to the logical inch).
    int twipsX(int twips) const;
    int twipsY(int twips) const;
    // The window's size at start: every control at its place. It can be made larger.
    QSize firstSize() const;

    // The file list that ListView1 shows: what the handlers fill and the run converts.
    FileListModel& files() const { return *m_files; }

    platform::Dialogs& dialogs() const { return m_dialogs; }
    platform::Desktop& desktop() const { return m_desktop; }

    // Form_Unload: what closing the window does. Ends the program at once; tests replace it.
    std::function<void()> unload;
    // Called first when the window is to close; false keeps it open.
    std::function<bool()> mayClose;

    // The pointer rules: over a push button the hand, elsewhere the default, never while the
    // hourglass shows.
    void PushButton_MouseMove();
    void Form_MouseMove();

signals:
    void resized();
    // A conversion run began, and ended with the closing box's text about to show.
    void runStarted();
    void runFinished(const QString& summary);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void placeControls();
    void applyPointer();

    platform::Dialogs& m_dialogs;
    platform::Desktop& m_desktop;
    QWidget* const m_encoderRow; // holds Option3, Check3, Option4, Check1 and Check2
    int m_placedWidthGrowth = 0; // how much wider than at first the controls were placed
    int m_mousePointer = Default;
    bool m_overrideActive = false;
    std::optional<QCursor> m_mouseIcon;
};

} // namespace vormelle
