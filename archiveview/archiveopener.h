#pragma once

#include "runcatalog.h"

#include <QString>
#include <QTemporaryDir>

#include <optional>

class MessageSeam;
class QWidget;

// Opens runs of the lab's archive for the run window: the operator chooses
// one (or it is named), and it is written with progress into a record folder
// of its own under a temporary folder that goes when the opener goes.
class ArchiveOpener
{
public:
    static constexpr int kRunsPerStation = 200;

    ArchiveOpener(RunCatalog &catalog, MessageSeam &messages);

    // Asks which run and fetches it: its folder, or none (cancelled, or said in a box).
    std::optional<QString> Choose(QWidget *parent);
    // The run of `station` that started at `run`; none, and said, when the archive has none.
    std::optional<QString> Fetch(const QString &station, qint64 run, QWidget *parent);

private:
    std::optional<QString> Fetch(const RunCatalog::Run &run, QWidget *parent);
    std::vector<RunCatalog::Run> Runs();

    RunCatalog &m_catalog;
    MessageSeam &m_messages;
    QTemporaryDir m_folder;
};
