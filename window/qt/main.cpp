#include <QApplication>

#include <csignal>

#include "frmLine_End_Converter.h"

int main(int argc, char* argv[]) {
    // A file-size limit reached while writing must fail that one file, which
    // is then left as it was, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    frmLine_End_Converter form;
    form.show();
    return app.exec();
}
