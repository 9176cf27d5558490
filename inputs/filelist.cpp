// SPDX-License-Identifier: GPL-3.0-or-later
#include "inputs/filelist.h"

#include "app/errorreport.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"

#include <QPixmap>
#include <QPushButton>

namespace vormelle::filelist {

namespace {

void removeSelectedRow(Form1& form) {
    if (form.MousePointer() == Form1::Hourglass)
        return;
    if (form.files().count() == 0)
        return;
    const int row = form.ListView1->selectedRow();
    if (row < 0)
        return;
    form.files().remove(row);
    // A removed row is no longer carried; a carried row below it moved up by one.
    if (form.DraggedItem == row)
        form.DraggedItem = -1;
    else if (form.DraggedItem > row)
        --form.DraggedItem;
}

} // namespace

void ListView1_KeyDown(Form1& form, int keyCode) {
    if (keyCode != Qt::Key_Delete)
        return;
    removeSelectedRow(form);
}

void ListView1_DblClick(Form1& form) {
    removeSelectedRow(form);
}

void ListView1_ItemClick(Form1& form, int row) {
    const QPixmap dragIcon(paths::programFolder() + QStringLiteral("/drag.ico"));
    form.ListView1->viewport()->setCursor(dragIcon.isNull() ? QCursor(Qt::DragMoveCursor)
                                                            : QCursor(dragIcon));
    form.DraggedItem = row;
}

void ListView1_MouseDown(Form1& form) {
    form.MouseIsDown = true;
}

void ListView1_MouseMove(Form1& form, Qt::MouseButtons, const QPoint& pos) {
    form.Form_MouseMove();
    if (!form.MouseIsDown)
        return;
    ListView& list = *form.ListView1;
    FileListModel& files = form.files();
    const int hit = list.rowAt(pos);
    if (hit < 0 || form.DraggedItem < 0 || form.DraggedItem >= files.count())
        return;
    const QString carried = files.text(form.DraggedItem);
    if (carried == files.text(hit))
        return;
    files.setText(form.DraggedItem, files.text(hit));
    files.setText(hit, carried);
    list.selectRow(hit);
    form.DraggedItem = hit;
    // Scroll by one row while the pointer is within a row's height of the list's edge.
    const int edge = list.rowHeight();
    if (pos.y() < edge) {
        if (hit > 0)
            list.ensureRowVisible(hit - 1);
    } else if (pos.y() >= list.viewport()->height() - edge) {
        if (hit + 1 < files.count())
            list.ensureRowVisible(hit + 1);
    }
}

void ListView1_MouseUp(Form1& form) {
    form.MouseIsDown = false;
    form.ListView1->viewport()->setCursor(Qt::ArrowCursor);
}

void PushButton6_Click(Form1& form) {
    runStatement(form, trace::PushButton6_Click, 100, [&form] {
        if (form.MousePointer() != Form1::Hourglass) {
            form.files().clear();
            form.DraggedItem = -1;
        }
    });
}

void connect(Form1& form) {
    ListView* list = form.ListView1;
    QObject::connect(list, &ListView::keyPressed, &form,
                     [&form](int key, Qt::KeyboardModifiers) { ListView1_KeyDown(form, key); });
    QObject::connect(list, &ListView::rowDoubleClicked, &form,
                     [&form] { ListView1_DblClick(form); });
    QObject::connect(list, &ListView::rowClicked, &form,
                     [&form](int row) { ListView1_ItemClick(form, row); });
    QObject::connect(list, &ListView::mousePressed, &form, [&form] { ListView1_MouseDown(form); });
    QObject::connect(
        list, &ListView::mouseMoved, &form,
        [&form](Qt::MouseButtons buttons, QPoint pos) { ListView1_MouseMove(form, buttons, pos); });
    QObject::connect(list, &ListView::mouseReleased, &form, [&form] { ListView1_MouseUp(form); });
    QObject::connect(form.PushButton6, &QPushButton::clicked, &form,
                     [&form] { PushButton6_Click(form); });
}

} // namespace vormelle::filelist
