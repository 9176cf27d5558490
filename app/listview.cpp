// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/listview.h"

#include "app/filelistmodel.h"

#include <QApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>

namespace vormelle {

ListView::ListView(FileListModel& files, QWidget* parent) : QTreeView(parent), m_files(files) {
    setModel(&m_files);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true); // keeps 100,000 rows cheap
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Cut in the middle: a long folder leaves the file's name in view.
    setTextElideMode(Qt::ElideMiddle);
    setDragEnabled(false); // rows are carried by the list's own handlers, never dragged out
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->hide();
}

void ListView::addColumn(const QString& header, int width) {
    m_files.setHeader(header);
    this->header()->show();
    setColumnWidth(0, width);
}

QString ListView::columnHeader() const {
    return header()->isHidden() ? QString()
                                : m_files.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString();
}

int ListView::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void ListView::selectRow(int row) {
    const QModelIndex i = m_files.index(row);
    selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect |
                                             QItemSelectionModel::Rows);
}

void ListView::ensureRowVisible(int row) {
    scrollTo(m_files.index(row));
}

int ListView::rowAt(const QPoint& viewportPos) const {
    const QModelIndex i = indexAt(viewportPos);
    return i.isValid() ? i.row() : -1;
}

int ListView::rowHeight() const {
    const int h = sizeHintForRow(0);
    return h > 0 ? h : fontMetrics().height();
}

bool ListView::rowShownWhole(int row) const {
    const QModelIndex i = m_files.index(row);
    const QRect rect = visualRect(i);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int needed = fontMetrics().horizontalAdvance(i.data().toString()) + 2 * margin;
    return rect.width() >= needed && rect.left() >= 0 &&
           rect.left() + needed <= viewport()->width();
}

bool ListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int row = rowAt(help->pos());
        // Over a row that is cut, the whole path first, then what the row's own tip says after
        // a run, else the list's help text.
        if (row >= 0 && !rowShownWhole(row)) {
            const QModelIndex i = m_files.index(row);
            const QString own = i.data(Qt::ToolTipRole).toString();
            QToolTip::showText(help->globalPos(),
                               QStringLiteral("<p style=\"white-space:pre\">%1</p><p>%2</p>")
                                   .arg(i.data().toString().toHtmlEscaped(),
                                        (own.isEmpty() ? toolTip() : own).toHtmlEscaped()),
                               viewport(), visualRect(i));
            return true;
        }
    }
    return QTreeView::viewportEvent(event);
}

void ListView::keyPressEvent(QKeyEvent* event) {
    if (!m_locked)
        emit keyPressed(event->key(), event->modifiers());
    QTreeView::keyPressEvent(event);
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (!m_locked)
        emit rowDoubleClicked();
}

void ListView::mousePressEvent(QMouseEvent* event) {
    if (m_locked) {
        QTreeView::mousePressEvent(event);
        return;
    }
    emit mousePressed(event->button(), event->position().toPoint());
    QTreeView::mousePressEvent(event);
    const int row = rowAt(event->position().toPoint());
    if (row >= 0)
        emit rowClicked(row);
}

void ListView::mouseMoveEvent(QMouseEvent* event) {
    // With a button held the list's own handlers carry the row; the view's rubber-band
    // selection would fight them.
    if (event->buttons() == Qt::NoButton)
        QTreeView::mouseMoveEvent(event);
    if (!m_locked)
        emit mouseMoved(event->buttons(), event->position().toPoint());
}

void ListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (!m_locked)
        emit mouseReleased(event->button(), event->position().toPoint());
}

void ListView::dragEnterEvent(QDragEnterEvent* event) {
    if (m_locked) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit dragMoved(event);
}

void ListView::dragMoveEvent(QDragMoveEvent* event) {
    if (m_locked) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit dragMoved(event);
}

void ListView::dropEvent(QDropEvent* event) {
    if (m_locked) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit dropped(event);
}

void ListView::paintEvent(QPaintEvent* event) {
    QTreeView::paintEvent(event);
    // The view shows focus only on its current row; without one (always so when the list is
    // empty) the focus would rest on it unseen.
    if (!hasFocus() || currentIndex().isValid())
        return;
    QPainter painter(viewport());
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = viewport()->rect().adjusted(1, 1, -1, -1);
    option.backgroundColor = viewport()->palette().color(viewport()->backgroundRole());
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

} // namespace vormelle
