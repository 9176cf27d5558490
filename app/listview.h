#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QTreeView>

namespace vormelle {

// The rows of the file list: one text each, the full path of one input file.
class RowModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    Q_DISABLE_COPY_MOVE(RowModel)

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setHeader(const QString& header);
    void add(const QString& text);
    void addRows(const QStringList& texts);
    void setText(int row, const QString& text);
    void remove(int row);
    void clear();
    const QString& text(int row) const { return m_rows.at(row); }

private:
    QStringList m_rows;
    QString m_header;
};

// The report-style list of files: one column, rows of paths. Rows are addressed from 0; the
// mouse, key and drop events go out as signals so the list's handlers live with the subsystem.
class ListView final : public QTreeView {
    Q_OBJECT
public:
    explicit ListView(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ListView)

    int count() const { return m_model.rowCount(); }
    const QString& text(int row) const { return m_model.text(row); }
    void setText(int row, const QString& text) { m_model.setText(row, text); }
    void add(const QString& text) { m_model.add(text); }
    // Appends the rows in order in one step: a large folder drop stays cheap.
    void addRows(const QStringList& texts) { m_model.addRows(texts); }
    void remove(int row) { m_model.remove(row); }
    void clear() { m_model.clear(); }

    // Adds the one column with its header and width in pixels.
    void addColumn(const QString& header, int width);
    QString columnHeader() const;

    // A locked list can be scrolled and selected, but not changed: no keys, clicks, carries or
    // drops reach its handlers (a run holds the list still).
    void setLocked(bool locked) { m_locked = locked; }
    bool isLocked() const { return m_locked; }

    int selectedRow() const; // -1 when none
    void selectRow(int row);
    void ensureRowVisible(int row);
    int rowAt(const QPoint& viewportPos) const; // -1 when none
    int rowHeight() const;

signals:
    void keyDown(int key, Qt::KeyboardModifiers shift);
    void dblClick();
    void itemClick(int row);
    void mouseDown(Qt::MouseButton button, QPoint pos);
    void mouseMove(Qt::MouseButtons buttons, QPoint pos);
    void mouseUp(Qt::MouseButton button, QPoint pos);
    void oleDragOver(QDragMoveEvent* event);
    void oleDragDrop(QDropEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    RowModel m_model;
    bool m_locked = false;
};

} // namespace vormelle
