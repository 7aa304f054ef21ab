#include "journalrecovery.h"

#include "datarecorder.h"
#include "durablefile.h"
#include "journalformat.h"
#include "nativefs.h"
#include "samplelist.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>

namespace {

constexpr int kLastNumberedFile = 9999;

QString NumberedName(int number)
{
    return QStringLiteral("%1").arg(number, 4, 10, QLatin1Char('0'));
}

QString TimeText(const SYSTEMTIME &st)
{
    return QString::asprintf("%02u.%02u.%04u %02u:%02u:%02u", st.wDay, st.wMonth, st.wYear, st.wHour, st.wMinute,
                             st.wSecond);
}

// Recovers one journal that nobody else holds.
RecoveredRun Recover(const QString &path, MessageSeam &prompts, QWidget *promptParent)
{
    RecoveredRun run;
    run.journal = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return run;
    const JournalContents contents = ReadJournal(file.readAll());
    file.close();
    if (contents.status == JournalContents::Status::NewerFormat) {
        run.outcome = RecoveredRun::Outcome::NewerFormat;
        return run;
    }
    if (contents.status != JournalContents::Status::Read || (!contents.hasHeader && !contents.readings.empty()))
        return run;
    if (contents.readings.empty()) {
        // Everything of that run was saved: nothing to tell.
        run.outcome = RecoveredRun::Outcome::Written;
        QFile::remove(path);
        return run;
    }

    const JournalHeader &header = contents.header;
    run.folder = QDir::toNativeSeparators(header.folder);
    run.readings = static_cast<qint64>(contents.readings.size());
    run.first = contents.readings.front().time;
    run.last = contents.readings.back().time;

    DataRecorder recorder(prompts, promptParent);
    recorder.SetFolder(header.folder);
    recorder.SetReferenceTime(header.reference);
    int number = header.nextFile;
    while (number <= kLastNumberedFile && PathExists(QDir(header.folder).filePath(NumberedName(number))))
        ++number; // written since, by another run: never overwritten
    recorder.SetFileCounter(number);
    const std::optional<QString> name = recorder.TakeFileName();
    if (!name) {
        run.outcome = RecoveredRun::Outcome::NameNotGiven;
        return run;
    }
    SampleList store;
    for (const TempSample &reading : contents.readings)
        store.Append(reading);
    const TempSample *nothingSaved = nullptr;
    if (!recorder.WriteData(*name, store, nothingSaved)) {
        run.outcome = RecoveredRun::Outcome::FolderNotWritable;
        return run;
    }
    run.outcome = RecoveredRun::Outcome::Written;
    run.fileName = *name;
    QFile::remove(path);
    SyncFolder(QFileInfo(path).absolutePath());
    return run;
}

} // namespace

QList<RecoveredRun> RecoverJournals(const QString &journalFolder, MessageSeam &prompts, QWidget *promptParent)
{
    QList<RecoveredRun> runs;
    const QDir folder(journalFolder);
    const QStringList journals = folder.entryList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name);
    for (const QString &name : journals) {
        const QString path = folder.filePath(name);
        QLockFile lock(path + QStringLiteral(".lock"));
        lock.setStaleLockTime(0); // held by a live program: its run goes on
        if (!lock.tryLock(0) || !QFile::exists(path))
            continue; // still running, or recovered by another program just now
        const RecoveredRun run = Recover(path, prompts, promptParent);
        if (run.outcome != RecoveredRun::Outcome::Written || run.readings > 0)
            runs.append(run);
    }
    return runs;
}

Message RecoveryMessage(const QList<RecoveredRun> &runs)
{
    QStringList lines;
    bool allWritten = true;
    for (const RecoveredRun &run : runs) {
        switch (run.outcome) {
        case RecoveredRun::Outcome::Written:
            lines << QStringLiteral("Восстановлены данные прерванного сеанса (показаний: %1, с %2 по %3). "
                                    "Они записаны в файл \"%4\" папки %5.")
                         .arg(run.readings).arg(TimeText(run.first), TimeText(run.last), run.fileName, run.folder);
            continue;
        case RecoveredRun::Outcome::FolderNotWritable:
            lines << QStringLiteral("Не удалось записать данные прерванного сеанса (показаний: %1) в папку %2. "
                                    "Они сохранены в журнале %3.")
                         .arg(run.readings).arg(run.folder, run.journal);
            break;
        case RecoveredRun::Outcome::NameNotGiven:
            lines << QStringLiteral("Данные прерванного сеанса (показаний: %1) не записаны: не задано имя файла. "
                                    "Они сохранены в журнале %2.")
                         .arg(run.readings).arg(run.journal);
            break;
        case RecoveredRun::Outcome::NewerFormat:
            lines << QStringLiteral("Журнал %1 записан более новой версией программы и оставлен без изменений.")
                         .arg(run.journal);
            break;
        case RecoveredRun::Outcome::Unreadable:
            lines << QStringLiteral("Журнал %1 не удалось прочесть; он оставлен без изменений.").arg(run.journal);
            break;
        }
        allWritten = false;
    }
    const QString text = lines.join(QStringLiteral("\n\n"));
    const QString caption = QCoreApplication::applicationName();
    return allWritten ? InformationMessage(text, caption) : WarningMessage(text, caption);
}
