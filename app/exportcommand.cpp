#include "exportcommand.h"

#include "exportjob.h"
#include "messageseam.h"
#include "nativefs.h"
#include "nativename.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const QString kCaption = QStringLiteral("Экспорт в CSV");

// "<folder>.csv" beside the folder: a file inside it would join its data.
// The file dialog takes only names that Qt can hold; a folder whose name is
// not UTF-8 gets the name with those bytes as "_", in the home folder if its
// parent has such a name too.
QString ProposedCsv(const QString &folder)
{
    QString path = folder;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    QString parent = slash < 0 ? CurrentFolder() : path.left(std::max<qsizetype>(slash, 1));
    QString name = path.mid(slash + 1);
    for (QChar &c : name)
        if (!QtCanName(QString(c)))
            c = QLatin1Char('_');
    if (!QtCanName(parent))
        parent = QDir::homePath();
    return QDir(parent).filePath(name + QStringLiteral(".csv"));
}

} // namespace

void ExportFolderToCsv(MessageSeam &messages, QWidget *owner, const QString &folder)
{
    if (!IsFolder(folder)) {
        messages.Show(ErrorMessage(QStringLiteral("Папка для экспорта не найдена: ") + QDir::toNativeSeparators(folder),
                                   kCaption));
        return;
    }
    QString target = messages.AskFileToSave(owner, kCaption, ProposedCsv(folder), QStringLiteral("CSV (*.csv)"));
    if (target.isEmpty())
        return;
    if (QFileInfo(target).suffix().isEmpty())
        target += QStringLiteral(".csv");

    QFile csv;
    if (!OpenNamedFile(csv, target, QIODevice::WriteOnly | QIODevice::Truncate)) {
        messages.Show(ErrorMessage(QStringLiteral("Не удалось создать файл %1: %2")
                                       .arg(QDir::toNativeSeparators(target), QString::fromLocal8Bit(std::strerror(errno))),
                                   kCaption));
        return;
    }
    QProgressDialog progress(QStringLiteral("Экспорт показаний…"), QStringLiteral("Отмена"), 0, 100, owner);
    progress.setWindowTitle(kCaption);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500); // only a large folder shows it
    ExportRequest request;
    request.folder = folder;
    request.csv = &csv;
    const ExportResult result = ExportRecordFolder(request, [&progress](int done, int total) {
        progress.setMaximum(total);
        progress.setValue(done);
        QApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.reset();
    csv.close(); // closing writes what is buffered: its failure counts too
    QString failure = result.error;
    if (failure.isEmpty() && csv.error() != QFileDevice::NoError)
        failure = QStringLiteral("не удалось записать файл %1: %2").arg(QDir::toNativeSeparators(target), csv.errorString());

    if (result.cancelled || !failure.isEmpty()) {
        if (IsRegularFile(target))
            RemoveFile(target); // half an export is no export
    }
    if (result.cancelled)
        return;
    if (!failure.isEmpty()) {
        messages.Show(ErrorMessage(QStringLiteral("Экспорт не удался: ") + failure, kCaption));
        return;
    }
    QString text = QStringLiteral("Показаний: %1 из %2 файлов данных\nв файле %3")
                       .arg(result.rows)
                       .arg(result.dataFiles)
                       .arg(QDir::toNativeSeparators(target));
    if (!result.Skipped()) {
        messages.Show(InformationMessage(text, kCaption));
        return;
    }
    text += QStringLiteral("\n\nПропущено как повреждённое:");
    for (qsizetype i = 0; i < result.problems.size() && i < 10; ++i) {
        const ExportProblem &problem = result.problems[i];
        text += QStringLiteral("\n%1%2: %3")
                    .arg(problem.file,
                         problem.line > 0 ? QStringLiteral(", строка %1").arg(problem.line) : QString(), problem.what);
    }
    if (result.problems.size() > 10)
        text += QStringLiteral("\n… и ещё %1").arg(result.problems.size() - 10);
    messages.Show(WarningMessage(text, kCaption));
}
