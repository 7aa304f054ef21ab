#include "archiveopener.h"

#include "archivedrunfolder.h"
#include "archiverunchooser.h"
#include "messageseam.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QProgressDialog>

namespace {

const QString kCaption = QStringLiteral("Архив");

} // namespace

ArchiveOpener::ArchiveOpener(RunCatalog &catalog, MessageSeam &messages)
    : m_catalog(catalog)
    , m_messages(messages)
{
}

std::vector<RunCatalog::Run> ArchiveOpener::Runs()
{
    QString error;
    std::vector<RunCatalog::Run> runs = m_catalog.Runs(kRunsPerStation, &error);
    if (!error.isEmpty())
        m_messages.Show(ErrorMessage(QStringLiteral("Архив недоступен: %1").arg(error), kCaption));
    return runs;
}

std::optional<QString> ArchiveOpener::Choose(QWidget *parent)
{
    const std::vector<RunCatalog::Run> runs = Runs();
    if (runs.empty())
        return std::nullopt;
    ArchiveRunChooser chooser(runs, parent);
    if (m_messages.Exec(chooser) != QDialog::Accepted || !chooser.Chosen())
        return std::nullopt;
    return Fetch(*chooser.Chosen(), parent);
}

std::optional<QString> ArchiveOpener::Fetch(const QString &station, qint64 run, QWidget *parent)
{
    for (const RunCatalog::Run &found : Runs())
        if (found.station == station && found.run == run)
            return Fetch(found, parent);
    m_messages.Show(ErrorMessage(QStringLiteral("В архиве нет записи %1 станции %2").arg(run).arg(station), kCaption));
    return std::nullopt;
}

std::optional<QString> ArchiveOpener::Fetch(const RunCatalog::Run &run, QWidget *parent)
{
    // Named as the operator knows it: the station and its start.
    QString name = run.station + QLatin1Char(' ')
        + QDateTime::fromMSecsSinceEpoch(run.started.value_or(run.run)).toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"));
    const QString folder = QDir(m_folder.path()).filePath(name.replace(QLatin1Char('/'), QLatin1Char('_')));
    if (QDir(folder).exists())
        QDir(folder).removeRecursively(); // fetched again: the archive may hold more by now
    const qint64 total = std::max<qint64>(1, run.readings.value_or(run.held));
    QProgressDialog progress(QStringLiteral("Чтение записи из архива…"), QStringLiteral("Отмена"), 0, 1000, parent);
    progress.setWindowTitle(kCaption);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    QString error;
    const bool written = archivedrunfolder::Write(m_catalog, run, folder,
                                                  [&](qint64 done) {
                                                      progress.setValue(int(std::min<qint64>(999, done * 1000 / total)));
                                                      QCoreApplication::processEvents();
                                                      return !progress.wasCanceled();
                                                  },
                                                  &error);
    progress.reset();
    if (!written) {
        QDir(folder).removeRecursively();
        if (!error.isEmpty())
            m_messages.Show(ErrorMessage(QStringLiteral("Запись не прочитана из архива: %1").arg(error), kCaption));
        return std::nullopt;
    }
    return folder;
}
