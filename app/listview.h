// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTreeView>

namespace vormelle {

class FileListModel;

// The report-style view of the file list: one column, rows of paths. It only shows the model;
// rows are addressed from 0, and the mouse, key and drop events go out as signals so the
// list's handlers live with the subsystem.
class ListView final : public QTreeView {
    Q_OBJECT
public:
    explicit ListView(FileListModel& files, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ListView)

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
    // Whether the row's whole path is in view, not cut in the middle or scrolled away.
    bool rowShownWhole(int row) const;

signals:
    void keyPressed(int key, Qt::KeyboardModifiers shift);
    void rowDoubleClicked();
    void rowClicked(int row);
    void mousePressed(Qt::MouseButton button, QPoint pos);
    void mouseMoved(Qt::MouseButtons buttons, QPoint pos);
    void mouseReleased(Qt::MouseButton button, QPoint pos);
    void dragMoved(QDragMoveEvent* event); // on entering the list too
    void dropped(QDropEvent* event);

protected:
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    FileListModel& m_files;
    bool m_locked = false;
};

} // namespace vormelle
