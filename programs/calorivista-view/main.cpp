// calorivista-view: the run window for a record folder, or for a run of
// the lab's archive, on its own.
#include "appicon.h"
#include "archiveopener.h"
#include "messageseam.h"
#include "nativename.h"
#include "pgruncatalog.h"
#include "qttranslations.h"
#include "runwindow.h"
#include "settingsstore.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: calorivista-view [FOLDER]\n"
    "       calorivista-view --db CONNINFO [--db-password-file F] [--station NAME --run ID]\n"
    "Shows a Calorivista record folder's whole run; without FOLDER the folder chooser asks for one.\n"
    "With --db, the runs of the lab's archive in PostgreSQL (libpq's conninfo, no password in it:\n"
    "~/.pgpass, PGPASSFILE or the first line of F): a run chosen among them, or the one named.\n";

struct ViewCommandLine
{
    QString folder;
    QString db;
    QString dbPassword;
    QString station;
    qint64 run = 0;
};

std::optional<ViewCommandLine> ReadCommandLine(const QStringList &arguments, QString *problem)
{
    ViewCommandLine line;
    QString passwordFile, run;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (!argument.startsWith(QLatin1String("--"))) {
            if (!line.folder.isEmpty()) {
                *problem = QStringLiteral("one folder at most");
                return std::nullopt;
            }
            line.folder = argument;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            *problem = QStringLiteral("%1 needs a value, or is no option").arg(argument);
            return std::nullopt;
        }
        const QString value = arguments[++i];
        if (argument == QLatin1String("--db"))
            line.db = value;
        else if (argument == QLatin1String("--db-password-file"))
            passwordFile = value;
        else if (argument == QLatin1String("--station"))
            line.station = value;
        else if (argument == QLatin1String("--run"))
            run = value;
        else {
            *problem = QStringLiteral("unknown option %1").arg(argument);
            return std::nullopt;
        }
    }
    const bool archive = !line.db.isEmpty();
    if ((archive && !line.folder.isEmpty()) || (!archive && (!passwordFile.isEmpty() || !line.station.isEmpty() || !run.isEmpty()))
        || line.station.isEmpty() != run.isEmpty()) {
        *problem = QStringLiteral("a folder, or --db with --station and --run together");
        return std::nullopt;
    }
    if (archive && !PgConnection::CheckConninfo(line.db, problem))
        return std::nullopt;
    if (!run.isEmpty()) {
        bool number = false;
        line.run = run.toLongLong(&number);
        if (!number) {
            *problem = QStringLiteral("--run is a run's id, a number");
            return std::nullopt;
        }
    }
    if (!passwordFile.isEmpty()) {
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *problem = QStringLiteral("cannot read %1").arg(passwordFile);
            return std::nullopt;
        }
        line.dbPassword = QString::fromUtf8(file.readLine(4096)).trimmed();
    }
    return line;
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's own arguments() turn bytes of a name that are not UTF-8 into
    // U+FFFD; a folder so named must still be found.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << FromNativeName(QByteArray(argv[i]));
    // Told before any window system is needed.
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    QString problem;
    const std::optional<ViewCommandLine> line = ReadCommandLine(arguments, &problem);
    if (!line) {
        std::fprintf(stderr, "calorivista-view: %s\n%s", problem.toUtf8().constData(), kUsage);
        return 2;
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
    // The archive's runs instead of folders: each one chosen is fetched into a folder of its own.
    std::unique_ptr<PgRunCatalog> catalog;
    std::unique_ptr<ArchiveOpener> opener;
    if (!line->db.isEmpty()) {
        catalog = std::make_unique<PgRunCatalog>(line->db, line->dbPassword, QStringLiteral("calorivista-view"));
        opener = std::make_unique<ArchiveOpener>(*catalog, messages);
        window.SetFolderSource([&opener](QWidget *parent) { return opener->Choose(parent); });
    }
    window.show();
    QTimer::singleShot(0, &window, [&] {
        if (opener && !line->station.isEmpty()) {
            if (const std::optional<QString> folder = opener->Fetch(line->station, line->run, &window))
                window.OpenFolder(*folder);
        } else if (!line->folder.isEmpty()) {
            window.OpenFolder(line->folder);
        } else {
            window.OnOpen();
        }
    });
    return app.exec();
}
