// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/filelistmodel.h"

#include <QApplication>
#include <QStyle>

namespace vormelle {

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
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

void FileListModel::setOutcome(int row, RowState state, const QString& detail) {
    if (row < 0 || row >= m_rows.size())
        return;
    if (m_outcomes.size() != m_rows.size())
        m_outcomes = QList<Outcome>(m_rows.size());
    m_outcomes[row] = {state, detail};
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::DecorationRole, Qt::ToolTipRole});
}

RowState FileListModel::outcome(int row) const {
    return row < m_outcomes.size() ? m_outcomes.at(row).state : RowState::None;
}

void FileListModel::clearOutcomes() {
    if (m_outcomes.isEmpty())
        return;
    m_outcomes.clear();
    if (!m_rows.isEmpty())
        emit dataChanged(index(0), index(int(m_rows.size()) - 1),
                         {Qt::DecorationRole, Qt::ToolTipRole});
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_header;
    return {};
}

void FileListModel::setHeader(const QString& header) {
    m_header = header;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void FileListModel::add(const QString& text) {
    clearOutcomes();
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append(text);
    endInsertRows();
}

void FileListModel::addRows(const QStringList& texts) {
    if (texts.isEmpty())
        return;
    clearOutcomes();
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(texts.size()) - 1);
    m_rows.append(texts);
    endInsertRows();
}

void FileListModel::setText(int row, const QString& text) {
    clearOutcomes();
    m_rows[row] = text;
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void FileListModel::remove(int row) {
    clearOutcomes();
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void FileListModel::clear() {
    beginResetModel();
    m_outcomes.clear();
    m_rows.clear();
    endResetModel();
}

} // namespace vormelle
