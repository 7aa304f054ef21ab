#include "archiverunchooser.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString When(std::optional<qint64> utcMs)
{
    return utcMs ? QDateTime::fromMSecsSinceEpoch(*utcMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QString();
}

} // namespace

ArchiveRunChooser::ArchiveRunChooser(const std::vector<RunCatalog::Run> &runs, QWidget *parent)
    : QDialog(parent)
    , m_runs(runs)
    , m_pTree(new QTreeWidget)
{
    setWindowTitle(QStringLiteral("Записи архива"));
    m_pTree->setColumnCount(4);
    m_pTree->setHeaderLabels({QStringLiteral("Станция, начало"), QStringLiteral("Комментарий"), QStringLiteral("Показаний"),
                              QStringLiteral("Недостаёт")});
    QTreeWidgetItem *station = nullptr;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        const RunCatalog::Run &run = m_runs[i];
        if (!station || station->text(0) != run.station) {
            station = new QTreeWidgetItem(m_pTree, {run.station});
            station->setFlags(Qt::ItemIsEnabled);
            station->setExpanded(true);
        }
        QString missing;
        if (run.missing > 0)
            missing = QString::number(run.missing);
        if (run.lost > 0)
            missing += (missing.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("потеряно %1").arg(run.lost);
        auto *item = new QTreeWidgetItem(station, {When(run.started ? run.started : run.run), run.comment,
                                                   QString::number(run.readings.value_or(run.held)) + (run.stopped ? QString() : QStringLiteral(" (идёт)")),
                                                   missing});
        item->setData(0, Qt::UserRole, qulonglong(i));
    }
    m_pTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Open)->setText(QStringLiteral("Открыть"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    buttons->button(QDialogButtonBox::Open)->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pTree, &QTreeWidget::currentItemChanged, this, [this, buttons] {
        buttons->button(QDialogButtonBox::Open)->setEnabled(Chosen().has_value());
    });
    connect(m_pTree, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (Chosen())
            accept();
    });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pTree);
    layout->addWidget(buttons);
    resize(760, 480);
}

std::optional<RunCatalog::Run> ArchiveRunChooser::Chosen() const
{
    const QTreeWidgetItem *item = m_pTree->currentItem();
    if (!item || !item->parent())
        return std::nullopt;
    return m_runs[size_t(item->data(0, Qt::UserRole).toULongLong())];
}
