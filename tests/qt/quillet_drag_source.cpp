// A drag source for the X11 drop test: a small window that, on a mouse press,
// drags the files named on its command line as a text/uri-list.
//
//   quillet_drag_source LOG FILE...
//
// It writes to LOG, one line each, as things happen:
//   finished accepted=<0|1> action=<atom name>   the target's XdndFinished arrived
//   exec <Qt drop action number>                 QDrag::exec() returned
// XdndFinished is what a target holds back when it keeps the source waiting,
// so the test looks for that line.
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace {

QFile* Log = nullptr;

void Write_Log(const QByteArray& line) {
    Log->write(line + '\n');
    Log->flush();
}

xcb_connection_t* Connection() {
    return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(Connection(), xcb_intern_atom(Connection(), 0, qstrlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

QByteArray Atom_Name(xcb_atom_t atom) {
    if (atom == XCB_ATOM_NONE) return "none";
    xcb_get_atom_name_reply_t* reply = xcb_get_atom_name_reply(Connection(), xcb_get_atom_name(Connection(), atom), nullptr);
    QByteArray name = reply ? QByteArray(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply)) : "?";
    free(reply);
    return name;
}

class Finished_Watch : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
        auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (client->type != Xdnd_Finished) return false;
        Write_Log("finished accepted=" + QByteArray::number(client->data.data32[1] & 1) +
                  " action=" + Atom_Name(client->data.data32[2]));
        return false;
    }
    xcb_atom_t Xdnd_Finished = XCB_ATOM_NONE;
};

class Source_Window : public QWidget {
public:
    explicit Source_Window(QByteArray uri_list) : Uri_List(std::move(uri_list)) {
        setWindowTitle(QStringLiteral("quillet drag source"));
        setFixedSize(160, 100);
    }

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        auto* mime = new QMimeData;
        mime->setData(QStringLiteral("text/uri-list"), Uri_List);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
        Write_Log("exec " + QByteArray::number(int(action)));
    }

private:
    QByteArray Uri_List;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 3 || !qApp->nativeInterface<QNativeInterface::QX11Application>()) return 2;
    QFile log(QString::fromLocal8Bit(argv[1]));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 2;
    Log = &log;

    // The paths go out byte for byte, percent-encoded, whatever their encoding.
    QByteArray uri_list;
    for (int i = 2; i < argc; ++i) uri_list += "file://" + QByteArray(argv[i]).toPercentEncoding("/") + "\r\n";

    Finished_Watch watch;
    watch.Xdnd_Finished = Atom("XdndFinished");
    app.installNativeEventFilter(&watch);

    Source_Window window(uri_list);
    window.move(700, 500);
    window.show();
    return app.exec();
}
