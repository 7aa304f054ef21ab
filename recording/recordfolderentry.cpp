#include "recordfolderentry.h"

#include "messageseam.h"
#include "nativefs.h"
#include "recordfolderlock.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

Message Question(const QString &text, const QString &caption)
{
    return WarningMessage(text, caption, QMessageBox::Yes | QMessageBox::No);
}

// Another program recording here would overwrite this run's numbered files,
// or this run its files.
bool HoldForRun(RecordFolderLock &lock, MessageSeam &messages)
{
    const QString folder = QDir::toNativeSeparators(CurrentFolder());
    switch (lock.Take(CurrentFolder())) {
    case RecordFolderLock::Hold::Held:
        return true;
    case RecordFolderLock::Hold::HeldByOther:
        messages.Show(ErrorMessage(QStringLiteral("В папку %1 уже идёт запись другой копией программы. "
                                                  "Выберите другую папку.")
                                       .arg(folder)));
        return false;
    case RecordFolderLock::Hold::NotMade:
        // Where not even the lock file can be made, no data file can be either.
        messages.Show(ErrorMessage(QStringLiteral("Не удалось начать запись в папку %1: %2. Выберите другую папку.")
                                       .arg(folder, lock.Reason())));
        return false;
    }
    return false;
}

// The run overwrites from "0000" on, so any numbered data file counts.
bool HoldsDataFiles()
{
    static const QRegularExpression numbered(QStringLiteral("^[0-9]{4}$"));
    const QStringList names = QDir(QStringLiteral(".")).entryList(QStringList {QStringLiteral("????")}, QDir::Files);
    return std::any_of(names.cbegin(), names.cend(), [](const QString &name) { return numbered.match(name).hasMatch(); });
}

} // namespace

bool EnterRecordFolder(const QString &folder, bool probe, RecordFolderLock &lock, MessageSeam &messages)
{
    if (SetCurrentFolder(folder)) {
        if (!HoldForRun(lock, messages))
            return false;
        if (probe && HoldsDataFiles()) {
            const QMessageBox::StandardButton answer = messages.Show(Question(
                QStringLiteral("Возможно, в этой папки имеются данные, снятые во время предыдущих сеансов работы. "
                               "В случае продолжения, эти данные будут потеряны. Продолжить?"),
                QStringLiteral("Предупреждение")));
            if (answer != QMessageBox::Yes) {
                lock.Release();
                return false;
            }
        }
        return true;
    }
    // A missing folder whose parent exists may be created; anything else is an error.
    const QString clean = QDir::cleanPath(folder);
    const bool missingWithParent = !folder.isEmpty() && !PathExists(clean) && IsFolder(QFileInfo(clean).absolutePath());
    if (!missingWithParent) {
        messages.Show(ErrorMessage(QStringLiteral("Не удалось сменить папку.")));
        return false;
    }
    const QMessageBox::StandardButton answer = messages.Show(
        Question(QStringLiteral("Папка, которую вы задали не существует. Хотите ли вы её создать?"),
                 QApplication::applicationName()));
    if (answer != QMessageBox::Yes)
        return false;
    MakeFolder(folder);
    // A fresh folder holds nothing to ask about.
    return SetCurrentFolder(folder) && HoldForRun(lock, messages);
}
