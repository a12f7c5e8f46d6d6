// tolvex-update: the window that puts a .tvu update file into Tolvex hardware.
#include <QApplication>
#include <QString>

#include "app/run_application.h"
#include "app/sdi_app_form.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The first argument is the update file. Qt's own list, because on Windows it comes from
    // the wide command line: argv there is in the ANSI code page, which cannot hold every
    // file name. (Options meant for Qt itself, such as -platform, are not taken as the file.)
    const QString fileName = QCoreApplication::arguments().value(1);
    QApplication::setApplicationDisplayName(QString::fromLatin1(tolvex::app::kApplicationTitle));
    QApplication::setWindowIcon(tolvex::app::ApplicationIcon());

    tolvex::app::TSDIAppForm SDIAppForm(fileName);
    return tolvex::app::RunApplication(SDIAppForm);
}
