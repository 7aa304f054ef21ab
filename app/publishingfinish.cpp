#include "publishingfinish.h"

#include "messageseam.h"
#include "station.h"

#include <QApplication>
#include <QProgressDialog>

namespace {

constexpr int kWaitMs = 10000;
constexpr int kBoxAfterMs = 300;

} // namespace

void FinishPublishing(Station &station, MessageSeam &messages, QWidget *owner, bool quiet)
{
    QProgressDialog progress(owner);
    progress.setWindowTitle(QStringLiteral("Calorivista"));
    progress.setCancelButtonText(QStringLiteral("Пропустить"));
    progress.setRange(0, 0);
    progress.setMinimumDuration(kBoxAfterMs);
    progress.setWindowModality(Qt::WindowModal);
    const qint64 left = station.Finish(kWaitMs, [&](qint64 pending) {
        if (!quiet) {
            progress.setLabelText(QStringLiteral("Передача показаний брокеру: в очереди %1 показ.").arg(pending));
            progress.setValue(0);
        }
        return !progress.wasCanceled();
    });
    progress.reset();
    if (left > 0 && !quiet) {
        messages.Show(InformationMessage(QStringLiteral("Показания (%1) не переданы брокеру. Они сохранены в очереди и будут "
                                                        "отправлены при следующем запуске программы.")
                                             .arg(left),
                                         QStringLiteral("Calorivista")));
    }
}
