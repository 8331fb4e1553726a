#include "frmLine_End_Converter.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

namespace {

// Places and sizes are kept in twips, 15 to a pixel at 96 dots per inch.
constexpr int Twips_Per_Pixel = 15;

void Place(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(left / Twips_Per_Pixel, top / Twips_Per_Pixel, width / Twips_Per_Pixel,
                         height / Twips_Per_Pixel);
}

// Verdana 8.25 pt is 11 pixels at 96 dpi. The size is given in pixels because
// the layout is in pixels: text then fits the controls whatever the font dpi.
// Without Verdana, DejaVu Sans (as wide, of the same family of screen faces)
// at the same size still fits every caption.
QFont Window_Font() {
    QFont font;
    if (QFontDatabase::hasFamily(QStringLiteral("Verdana")))
        font.setFamily(QStringLiteral("Verdana"));
    else
        font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Bitstream Vera Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

bool Is_User_Input(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
        return true;
    default:
        return false;
    }
}

// The window as the batch sees it from its worker thread: each call is run on
// the window's thread, and the worker waits for it to finish.
class Surface_Relay final : public Window_Surface {
public:
    explicit Surface_Relay(frmLine_End_Converter& window) : Window(window) {}

    void Set_Wait_Visible(bool visible) override {
        On_Window_Thread([&] { Window.Set_Wait_Visible(visible); });
    }
    void Read_Options() override {
        On_Window_Thread([&] { Window.Read_Options(); });
    }
    Conversion_Options Options() const override {
        Conversion_Options options;
        On_Window_Thread([&] { options = Window.Options(); });
        return options;
    }
    void Show_Message(const std::string& prompt, const std::string& title) override {
        On_Window_Thread([&] { Window.Show_Message(prompt, title); });
    }

private:
    template <typename Call>
    void On_Window_Thread(Call call) const {
        QMetaObject::invokeMethod(&Window, call, Qt::BlockingQueuedConnection);
    }

    frmLine_End_Converter& Window;
};

}  // namespace

frmLine_End_Converter::frmLine_End_Converter(QWidget* parent) : QWidget(parent) {
    setFont(Window_Font());
    setFixedSize(4575 / Twips_Per_Pixel, 3315 / Twips_Per_Pixel);  // the client area

    fraDrop = new Drop_Frame(QStringLiteral("Drop files here:"), this);
    Place(fraDrop, 120, 120, 4335, 1995);
    lblWait = new QLabel(QStringLiteral("Converting files, please wait..."), fraDrop);
    Place(lblWait, 180, 900, 3975, 255);
    lblWait->setAlignment(Qt::AlignCenter);
    lblWait->setVisible(false);

    optCrLf = new QRadioButton(QStringLiteral("CR+LF (Windows)"), this);
    Place(optCrLf, 120, 2280, 1875, 255);
    optLf = new QRadioButton(QStringLiteral("LF (Unix)"), this);
    Place(optLf, 2100, 2280, 1095, 255);
    optCr = new QRadioButton(QStringLiteral("CR (Mac)"), this);
    Place(optCr, 3300, 2280, 1095, 255);
    grpLine_End = new QButtonGroup(this);
    grpLine_End->setExclusive(true);
    grpLine_End->addButton(optCrLf);
    grpLine_End->addButton(optLf);
    grpLine_End->addButton(optCr);
    optCrLf->setChecked(true);

    chkRemove_Duplicate_Line_Ends = new QCheckBox(QStringLiteral("Remove duplicate line ends"), this);
    Place(chkRemove_Duplicate_Line_Ends, 120, 2640, 2715, 255);
    chkOne_Line_End_At_File_End = new QCheckBox(QStringLiteral("One line end at file end"), this);
    Place(chkOne_Line_End_At_File_End, 120, 2940, 2355, 255);

    // Object names match the member names, so tests and tools find them by name.
    fraDrop->setObjectName(QStringLiteral("fraDrop"));
    lblWait->setObjectName(QStringLiteral("lblWait"));
    optCrLf->setObjectName(QStringLiteral("optCrLf"));
    optLf->setObjectName(QStringLiteral("optLf"));
    optCr->setObjectName(QStringLiteral("optCr"));
    chkRemove_Duplicate_Line_Ends->setObjectName(QStringLiteral("chkRemove_Duplicate_Line_Ends"));
    chkOne_Line_End_At_File_End->setObjectName(QStringLiteral("chkOne_Line_End_At_File_End"));

    // Tab order; the frame and the label take no focus.
    setTabOrder(optCrLf, optLf);
    setTabOrder(optLf, optCr);
    setTabOrder(optCr, chkRemove_Duplicate_Line_Ends);
    setTabOrder(chkRemove_Duplicate_Line_Ends, chkOne_Line_End_At_File_End);

    QIcon icon;
    icon.addFile(QStringLiteral(":/icon/quillet-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icon/quillet-32.png"), QSize(32, 32));
    setWindowIcon(icon);

    connect(fraDrop, &Drop_Frame::Files_Dropped, this, &frmLine_End_Converter::fraDrop_Files_Dropped);

    Form_Load();
}

frmLine_End_Converter::~frmLine_End_Converter() {
    // A close waits for the batch, so this only happens when the application
    // is made to quit during one. The batch is let run to its end, messages
    // and all: its calls to this window need this thread's events meanwhile.
    Close_Pending = false;
    while (Batch_Thread && !Batch_Thread->wait(QDeadlineTimer(20))) QCoreApplication::processEvents();
    if (Batch_Thread) {
        delete Batch_Thread;
        Batch_Thread = nullptr;
    }
    if (qApp) qApp->removeEventFilter(this);
}

void frmLine_End_Converter::Form_Load() {
    setWindowTitle(QStringLiteral("Quillet (v%1.%2.%3) by Tavrik")
                       .arg(QUILLET_VERSION_MAJOR)
                       .arg(QUILLET_VERSION_MINOR)
                       .arg(QUILLET_VERSION_PATCH));
}

void frmLine_End_Converter::Set_Wait_Visible(bool visible) {
    lblWait->setVisible(visible);
    // Paint now: the batch goes on with the first file as soon as this returns.
    if (visible && isVisible()) lblWait->repaint();
}

void frmLine_End_Converter::Read_Options() {
    if (optCrLf->isChecked())
        Line_End = "\r\n";
    else if (optLf->isChecked())
        Line_End = "\n";
    else if (optCr->isChecked())
        Line_End = "\r";
    Remove_Duplicates = chkRemove_Duplicate_Line_Ends->checkState() == Qt::Checked;
    One_Line_End_At_End = chkOne_Line_End_At_File_End->checkState() == Qt::Checked;
}

Conversion_Options frmLine_End_Converter::Options() const {
    return Conversion_Options{Line_End, Remove_Duplicates, One_Line_End_At_End};
}

void frmLine_End_Converter::Show_Message(const std::string& prompt, const std::string& title) {
    QMessageBox box(QMessageBox::Information, QString::fromStdString(title), QString::fromStdString(prompt),
                    QMessageBox::Ok, this);
    box.exec();
}

void frmLine_End_Converter::fraDrop_Files_Dropped(const Drop_Data& data) {
    if (Batch_Busy) return;
    Batch_Busy = true;
    fraDrop->setAcceptDrops(false);
    qApp->installEventFilter(this);
    // Leave the drop event first, so the drag source hears at once that the
    // drop is done and is not kept waiting for the batch and its messages.
    QTimer::singleShot(0, this, [this, data] { Start_Batch(data); });
}

void frmLine_End_Converter::Start_Batch(const Drop_Data& data) {
    Batch_Thread = QThread::create([this, data] {
        Surface_Relay surface(*this);
        Handle_Drop(data, surface);
    });
    connect(Batch_Thread, &QThread::finished, this, &frmLine_End_Converter::End_Batch);
    Batch_Thread->start();
}

void frmLine_End_Converter::End_Batch() {
    Batch_Thread->wait();
    delete Batch_Thread;
    Batch_Thread = nullptr;
    qApp->removeEventFilter(this);
    fraDrop->setAcceptDrops(true);
    Batch_Busy = false;
    emit Batch_Finished();
    if (Close_Pending) close();
}

bool frmLine_End_Converter::eventFilter(QObject* watched, QEvent* event) {
    // While a batch runs, input meant for this window is dropped; its message
    // boxes are windows of their own and still take theirs. Drags are refused
    // by fraDrop itself, which has its drops turned off meanwhile.
    if (Batch_Busy && Is_User_Input(event->type())) {
        if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->window() == this) return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmLine_End_Converter::closeEvent(QCloseEvent* event) {
    if (Batch_Busy) {
        Close_Pending = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
