#pragma once
#include <QWidget>
#include <string>

#include "Drop_Frame.h"
#include "Handle_Drop.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QRadioButton;
class QThread;

// The program's one window: a drop frame, the three line-end styles and the two
// clean-up boxes. Files dropped on fraDrop are converted by Handle_Drop.
//
// How a batch runs: the drop event only takes the paths, so the drag source is
// released at once; the batch starts on the event loop's next turn, on a worker
// thread. Every surface call the batch makes is carried over to this thread and
// waited for, so the batch still meets the window in the order it expects and
// never touches a widget itself. Meanwhile this thread keeps its event loop for
// painting: lblWait is painted before the first file, and the window repaints
// when it is uncovered, even while one large file takes seconds (pumping events
// between files on this thread could not do that). User input is not taken
// meanwhile: the window swallows mouse, wheel and key events, fraDrop refuses
// drops, and a close is put off until the batch has ended.
class frmLine_End_Converter : public QWidget, public Window_Surface {
    Q_OBJECT
public:
    explicit frmLine_End_Converter(QWidget* parent = nullptr);
    ~frmLine_End_Converter() override;

    // Controls
    Drop_Frame* fraDrop;
    QLabel* lblWait;
    QRadioButton* optCrLf;
    QRadioButton* optLf;
    QRadioButton* optCr;
    QButtonGroup* grpLine_End;  // makes the three option buttons one exclusive group
    QCheckBox* chkRemove_Duplicate_Line_Ends;
    QCheckBox* chkOne_Line_End_At_File_End;

    // Option fields: written by Read_Options only, read by the batch.
    std::string Line_End;
    bool Remove_Duplicates = false;
    bool One_Line_End_At_End = false;

    // Window_Surface
    void Set_Wait_Visible(bool visible) override;
    void Read_Options() override;
    Conversion_Options Options() const override;
    void Show_Message(const std::string& prompt, const std::string& title) override;

    bool Batch_Running() const { return Batch_Busy; }

signals:
    void Batch_Finished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void fraDrop_Files_Dropped(const Drop_Data& data);
    void Start_Batch(const Drop_Data& data);
    void End_Batch();

    bool Batch_Busy = false;
    bool Close_Pending = false;
    QThread* Batch_Thread = nullptr;
};
