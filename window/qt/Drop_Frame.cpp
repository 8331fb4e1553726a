#include "Drop_Frame.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>

#include "Uri_List.h"

namespace {
const QString File_List_Format = QStringLiteral("text/uri-list");
}

Drop_Frame::Drop_Frame(const QString& title, QWidget* parent) : QGroupBox(title, parent) {
    setAcceptDrops(true);
}

bool Drop_Frame::Takes(const QDropEvent* event) const {
    // acceptDrops() is asked here as well: events sent straight to the frame
    // do not pass Qt's own check.
    return acceptDrops() && event->mimeData() && event->mimeData()->hasFormat(File_List_Format) &&
           (event->possibleActions() & Qt::CopyAction);
}

void Drop_Frame::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void Drop_Frame::dragMoveEvent(QDragMoveEvent* event) {
    if (Takes(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void Drop_Frame::dropEvent(QDropEvent* event) {
    if (!Takes(event)) {
        event->ignore();
        return;
    }
    Drop_Data data;
    data.Has_File_List = true;
    data.Files = Paths_From_Uri_List(event->mimeData()->data(File_List_Format));
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit Files_Dropped(data);
}
