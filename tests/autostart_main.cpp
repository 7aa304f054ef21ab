// The program as shipped, with the operator's first press of "OK(Start)" done
// for them once the main dialog shows: the end-to-end tests start it, let a
// run go and then kill it as a crash or a power cut would.
#include "thermoapp.h"
#include "thermodlg.h"

#include <QTimer>

int main(int argc, char *argv[])
{
    CThermoApp app(argc, argv);
    QTimer::singleShot(0, [] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<CThermoDlg *>(window); dialog && dialog->isVisible())
                dialog->accept();
        }
    });
    return app.InitInstance();
}
