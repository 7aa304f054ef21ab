#include "stationchoice.h"

#include "messageseam.h"
#include "settingsstore.h"

#include <QCommandLineParser>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QSettings>

#include <cstdio>
#include <optional>

namespace {

constexpr int kUsageError = 2;

StationChoice Refuse(const QString &reason)
{
    std::fprintf(stderr, "calorivista: %s\n", qPrintable(reason));
    return StationChoice {false, kUsageError, {}};
}

const QString kNameRule = QStringLiteral("Имя прибора может состоять только из букв, цифр и знаков \"-\" и \"_\".");

// Asks until a usable name is given; none when the operator cancels.
std::optional<QString> AskForStation(MessageSeam &messages)
{
    for (;;) {
        QInputDialog prompt;
        prompt.setWindowTitle(QStringLiteral("Другой прибор"));
        prompt.setLabelText(QStringLiteral("Имя прибора (у каждого свои настройки и журнал):"));
        prompt.setComboBoxEditable(true);
        prompt.setComboBoxItems(KnownStations());
        prompt.setTextValue(QString());
        if (messages.Exec(prompt) != QDialog::Accepted)
            return std::nullopt;
        const QString name = prompt.textValue().trimmed();
        if (SettingsStore::IsStationName(name))
            return name;
        messages.Show(WarningMessage(kNameRule));
    }
}

} // namespace

StationChoice ChooseStation(const QStringList &arguments, MessageSeam &messages)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Calorivista: запись высоких температур с прибора на последовательном порту."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption station(QStringLiteral("station"),
                                     QStringLiteral("Другой прибор этого компьютера, со своими настройками, журналом и очередью."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption ask(QStringLiteral("ask-station"), QStringLiteral("Спросить имя прибора."));
    parser.addOption(station);
    parser.addOption(ask);
    if (!parser.parse(arguments))
        return Refuse(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return StationChoice {false, 0, {}};
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("calorivista %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return StationChoice {false, 0, {}};
    }
    if (!parser.positionalArguments().isEmpty())
        return Refuse(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    if (parser.isSet(station) && parser.isSet(ask))
        return Refuse(QStringLiteral("--station and --ask-station exclude each other"));
    if (parser.isSet(ask)) {
        const std::optional<QString> name = AskForStation(messages);
        return name ? StationChoice {true, 0, *name} : StationChoice {false, 0, {}};
    }
    if (!parser.isSet(station))
        return StationChoice {};
    const QString name = parser.value(station);
    if (!SettingsStore::IsStationName(name))
        return Refuse(QStringLiteral("the station's name \"%1\" is not letters, digits, '-' and '_'").arg(name));
    return StationChoice {true, 0, name};
}

QStringList KnownStations()
{
    // The named stations' files lie beside the first one's.
    const QSettings first(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Calorivista"),
                          QStringLiteral("Calorivista"));
    const QFileInfo file(first.fileName());
    if (!file.isAbsolute())
        return {}; // the registry: nothing to list
    QStringList names;
    const QString prefix = QStringLiteral("Calorivista-");
    for (const QFileInfo &entry : file.dir().entryInfoList({prefix + QLatin1Char('*') + QLatin1Char('.') + file.suffix()},
                                                           QDir::Files, QDir::Name)) {
        const QString name = entry.completeBaseName().mid(prefix.size());
        if (SettingsStore::IsStationName(name))
            names.append(name);
    }
    return names;
}
