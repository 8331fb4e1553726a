#pragma once
#include <QGroupBox>

#include "Handle_Drop.h"

// A group box that takes drops of file lists (text/uri-list) and hands their
// paths on through Files_Dropped. It knows nothing of what is done with them.
//
// The drop is always reported to the source as a copy: a source told "move"
// may delete its files. Drags that carry no file list, or whose source does
// not allow a copy, are refused, and so is everything while acceptDrops() is
// off (the window turns it off while a batch runs).
class Drop_Frame : public QGroupBox {
    Q_OBJECT
public:
    explicit Drop_Frame(const QString& title, QWidget* parent = nullptr);

signals:
    // Emitted from inside the drop event: receivers must return quickly so the
    // drag source is released at once.
    void Files_Dropped(const Drop_Data& data);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool Takes(const QDropEvent* event) const;
};
