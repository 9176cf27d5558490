#include "app/listview.h"

#include <QApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace vormelle {

int RowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant RowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const RowState state = outcome(index.row());
    if (role == Qt::DecorationRole && state != RowState::None) {
        static const QStyle::StandardPixmap kIcons[] = {
            QStyle::SP_CustomBase, QStyle::SP_DialogApplyButton, QStyle::SP_MessageBoxCritical,
            QStyle::SP_MediaStop, QStyle::SP_MediaSkipForward};
        return QApplication::style()->standardIcon(kIcons[int(state)]);
    }
    // After a run a row's tool tip tells what became of it; otherwise the list's help text
    // shows over the rows, as everywhere on it.
    if (role == Qt::ToolTipRole && state != RowState::None)
        return m_outcomes.at(index.row()).detail;
    if (role == Qt::DisplayRole)
        return m_rows.at(index.row());
    return {};
}

void RowModel::setOutcome(int row, RowState state, const QString& detail) {
    if (row < 0 || row >= m_rows.size())
        return;
    if (m_outcomes.size() != m_rows.size())
        m_outcomes = QList<Outcome>(m_rows.size());
    m_outcomes[row] = {state, detail};
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::DecorationRole, Qt::ToolTipRole});
}

RowState RowModel::outcome(int row) const {
    return row < m_outcomes.size() ? m_outcomes.at(row).state : RowState::None;
}

void RowModel::clearOutcomes() {
    if (m_outcomes.isEmpty())
        return;
    m_outcomes.clear();
    if (!m_rows.isEmpty())
        emit dataChanged(index(0), index(int(m_rows.size()) - 1),
                         {Qt::DecorationRole, Qt::ToolTipRole});
}

QVariant RowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_header;
    return {};
}

void RowModel::setHeader(const QString& header) {
    m_header = header;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void RowModel::add(const QString& text) {
    clearOutcomes();
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append(text);
    endInsertRows();
}

void RowModel::addRows(const QStringList& texts) {
    if (texts.isEmpty())
        return;
    clearOutcomes();
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(texts.size()) - 1);
    m_rows.append(texts);
    endInsertRows();
}

void RowModel::setText(int row, const QString& text) {
    clearOutcomes();
    m_rows[row] = text;
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void RowModel::remove(int row) {
    clearOutcomes();
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void RowModel::clear() {
    beginResetModel();
    m_outcomes.clear();
    m_rows.clear();
    endResetModel();
}

ListView::ListView(QWidget* parent) : QTreeView(parent), m_model(this) {
    setModel(&m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true); // keeps 100,000 rows cheap
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideNone);
    setDragEnabled(false); // rows are carried by the list's own handlers, never dragged out
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->hide();
}

void ListView::addColumn(const QString& header, int width) {
    m_model.setHeader(header);
    this->header()->show();
    setColumnWidth(0, width);
}

QString ListView::columnHeader() const {
    return header()->isHidden() ? QString()
                                : m_model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString();
}

int ListView::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void ListView::selectRow(int row) {
    const QModelIndex i = m_model.index(row);
    selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect |
                                             QItemSelectionModel::Rows);
}

void ListView::ensureRowVisible(int row) {
    scrollTo(m_model.index(row));
}

int ListView::rowAt(const QPoint& viewportPos) const {
    const QModelIndex i = indexAt(viewportPos);
    return i.isValid() ? i.row() : -1;
}

int ListView::rowHeight() const {
    const int h = sizeHintForRow(0);
    return h > 0 ? h : fontMetrics().height();
}

void ListView::keyPressEvent(QKeyEvent* event) {
    if (!m_locked)
        emit keyDown(event->key(), event->modifiers());
    QTreeView::keyPressEvent(event);
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (!m_locked)
        emit dblClick();
}

void ListView::mousePressEvent(QMouseEvent* event) {
    if (m_locked) {
        QTreeView::mousePressEvent(event);
        return;
    }
    emit mouseDown(event->button(), event->position().toPoint());
    QTreeView::mousePressEvent(event);
    const int row = rowAt(event->position().toPoint());
    if (row >= 0)
        emit itemClick(row);
}

void ListView::mouseMoveEvent(QMouseEvent* event) {
    // With a button held the list's own handlers carry the row; the view's rubber-band
    // selection would fight them.
    if (event->buttons() == Qt::NoButton)
        QTreeView::mouseMoveEvent(event);
    if (!m_locked)
        emit mouseMove(event->buttons(), event->position().toPoint());
}

void ListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (!m_locked)
        emit mouseUp(event->button(), event->position().toPoint());
}

void ListView::dragEnterEvent(QDragEnterEvent* event) {
    if (m_locked) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit oleDragOver(event);
}

void ListView::dragMoveEvent(QDragMoveEvent* event) {
    if (m_locked) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit oleDragOver(event);
}

void ListView::dropEvent(QDropEvent* event) {
    if (m_locked) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit oleDragDrop(event);
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
