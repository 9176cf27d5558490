// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace vormelle {

// What the last run made of a row, shown by an icon and a tooltip until the rows change.
enum class RowState { None, Converted, Failed, Stopped, NotStarted };

// The file list: one row per input file, its full path, in the order the run takes them. The
// handlers that fill it, the run and the command line work on this; the list view only shows it.
class FileListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    Q_DISABLE_COPY_MOVE(FileListModel)

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setHeader(const QString& header);
    void add(const QString& text);
    // Appends the rows in order in one step: a large folder drop stays cheap.
    void addRows(const QStringList& texts);
    void setText(int row, const QString& text);
    void remove(int row);
    void clear();
    int count() const { return int(m_rows.size()); }
    const QString& text(int row) const { return m_rows.at(row); }
    const QStringList& files() const { return m_rows; }

    // `detail`: the reason, or the output path; shown as the row's tooltip.
    void setOutcome(int row, RowState state, const QString& detail);
    RowState outcome(int row) const;
    // Any change of the rows clears every outcome, as does a new run.
    void clearOutcomes();

private:
    struct Outcome {
        RowState state = RowState::None;
        QString detail;
    };
    QStringList m_rows;
    QString m_header;
    QList<Outcome> m_outcomes; // empty, or one per row
};

} // namespace vormelle
