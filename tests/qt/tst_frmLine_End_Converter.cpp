// The window driven headless: start state, layout, Read_Options, and drops
// synthesised on the drop frame that convert real files.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "Uri_List.h"
#include "frmLine_End_Converter.h"

namespace {

struct Message {
    QString Title;
    QString Text;
    bool Information_Style;  // information icon and one OK button
};

// Answers every message box the window opens: records it, runs While_Open
// (the batch is paused on the box at that moment), then presses OK.
class Message_Answerer : public QObject {
public:
    explicit Message_Answerer(std::function<void()> while_open = {}) : While_Open(std::move(while_open)) {
        connect(&Poll, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->property("answered").toBool()) return;
            box->setProperty("answered", true);
            Seen.push_back({box->windowTitle(), box->text(),
                            box->icon() == QMessageBox::Information && box->standardButtons() == QMessageBox::Ok &&
                                box->parentWidget() != nullptr});
            if (While_Open) While_Open();
            box->button(QMessageBox::Ok)->click();
        });
        Poll.start(10);
    }
    std::vector<Message> Seen;

private:
    std::function<void()> While_Open;
    QTimer Poll;
};

std::string Read_File(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

void Write_File(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

QByteArray Uri(const std::string& path) {
    return "file://" + QByteArray::fromStdString(path).toPercentEncoding("/");
}

struct Drop_Result {
    bool Enter_Accepted;
    Qt::DropAction Enter_Action;
    bool Drop_Accepted;
    Qt::DropAction Drop_Action;
};

// Drags mime over target and drops it there, as Qt delivers a drop.
Drop_Result Drag_And_Drop(QWidget* target, const QMimeData& mime,
                          Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction,
                          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPoint point = target->rect().center();
    QDragEnterEvent enter(point, actions, &mime, Qt::LeftButton, modifiers);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(point), actions, &mime, Qt::LeftButton, modifiers);
    QApplication::sendEvent(target, &drop);
    return {enter.isAccepted(), enter.dropAction(), drop.isAccepted(), drop.dropAction()};
}

QMimeData* File_List(const QByteArray& uri_list) {
    auto* mime = new QMimeData;
    mime->setData(QStringLiteral("text/uri-list"), uri_list);
    return mime;
}

const char* Done_For(int converted, int failed) {
    static std::string text;
    text = "Successfully converted " + std::to_string(converted) + " files, there were " + std::to_string(failed) +
           " errors.";
    return text.c_str();
}

}  // namespace

class tst_frmLine_End_Converter : public QObject {
    Q_OBJECT

    frmLine_End_Converter* form = nullptr;
    QTemporaryDir* dir = nullptr;

    std::string Path(const char* name) const { return dir->path().toStdString() + "/" + name; }

    // Drops the list on fraDrop and waits until the batch has ended.
    Drop_Result Drop_And_Wait(const QByteArray& uri_list) {
        QSignalSpy finished(form, &frmLine_End_Converter::Batch_Finished);
        std::unique_ptr<QMimeData> mime(File_List(uri_list));
        // Shift asks for a move; a file list must still be taken as a copy.
        const Drop_Result result = Drag_And_Drop(form->fraDrop, *mime, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier);
        if (!finished.wait(10000)) qWarning("the batch did not end");
        return result;
    }

private slots:
    void init() {
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
        form = new frmLine_End_Converter;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanup() {
        delete form;
        // QTemporaryDir cannot remove names that are not UTF-8.
        std::filesystem::remove_all(dir->path().toStdString());
        delete dir;
    }

    void starts_with_defaults() {
        QCOMPARE(form->windowTitle(), QStringLiteral("Quillet (v" QUILLET_VERSION_TEXT ") by Tavrik"));
        QVERIFY(form->optCrLf->isChecked());
        QVERIFY(!form->optLf->isChecked());
        QVERIFY(!form->optCr->isChecked());
        QCOMPARE(form->chkRemove_Duplicate_Line_Ends->checkState(), Qt::Unchecked);
        QCOMPARE(form->chkOne_Line_End_At_File_End->checkState(), Qt::Unchecked);
        QVERIFY(!form->lblWait->isVisible());
        QCOMPARE(form->Line_End, std::string());
        QVERIFY(!form->Remove_Duplicates);
        QVERIFY(!form->One_Line_End_At_End);
        const QList<QSize> sizes = form->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)));
        QVERIFY(sizes.contains(QSize(32, 32)));
    }

    void controls_are_placed_as_designed_data() {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("fraDrop") << "" << "Drop files here:" << QRect(8, 8, 289, 133);
        QTest::newRow("lblWait") << "fraDrop" << "Converting files, please wait..." << QRect(12, 60, 265, 17);
        QTest::newRow("optCrLf") << "" << "CR+LF (Windows)" << QRect(8, 152, 125, 17);
        QTest::newRow("optLf") << "" << "LF (Unix)" << QRect(140, 152, 73, 17);
        QTest::newRow("optCr") << "" << "CR (Mac)" << QRect(220, 152, 73, 17);
        QTest::newRow("chkRemove_Duplicate_Line_Ends") << "" << "Remove duplicate line ends" << QRect(8, 176, 181, 17);
        QTest::newRow("chkOne_Line_End_At_File_End") << "" << "One line end at file end" << QRect(8, 196, 157, 17);
    }
    void controls_are_placed_as_designed() {
        QFETCH(QString, parent);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        QCOMPARE(form->size(), QSize(305, 221));
        auto* control = form->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(control);
        QCOMPARE(control->parentWidget(), parent.isEmpty() ? form : form->findChild<QWidget*>(parent));
        QCOMPARE(control->geometry(), geometry);
        QString text;
        if (auto* frame = qobject_cast<QGroupBox*>(control)) text = frame->title();
        if (auto* label = qobject_cast<QLabel*>(control)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(control)) text = button->text();
        QCOMPARE(text, caption);
        // The caption must fit its control in the font the window uses.
        if (!qobject_cast<QGroupBox*>(control))
            QVERIFY2(control->fontMetrics().horizontalAdvance(text) <= geometry.width() - (qobject_cast<QLabel*>(control) ? 0 : 18),
                     qPrintable(control->font().family()));
    }

    void tab_order_follows_the_tab_indexes() {
        const QList<QWidget*> expected{form->optCrLf, form->optLf, form->optCr, form->chkRemove_Duplicate_Line_Ends,
                                       form->chkOne_Line_End_At_File_End};
        QList<QWidget*> order;
        QWidget* widget = form->optCrLf;
        do {
            // Qt leaves only the selected option button of a group on Tab (the
            // arrows move within it), so any control that takes focus counts.
            if (widget->focusPolicy() != Qt::NoFocus) order.append(widget);
            widget = widget->nextInFocusChain();
        } while (widget != form->optCrLf && order.size() < 20);
        QStringList names;
        for (QWidget* each : order) names << each->objectName();
        QVERIFY2(order == expected, qPrintable(names.join(' ')));
    }

    void read_options_data() {
        QTest::addColumn<int>("button");  // 0 CR+LF, 1 LF, 2 CR, -1 none selected
        QTest::addColumn<Qt::CheckState>("remove");
        QTest::addColumn<Qt::CheckState>("one_at_end");
        QTest::addColumn<QByteArray>("line_end");
        QTest::addColumn<bool>("remove_duplicates");
        QTest::addColumn<bool>("one_line_end_at_end");
        QTest::newRow("CR+LF, both clear") << 0 << Qt::Unchecked << Qt::Unchecked << QByteArray("\r\n") << false << false;
        QTest::newRow("LF, both checked") << 1 << Qt::Checked << Qt::Checked << QByteArray("\n") << true << true;
        QTest::newRow("CR, first checked") << 2 << Qt::Checked << Qt::Unchecked << QByteArray("\r") << true << false;
        QTest::newRow("grayed counts as clear") << 1 << Qt::PartiallyChecked << Qt::PartiallyChecked << QByteArray("\n") << false << false;
        QTest::newRow("grayed beside checked") << 0 << Qt::PartiallyChecked << Qt::Checked << QByteArray("\r\n") << false << true;
        // With no button selected the field keeps what the previous read left (CR here).
        QTest::newRow("none selected") << -1 << Qt::Unchecked << Qt::Checked << QByteArray("\r") << false << true;
    }
    void read_options() {
        QFETCH(int, button);
        QFETCH(Qt::CheckState, remove);
        QFETCH(Qt::CheckState, one_at_end);
        QFETCH(QByteArray, line_end);
        QFETCH(bool, remove_duplicates);
        QFETCH(bool, one_line_end_at_end);

        // Start from the opposite of what is expected, so every field must be written.
        form->optCr->setChecked(true);
        form->chkRemove_Duplicate_Line_Ends->setChecked(!remove_duplicates);
        form->chkOne_Line_End_At_File_End->setChecked(!one_line_end_at_end);
        form->Read_Options();

        QRadioButton* buttons[] = {form->optCrLf, form->optLf, form->optCr};
        if (button < 0) {
            form->grpLine_End->setExclusive(false);
            for (QRadioButton* each : buttons) each->setChecked(false);
        } else {
            buttons[button]->setChecked(true);
        }
        form->chkRemove_Duplicate_Line_Ends->setTristate(true);
        form->chkRemove_Duplicate_Line_Ends->setCheckState(remove);
        form->chkOne_Line_End_At_File_End->setTristate(true);
        form->chkOne_Line_End_At_File_End->setCheckState(one_at_end);
        form->Read_Options();

        const Conversion_Options options = form->Options();
        QCOMPARE(QByteArray::fromStdString(options.Line_End), line_end);
        QCOMPARE(options.Remove_Duplicates, remove_duplicates);
        QCOMPARE(options.One_Line_End_At_End, one_line_end_at_end);
    }

    void a_drop_converts_the_files_and_reports_them() {
        // Files with CR LF, a name that is not UTF-8, a folder, a missing file,
        // a link that is no local file; LF with both clean-ups.
        Write_File(Path("plain.txt"), "a\r\n\r\nb\r\n\r\n\r\n\r\n");
        const std::string odd = Path("odd \xff\xfe name%.txt");
        Write_File(odd, "x\ry\r\r");
        QVERIFY(QDir().mkdir(QString::fromStdString(Path("folder"))));
        form->optLf->setChecked(true);
        form->chkRemove_Duplicate_Line_Ends->setChecked(true);
        form->chkOne_Line_End_At_File_End->setChecked(true);

        bool label_shown_while_open = true;
        Message_Answerer answerer([&] { label_shown_while_open = label_shown_while_open && form->lblWait->isVisible(); });
        const QByteArray list = "# dropped by a test\r\n" + Uri(Path("plain.txt")) + "\r\n" + Uri(Path("folder")) +
                                "\r\n" + Uri(odd) + "\r\n" + "http://example.com/remote.txt\r\n" +
                                "file://localhost" + QByteArray::fromStdString(Path("missing.txt")) + "\r\n";
        const Drop_Result result = Drop_And_Wait(list);

        QVERIFY(result.Enter_Accepted);
        QCOMPARE(result.Enter_Action, Qt::CopyAction);
        QVERIFY(result.Drop_Accepted);
        QCOMPARE(result.Drop_Action, Qt::CopyAction);
        QCOMPARE(answerer.Seen.size(), size_t(2));
        QCOMPARE(answerer.Seen[0].Title, QStringLiteral("Folder(s) dropped"));
        QCOMPARE(answerer.Seen[0].Text, QStringLiteral("Converting whole folders is not currently supported."));
        QCOMPARE(answerer.Seen[1].Title, QStringLiteral("Done"));
        QCOMPARE(answerer.Seen[1].Text, QString::fromLatin1(Done_For(2, 2)));
        QVERIFY(answerer.Seen[0].Information_Style && answerer.Seen[1].Information_Style);
        QVERIFY(label_shown_while_open);
        QVERIFY(!form->lblWait->isVisible());
        QCOMPARE(Read_File(Path("plain.txt")), std::string("a\nb\n"));
        QCOMPARE(Read_File(odd), std::string("x\ny\n"));

        // A change of options holds for the next drop only.
        form->optCrLf->setChecked(true);
        form->chkOne_Line_End_At_File_End->setChecked(false);
        Drop_And_Wait(Uri(Path("plain.txt")) + "\n" + Uri(Path("plain.txt")));
        QCOMPARE(answerer.Seen.size(), size_t(3));
        QCOMPARE(answerer.Seen[2].Text, QString::fromLatin1(Done_For(2, 0)));
        QCOMPARE(Read_File(Path("plain.txt")), std::string("a\r\nb\r\n"));
    }

    void drops_without_a_file_list_or_off_the_frame_do_nothing() {
        Write_File(Path("a.txt"), "1\n");
        Message_Answerer answerer;
        QSignalSpy finished(form, &frmLine_End_Converter::Batch_Finished);

        QMimeData text;
        text.setText(QString::fromStdString(Path("a.txt")));
        const Drop_Result text_drop = Drag_And_Drop(form->fraDrop, text);
        QVERIFY(!text_drop.Enter_Accepted);
        QVERIFY(!text_drop.Drop_Accepted);
        QMimeData image;
        image.setData(QStringLiteral("image/png"), QByteArray("\x89PNG", 4));
        QVERIFY(!Drag_And_Drop(form->fraDrop, image).Drop_Accepted);

        // A source that only allows a move: the frame never reports one.
        std::unique_ptr<QMimeData> files(File_List(Uri(Path("a.txt"))));
        const Drop_Result move_only = Drag_And_Drop(form->fraDrop, *files, Qt::MoveAction);
        QVERIFY(!move_only.Enter_Accepted);
        QVERIFY(!move_only.Drop_Accepted);

        // A file list dropped anywhere but on the frame.
        for (QWidget* elsewhere : {static_cast<QWidget*>(form), static_cast<QWidget*>(form->optLf),
                                   static_cast<QWidget*>(form->chkRemove_Duplicate_Line_Ends)})
            QVERIFY(!Drag_And_Drop(elsewhere, *files).Drop_Accepted);
        const QList<QWidget*> children = form->findChildren<QWidget*>();
        for (QWidget* widget : children) QCOMPARE(widget->acceptDrops(), widget == form->fraDrop);
        QVERIFY(!form->acceptDrops());

        QVERIFY(!finished.wait(300));
        QVERIFY(answerer.Seen.empty());
        QVERIFY(!form->lblWait->isVisible());
        QCOMPARE(Read_File(Path("a.txt")), std::string("1\n"));
    }

    void a_running_batch_takes_no_input_drops_or_close() {
        Write_File(Path("a.txt"), "1\n");
        Write_File(Path("b.txt"), "2\n");
        std::unique_ptr<QMimeData> second(File_List(Uri(Path("b.txt"))));
        bool checked = false;
        Drop_Result second_drop{};
        bool closed_at_once = true;
        bool running_while_open = false;
        Message_Answerer answerer([&] {
            running_while_open = form->Batch_Running();
            second_drop = Drag_And_Drop(form->fraDrop, *second);
            QTest::mouseClick(form->optCr, Qt::LeftButton);
            form->chkOne_Line_End_At_File_End->setFocus();
            QTest::keyClick(form->chkOne_Line_End_At_File_End, Qt::Key_Space);
            checked = form->optCr->isChecked() || form->chkOne_Line_End_At_File_End->isChecked();
            closed_at_once = form->close();
        });
        QSignalSpy finished(form, &frmLine_End_Converter::Batch_Finished);
        std::unique_ptr<QMimeData> first(File_List(Uri(Path("a.txt"))));
        QVERIFY(Drag_And_Drop(form->fraDrop, *first).Drop_Accepted);
        QVERIFY(form->Batch_Running());  // from the drop on, before the batch has even started
        QVERIFY(finished.wait(10000));

        QVERIFY(running_while_open);
        QVERIFY(!second_drop.Enter_Accepted);
        QVERIFY(!second_drop.Drop_Accepted);
        QVERIFY(!checked);
        QVERIFY(!closed_at_once);
        QVERIFY(!finished.wait(300));  // the refused drop started no batch of its own
        QCOMPARE(answerer.Seen.size(), size_t(1));
        QCOMPARE(Read_File(Path("b.txt")), std::string("2\n"));
        QCOMPARE(Read_File(Path("a.txt")), std::string("1\r\n"));
        // The close asked for during the batch happens once it has ended.
        QVERIFY(!form->isVisible());

        // And input is taken again afterwards.
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QTest::mouseClick(form->optCr, Qt::LeftButton);
        QVERIFY(form->optCr->isChecked());
    }

    void quitting_during_a_batch_lets_it_finish() {
        Write_File(Path("a.txt"), "1\n");
        Message_Answerer answerer;
        std::unique_ptr<QMimeData> mime(File_List(Uri(Path("a.txt"))));
        QVERIFY(Drag_And_Drop(form->fraDrop, *mime).Drop_Accepted);
        QCoreApplication::processEvents();  // the batch starts
        delete form;
        form = nullptr;
        QCOMPARE(answerer.Seen.size(), size_t(1));
        QCOMPARE(Read_File(Path("a.txt")), std::string("1\r\n"));
    }

    void uri_lists_become_byte_paths_data() {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArrayList>("paths");
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        QTest::newRow("plain") << QByteArray("file:///tmp/a.txt") << QByteArrayList{"/tmp/a.txt"};
        QTest::newRow("percent bytes") << QByteArray("file:///tmp/a%20b%ff%FE%25.txt")
                                       << QByteArrayList{"/tmp/a b\xff\xfe%.txt"};
        QTest::newRow("broken escapes stay") << QByteArray("file:///a%zz%4") << QByteArrayList{"/a%zz%4"};
        QTest::newRow("localhost") << QByteArray("file://LocalHost/x") << QByteArrayList{"/x"};
        QTest::newRow("this host") << "file://" + host + "/x" << QByteArrayList{"/x"};
        QTest::newRow("single slash") << QByteArray("FILE:/x") << QByteArrayList{"/x"};
        QTest::newRow("other host stays a URI") << QByteArray("file://elsewhere.invalid/x")
                                                << QByteArrayList{"file://elsewhere.invalid/x"};
        QTest::newRow("web link stays a URI") << QByteArray("http://example.com/a.txt")
                                              << QByteArrayList{"http://example.com/a.txt"};
        QTest::newRow("hidden NUL stays a URI") << QByteArray("file:///etc/passwd%00.txt")
                                                << QByteArrayList{"file:///etc/passwd%00.txt"};
        QTest::newRow("separators and comments")
            << QByteArray("# comment\r\nfile:///a\r\n\r\nfile:///b\nfile:///a\n") << QByteArrayList{"/a", "/b", "/a"};
        QTest::newRow("nothing") << QByteArray("# only a comment\r\n") << QByteArrayList{};
    }
    void uri_lists_become_byte_paths() {
        QFETCH(QByteArray, list);
        QFETCH(QByteArrayList, paths);
        QByteArrayList got;
        for (const std::string& path : Paths_From_Uri_List(list)) got.append(QByteArray::fromStdString(path));
        QCOMPARE(got, paths);
    }
};

QTEST_MAIN(tst_frmLine_End_Converter)
#include "tst_frmLine_End_Converter.moc"
