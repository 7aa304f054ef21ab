#pragma once

#include "chainline.h"
#include "sha256.h"

#include <QHash>
#include <QString>

#include <optional>

class StationKey;

// The writer of a record folder's "calorivista.chain": each file entered
// gets a line with its size and SHA-256, chained to the line before and
// signed with the station's key. Every line is made durable as it is
// written; a line that cannot be written whole is cut back. A run going on
// in a folder appends to the chain its earlier runs left.
class RecordChain
{
public:
    static constexpr const char *kFileName = "calorivista.chain";

    // Takes up the chain of `folder` (absolute) where it ends; nothing is
    // written yet.
    void Open(const QString &folder);
    void Close();
    bool IsOpen() const { return !m_strFolder.isEmpty(); }
    QString Folder() const { return m_strFolder; }

    // Enters the folder's file `name` as it is now; with `onlyIfChanged` a
    // file whose last line still describes it is not entered again. The
    // line written, or none (unchanged, no such file, or it could not be
    // written: then `failed` is set).
    std::optional<ChainLine> Enter(const QString &name, const StationKey &key, bool onlyIfChanged, bool *failed = nullptr);

    qint64 Lines() const { return m_nLast; }

private:
    bool Append(const ChainLine &line);

    QString m_strFolder;
    qint64 m_nLast = 0;
    bool m_bTornEnd = false; // the file ends inside a line
    QByteArray m_lastChain = ChainLine::ChainStart();
    QHash<QString, FileDigest> m_entered; // each file's last line
};
