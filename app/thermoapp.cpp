#include "thermoapp.h"

#include "appicon.h"
#include "messageseam.h"
#include "qttranslations.h"
#include "quitsignals.h"
#include "settingsstore.h"
#include "stationchoice.h"
#include "thermodlg.h"

#include <QStandardPaths>

CThermoApp::CThermoApp(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("Calorivista"));
    setApplicationName(QStringLiteral("Calorivista"));
    // On X11 the toolkit names a hidden helper window of its own (the client
    // leader) after the display name. With the program's name it looks like
    // the main window to whoever closes "the window named Calorivista", and a
    // delete request sent to it closes nothing. Window titles stay as they are.
    setApplicationDisplayName(QString());
    setApplicationVersion(QStringLiteral(CALORIVISTA_VERSION));
    setWindowIcon(AppIcon());
    if (LoadQtTranslations(m_qtTexts))
        installTranslator(&m_qtTexts);
}

int CThermoApp::InitInstance()
{
    MessageSeam messages;
    const StationChoice station = ChooseStation(arguments(), messages);
    if (!station.run)
        return station.exitCode;
    // A second instrument keeps its settings beside the first one's and its
    // journals and outbox in a folder of its own.
    const SettingsStore settingsStore = station.name.isEmpty() ? SettingsStore() : SettingsStore::ForStation(station.name);
    QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (!station.name.isEmpty())
        dataFolder += QLatin1Char('/') + station.name;
    CThermoDlg dialog(messages, settingsStore, dataFolder);

    // Log-out, shutdown or a quit signal during a run: stop and save it first.
    QuitSignals quitSignals;
    connect(&quitSignals, &QuitSignals::quitRequested, &dialog, &CThermoDlg::OnSystemQuit);
    connect(this, &QGuiApplication::commitDataRequest, &dialog, &CThermoDlg::OnSystemQuit);
    setQuitOnLastWindowClosed(false);

    // Shown rather than run with exec(): an application-modal main dialog would
    // block the chart window's mouse. Its end is the program's end all the same.
    connect(&dialog, &QDialog::finished, this, &QCoreApplication::quit);
    dialog.show();
    // Runs cut short before this start are written first, inside the loop, so
    // that a close meanwhile still ends the program.
    QMetaObject::invokeMethod(&dialog, &CThermoDlg::RecoverInterruptedRuns, Qt::QueuedConnection);
    return exec();
}
