// tolvex-update: the window that puts a .tvu update file into Tolvex hardware.
#include <QApplication>
#include <QString>

#include "app/run_application.h"
#include "app/sdi_app_form.h"

int main(int argc, char* argv[]) {
    // The first argument is the update file. Taken before Qt reads its own options, so that
    // any first argument counts as the file.
    const QString fileName = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QString::fromLatin1(tolvex::app::kApplicationTitle));
    QApplication::setWindowIcon(tolvex::app::ApplicationIcon());

    tolvex::app::TSDIAppForm SDIAppForm(fileName);
    return tolvex::app::RunApplication(SDIAppForm);
}
