#pragma once

#include "runcatalog.h"

#include <QDialog>

#include <optional>
#include <vector>

class QTreeWidget;

// "Записи архива": the stations of the lab's archive and their runs (start,
// comment, readings, what is still missing), one of which is chosen.
class ArchiveRunChooser : public QDialog
{
    Q_OBJECT

public:
    ArchiveRunChooser(const std::vector<RunCatalog::Run> &runs, QWidget *parent = nullptr);

    std::optional<RunCatalog::Run> Chosen() const;

private:
    std::vector<RunCatalog::Run> m_runs;
    QTreeWidget *m_pTree;
};
