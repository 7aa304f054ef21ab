#pragma once

#include "chainline.h"

#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// A station's "chain.csv" in the collector's folder: every line of its record
// folders' chains that the station published, each once, in the order heard
// (see WitnessFile). A line heard again (sent twice by the broker, or a whole
// chain published again after a recovery) is not written again; a folder's
// line 1 that differs from the one held starts that folder's chain afresh.
class ChainWitness
{
public:
    explicit ChainWitness(QString stationFolder) : m_strFolder(std::move(stationFolder)) {}

    static constexpr qsizetype kMaxFolders = 100000;

    // Takes one line (signed by the key it carries); false when it was held already or, with `failed`,
    // could not be written (the file is cut back to its last whole line).
    bool Add(const QString &folder, const ChainLine &line, bool *failed);

private:
    bool Load();

    QString m_strFolder;
    bool m_bLoaded = false;
    QHash<QString, std::vector<QByteArray>> m_chains; // each folder's current chain, by line number
};
