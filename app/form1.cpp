// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/form1.h"

#include "app/accessibility.h"
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/listview.h"
#include "platform/events.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace vormelle {

namespace {

constexpr int kTwipsPerInch = 1440;

} // namespace

Form1::Form1(platform::Dialogs& dialogs, platform::Desktop& desktop, QWidget* parent)
    : QWidget(parent), m_files(new FileListModel(this)), ListView1(new ListView(*m_files, this)),
      PushButton1(new QPushButton(tr("Add TIFF File(s)"), this)),
      PushButton4(new QPushButton(tr("Add All TIFF File(s) In Folder"), this)),
      PushButton6(new QPushButton(tr("Clear List"), this)),
      PushButton7(new QPushButton(tr("Load Sample/Example Files"), this)),
      Frame1(new QGroupBox(tr("Save Option"), this)),
      Option1(new OptionButton(tr("Save results to this folder:"), Frame1)),
      Frame4(new QGroupBox(Frame1)), Text1(new QLineEdit(Frame4)),
      PushButton9(new QPushButton(QStringLiteral("..."), Frame4)),
      Option2(new OptionButton(tr("Save results in folder of original file"), Frame1)),
      PushButton2(new QPushButton(tr("Start Converting"), this)),
      ProgressBar1(new ProgressBar(this)), Label1(new QLabel(tr("Encoder:"), this)),
      Option3(new OptionButton(tr("Direct: exact 1-bit pages, compact colour"), this)),
      Option4(new OptionButton(tr("Through PDF (tiff2pdf + pdf2djvu)"), this)),
      Check1(new QCheckBox(tr("Make text searchable (OCR)"), this)),
      Check2(new QCheckBox(tr("Join all files into one document"), this)),
      Check3(new QCheckBox(tr("Smaller black-and-white pages (lossy)"), this)),
      PushButton3(new QPushButton(tr("Stop"), this)), Label2(new QLabel(this)),
      unload([] { platform::endProgramNow(); }), m_dialogs(dialogs), m_desktop(desktop),
      m_encoderRow(new QWidget(this)) {
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(9);
    setFont(arial);
    QFont listFont = arial;
    listFont.setBold(true);
    ListView1->setFont(listFont);
    ListView1->setToolTip(
        tr("Drag and drop files here. Double-click item to remove it. Move | line to right and out "
           "of window to reveal full names."));

    // One auto-exclusive group in Frame1: selecting one option clears the other.
    Option1->setChecked(true);

    // Option3 and Option4 sit in a box of their own: directly on the window they would count
    // Frame1's options as theirs too (Qt looks for siblings among all of the parent's
    // descendants), and choosing an encoder would clear the output option. The route through a
    // PDF until the stored choice is read.
    Option3->setParent(m_encoderRow);
    Option4->setParent(m_encoderRow);
    Option4->setChecked(true);
    Check1->setParent(m_encoderRow);
    PushButton3->setEnabled(false);
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Check2->setParent(m_encoderRow);
    Check3->setParent(m_encoderRow);

    // Never smaller than the first size: below it the controls would overlap.
    setMinimumSize(firstSize());
    resize(firstSize());
    placeControls();
    makeAccessible(*this);

    for (QWidget* w :
         std::initializer_list<QWidget*>{this, Frame1, Frame4, ListView1->viewport()}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    for (QPushButton* b : pushButtons()) {
        b->setMouseTracking(true);
        // A move over a button must not reach the frame or window below and reset the hand.
        b->setAttribute(Qt::WA_NoMousePropagation);
        b->installEventFilter(this);
    }
}

Form1::~Form1() {
    if (m_overrideActive)
        QApplication::restoreOverrideCursor();
}

QList<QPushButton*> Form1::pushButtons() const {
    return {PushButton1, PushButton4, PushButton2, PushButton6,
            PushButton7, PushButton9, PushButton3};
}

int Form1::twipsX(int twips) const {
    return qRound(double(twips) * logicalDpiX() / kTwipsPerInch);
}

int Form1::twipsY(int twips) const {
    return qRound(double(twips) * logicalDpiY() / kTwipsPerInch);
}

QSize Form1::firstSize() const {
    return {twipsX(8040), twipsY(8175)};
}

void Form1::placeControls() {
    // The places are those of the first size; a larger window gives its extra width to the
    // list and the full-width controls (the paired buttons share it) and its extra height to
    // the list, and moves everything below the list down.
    const QSize first = firstSize();
    const int dw = qMax(0, width() - first.width());
    const int dh = qMax(0, height() - first.height());
    auto place = [this](QWidget* w, int left, int top, int width, int height, int growLeft = 0,
                        int growTop = 0, int growWidth = 0, int growHeight = 0) {
        w->setGeometry(twipsX(left) + growLeft, twipsY(top) + growTop, twipsX(width) + growWidth,
                       twipsY(height) + growHeight);
    };
    const int half = dw / 2;
    place(ListView1, 120, 120, 7800, 2535, 0, 0, dw, dh);
    place(PushButton1, 120, 2750, 3840, 405, 0, dh, half);
    place(PushButton4, 4080, 2750, 3840, 405, half, dh, dw - half);
    place(PushButton6, 120, 3260, 3840, 405, 0, dh, half);
    place(PushButton7, 4080, 3260, 3840, 405, half, dh, dw - half);
    place(Frame1, 120, 3710, 7800, 1815, 0, dh, dw);
    place(Option1, 240, 300, 6000, 255);
    place(Frame4, 480, 510, 6840, 810, 0, 0, dw);
    place(Text1, 240, 300, 5670, 345, 0, 0, dw);
    place(PushButton9, 6000, 300, 600, 345, dw);
    place(Option2, 240, 1410, 6000, 255);
    place(PushButton2, 120, 5640, 7800, 405, 0, dh, dw);
    place(ProgressBar1, 120, 6160, 7800, 405, 0, dh, dw);
    // The encoder row adds its height below everything else.
    place(Label1, 120, 6680, 840, 255, 0, dh);
    place(m_encoderRow, 960, 6680, 5160, 1375, 0, dh, dw);
    // The lossy box sits under the direct route it belongs to, indented.
    for (int i = 0; QWidget * choice :
                    std::initializer_list<QWidget*>{Option3, Check3, Option4, Check1, Check2}) {
        const int indent = choice == Check3 ? 240 : 0;
        place(choice, indent, 280 * i++, 5160 - indent, 255, 0, 0, dw);
    }
    place(PushButton3, 6240, 6680, 1680, 405, dw, dh);
    place(Label2, 6240, 7110, 1680, 480, dw, dh);

    // The column grows and shrinks with the list, keeping what the user's dragging gave it.
    if (const int change = dw - m_placedWidthGrowth; change != 0 && ListView1->columnWidth(0) > 0)
        ListView1->setColumnWidth(0, qMax(twipsX(600), ListView1->columnWidth(0) + change));
    m_placedWidthGrowth = dw;
}

void Form1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeControls();
    emit resized();
}

void Form1::setMousePointer(int pointer) {
    m_mousePointer = pointer;
    applyPointer();
}

void Form1::setMouseIcon(const QCursor& icon) {
    m_mouseIcon = icon;
    applyPointer();
}

void Form1::applyPointer() {
    // The hourglass covers every control, whatever pointer a control keeps for itself.
    const bool wantOverride = m_mousePointer == Hourglass;
    if (wantOverride && !m_overrideActive)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else if (!wantOverride && m_overrideActive)
        QApplication::restoreOverrideCursor();
    m_overrideActive = wantOverride;

    switch (m_mousePointer) {
    case Hourglass:
        setCursor(Qt::WaitCursor);
        break;
    case Custom:
        setCursor(m_mouseIcon.value_or(QCursor(Qt::PointingHandCursor)));
        break;
    default:
        unsetCursor();
        break;
    }
}

void Form1::PushButton_MouseMove() {
    if (m_mousePointer != Hourglass)
        setMousePointer(Custom);
}

void Form1::Form_MouseMove() {
    if (m_mousePointer != Hourglass)
        setMousePointer(Default);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        if (pushButtons().contains(watched))
            PushButton_MouseMove();
        else
            Form_MouseMove();
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (mayClose && !mayClose()) {
        event->ignore();
        return;
    }
    event->accept();
    unload();
}

} // namespace vormelle
