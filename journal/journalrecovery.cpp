#include "journalrecovery.h"

#include "datafileformat.h"
#include "datarecorder.h"
#include "durablefile.h"
#include "filenamedlg.h"
#include "journalformat.h"
#include "nativefs.h"
#include "recordchain.h"
#include "recordfolderlock.h"
#include "samplelist.h"
#include "stationkey.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

#include <algorithm>

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

// The start of the run that wrote a journal, for taking journals in the
// order of their runs: "run-<pid>-<ms>.journal" names it; else the file's age.
qint64 RunStartMs(const QDir &folder, const QString &name)
{
    static const QRegularExpression named(QStringLiteral("^run-\\d+-(\\d+)\\.journal$"));
    const QRegularExpressionMatch match = named.match(name);
    bool ok = false;
    const qint64 ms = match.hasMatch() ? match.captured(1).toLongLong(&ok) : 0;
    return ok ? ms : QFileInfo(folder.filePath(name)).lastModified().toMSecsSinceEpoch();
}

// How many of the journal's first readings are already in `dataFile`: the
// file the run's save wrote after the journal last noted the next save (the
// program was stopped between that save's sync and the journal's forgetting).
// Only a file that holds exactly what that save would have written counts.
size_t AlreadySaved(const QString &dataFile, const JournalHeader &header, const std::vector<TempSample> &readings)
{
    QFile file;
    if (!OpenNamedFile(file, dataFile, QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.readAll();
    QByteArray expected = DataFileHeader(header.reference);
    if (!bytes.startsWith(expected))
        return 0;
    OffsetClock offsets(header.reference, header.referenceUtcMs);
    size_t same = 0;
    while (same < readings.size() && expected.size() < bytes.size()) {
        const TempSample &reading = readings[same];
        const QByteArray line = DataFileLine(offsets.SecondsTo(reading.time, reading.utcMs), reading.temperature);
        if (bytes.mid(expected.size(), line.size()) != line)
            return 0; // another run's file, or another save's
        expected += line;
        ++same;
    }
    return same;
}

bool IsPlainName(const QString &name)
{
    return !name.isEmpty() && name != QStringLiteral(".") && name != QStringLiteral("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// After "9999" the operator names the file; a name that a file has already
// is refused and asked again, since that file holds readings too.
std::optional<QString> AskFileName(const QString &folder, MessageSeam &prompts, QWidget *promptParent)
{
    for (;;) {
        CFileNameDlg prompt(promptParent);
        prompt.setWindowTitle(QStringLiteral("Восстановление данных прерванного сеанса"));
        if (prompts.Exec(prompt) != QDialog::Accepted)
            return std::nullopt;
        const QString name = prompt.m_strFileName;
        if (IsPlainName(name) && !PathExists(QDir(folder).filePath(name)))
            return name;
        prompts.Show(WarningMessage(
            IsPlainName(name)
                ? QStringLiteral("Файл \"%1\" уже есть в папке %2. Введите другое имя.").arg(name, QDir::toNativeSeparators(folder))
                : QStringLiteral("Введите имя файла без папки."),
            QStringLiteral("Восстановление данных прерванного сеанса")));
    }
}

// Writes the readings under a hidden name, then gives the file its name,
// never over a file that has it. Nothing is left behind on failure.
bool WriteWhole(const QString &folder, const QString &name, const JournalHeader &header,
                const std::vector<TempSample> &readings, MessageSeam &prompts)
{
    DataRecorder recorder(prompts);
    recorder.SetFolder(folder);
    recorder.SetReferenceTime(header.reference, header.referenceUtcMs);
    SampleList store;
    for (const TempSample &reading : readings)
        store.Append(reading);
    const TempSample *nothingSaved = nullptr;
    const QString partial = QStringLiteral(".%1.recovering").arg(name);
    const QDir dir(folder);
    if (recorder.WriteData(partial, store, nothingSaved)
        && RenameWithoutReplacing(dir.filePath(partial), dir.filePath(name)) && SyncFolder(folder))
        return true;
    RemoveFile(dir.filePath(partial));
    return false;
}

// The recovered file, and the events of the run that ended without its last
// save, go into the folder's chain like any save's, signed with the key of
// the station whose journal it was.
void EnterIntoChain(const QString &journalFolder, const QString &folder, const QString &name)
{
    const std::optional<StationKey> key = StationKey::LoadOrMake(journalFolder, nullptr);
    if (!key)
        return;
    RecordChain chain;
    chain.Open(folder);
    chain.Enter(name, *key, false);
    chain.Enter(QStringLiteral("events.csv"), *key, true);
}

void KeepDamaged(const QString &path, RecoveredRun &run)
{
    const QString kept = DamagedJournalName(path);
    if (RenameWithoutReplacing(path, kept)) {
        run.keptAs = QDir::toNativeSeparators(kept);
        SyncFolder(QFileInfo(path).absolutePath());
    } else {
        run.keptAs = run.journal; // stays where it is, and is read again next time
    }
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
    if (contents.status != JournalContents::Status::Read)
        return run;
    run.unreadableRecords = contents.unreadableRecords;
    const bool damaged = contents.unreadableRecords > 0;
    std::vector<TempSample> readings = contents.readings;
    run.readings = static_cast<qint64>(readings.size());
    if (!contents.hasHeader && (damaged || !readings.empty())) {
        run.outcome = RecoveredRun::Outcome::NoHeader;
        KeepDamaged(path, run);
        return run;
    }

    const JournalHeader &header = contents.header;
    run.folder = QDir::toNativeSeparators(header.folder);
    RecordFolderLock folderLock;
    if (!readings.empty()) {
        switch (folderLock.Take(header.folder)) {
        case RecordFolderLock::Hold::Held:
            break;
        case RecordFolderLock::Hold::HeldByOther:
            run.outcome = RecoveredRun::Outcome::FolderHeld;
            return run;
        case RecordFolderLock::Hold::NotMade:
            run.outcome = RecoveredRun::Outcome::FolderNotWritable;
            run.reason = folderLock.Reason();
            return run;
        }
        if (header.nextFile <= kLastNumberedFile) {
            const size_t saved = AlreadySaved(QDir(header.folder).filePath(NumberedName(header.nextFile)), header, readings);
            readings.erase(readings.begin(), readings.begin() + qsizetype(saved));
            run.alreadySaved = static_cast<qint64>(saved);
            run.readings = static_cast<qint64>(readings.size());
        }
    }
    if (!readings.empty()) {
        run.first = readings.front().time;
        run.last = readings.back().time;
        int number = header.nextFile;
        while (number <= kLastNumberedFile && PathExists(QDir(header.folder).filePath(NumberedName(number))))
            ++number; // written since, by another run: never overwritten
        const std::optional<QString> name = number <= kLastNumberedFile
            ? std::optional<QString>(NumberedName(number))
            : AskFileName(header.folder, prompts, promptParent);
        if (!name) {
            run.outcome = RecoveredRun::Outcome::NameNotGiven;
            return run;
        }
        if (!WriteWhole(header.folder, *name, header, readings, prompts)) {
            run.outcome = RecoveredRun::Outcome::FolderNotWritable;
            return run;
        }
        run.fileName = *name;
        EnterIntoChain(QFileInfo(path).absolutePath(), header.folder, *name);
    }
    run.outcome = RecoveredRun::Outcome::Written;
    if (damaged) {
        KeepDamaged(path, run);
    } else {
        RemoveFile(path);
        SyncFolder(QFileInfo(path).absolutePath());
    }
    return run;
}

} // namespace

QString DamagedJournalName(const QString &journal)
{
    return journal + QStringLiteral(".damaged");
}

QList<RecoveredRun> RecoverJournals(const QString &journalFolder, MessageSeam &prompts, QWidget *promptParent)
{
    QList<RecoveredRun> runs;
    const QDir folder(journalFolder);
    QStringList journals = folder.entryList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name);
    std::stable_sort(journals.begin(), journals.end(), [&folder](const QString &a, const QString &b) {
        return RunStartMs(folder, a) < RunStartMs(folder, b);
    });
    for (const QString &name : journals) {
        const QString path = folder.filePath(name);
        QLockFile lock(path + QStringLiteral(".lock"));
        lock.setStaleLockTime(0); // held by a live program: its run goes on
        if (!lock.tryLock(0)) {
            if (lock.error() != QLockFile::LockFailedError) {
                RecoveredRun run;
                run.outcome = RecoveredRun::Outcome::JournalNotLockable;
                run.journal = QDir::toNativeSeparators(path);
                runs.append(run);
            }
            continue; // still running, or recovered by another program just now
        }
        if (!QFile::exists(path))
            continue;
        const RecoveredRun run = Recover(path, prompts, promptParent);
        if (run.outcome != RecoveredRun::Outcome::Written || run.readings > 0 || run.unreadableRecords > 0)
            runs.append(run);
    }
    return runs;
}

Message RecoveryMessage(const QList<RecoveredRun> &runs)
{
    QStringList lines;
    bool allWell = true;
    for (const RecoveredRun &run : runs) {
        QString line;
        switch (run.outcome) {
        case RecoveredRun::Outcome::Written:
            if (run.readings > 0) {
                line = QStringLiteral("Восстановлены данные прерванного сеанса (показаний: %1, с %2 по %3). "
                                      "Они записаны в файл \"%4\" папки %5.")
                           .arg(run.readings).arg(TimeText(run.first), TimeText(run.last), run.fileName, run.folder);
            }
            break;
        case RecoveredRun::Outcome::FolderHeld:
            line = QStringLiteral("Данные прерванного сеанса (показаний: %1) не записаны: в папку %2 идёт запись "
                                  "другой копией программы. Они сохранены в журнале %3 и будут записаны при "
                                  "следующем запуске программы.")
                       .arg(run.readings).arg(run.folder, run.journal);
            break;
        case RecoveredRun::Outcome::FolderNotWritable:
            line = QStringLiteral("Не удалось записать данные прерванного сеанса (показаний: %1) в папку %2%3. "
                                  "Они сохранены в журнале %4.")
                       .arg(run.readings)
                       .arg(run.folder, run.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(run.reason),
                            run.journal);
            break;
        case RecoveredRun::Outcome::NameNotGiven:
            line = QStringLiteral("Данные прерванного сеанса (показаний: %1) не записаны: не задано имя файла. "
                                  "Они сохранены в журнале %2.")
                       .arg(run.readings).arg(run.journal);
            break;
        case RecoveredRun::Outcome::NoHeader:
            line = QStringLiteral("Журнал %1 повреждён: не удалось прочесть, в какую папку записывать его показания "
                                  "(показаний в нём: %2).")
                       .arg(run.journal).arg(run.readings);
            break;
        case RecoveredRun::Outcome::JournalNotLockable:
            line = QStringLiteral("Журнал %1 не обработан: рядом с ним не удалось создать файл блокировки (нет места "
                                  "на диске или нет прав на запись). Он будет обработан при следующем запуске "
                                  "программы.")
                       .arg(run.journal);
            break;
        case RecoveredRun::Outcome::NewerFormat:
            line = QStringLiteral("Журнал %1 записан более новой версией программы и оставлен без изменений.")
                       .arg(run.journal);
            break;
        case RecoveredRun::Outcome::Unreadable:
            line = QStringLiteral("Журнал %1 не удалось прочесть; он оставлен без изменений.").arg(run.journal);
            break;
        }
        if (run.unreadableRecords > 0) {
            line += QStringLiteral("%1Часть журнала повреждена: не удалось прочесть записей: %2. Журнал сохранён как %3.")
                        .arg(line.isEmpty() ? QString() : QStringLiteral(" "))
                        .arg(run.unreadableRecords)
                        .arg(run.keptAs);
        }
        if (run.outcome != RecoveredRun::Outcome::Written || run.unreadableRecords > 0)
            allWell = false;
        if (!line.isEmpty())
            lines << line;
    }
    const QString text = lines.join(QStringLiteral("\n\n"));
    const QString caption = QCoreApplication::applicationName();
    return allWell ? InformationMessage(text, caption) : WarningMessage(text, caption);
}
