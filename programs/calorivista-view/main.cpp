// calorivista-view: the run window for a record folder, on its own.
#include "appicon.h"
#include "messageseam.h"
#include "nativename.h"
#include "qttranslations.h"
#include "runwindow.h"
#include "settingsstore.h"

#include <QApplication>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Qt's own arguments() turn bytes of a name that are not UTF-8 into
    // U+FFFD; a folder so named must still be found.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << FromNativeName(QByteArray(argv[i]));
    // Told before any window system is needed.
    if (arguments.size() > 1 || arguments.value(0).startsWith(QLatin1Char('-'))) {
        const bool help = arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"));
        std::fputs("Usage: calorivista-view [FOLDER]\n"
                   "Shows a Calorivista record folder's whole run; without FOLDER the folder chooser asks for one.\n",
                   help ? stdout : stderr);
        return help ? 0 : 2;
    }
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Calorivista"));
    app.setApplicationName(QStringLiteral("Calorivista"));
    app.setWindowIcon(AppIcon());
    // Qt's own texts (the file dialogs' "Save", "Cancel") in Russian, as in the program.
    QTranslator qtTexts;
    if (LoadQtTranslations(qtTexts))
        app.installTranslator(&qtTexts);

    MessageSeam messages;
    RunWindow window(messages);
    messages.SetOwner(&window);
    // The limits as the program has them now.
    const AlarmLimits limits = SettingsStore().LoadAlarmLimits();
    std::vector<double> drawn;
    for (const std::optional<double> &limit : {limits.high, limits.low})
        if (limit)
            drawn.push_back(*limit);
    window.SetLimits(drawn);
    window.show();
    QTimer::singleShot(0, &window, [&] {
        if (!arguments.isEmpty())
            window.OpenFolder(arguments.first());
        else
            window.OnOpen();
    });
    return app.exec();
}
