#pragma once

#include "recordchain.h"
#include "stationkey.h"

#include <QObject>

#include <optional>

// A run's follower that keeps its record folder's chain: each data file as
// it is saved, and "events.csv" and the comment file "dirinfo" whenever they
// changed, at every save and at the run's end. The station's key is made in
// its data folder at the first run.
class RunChain : public QObject
{
    Q_OBJECT

public:
    explicit RunChain(const QString &dataFolder, QObject *parent = nullptr);

    // The key's fingerprint, making the key if there is none yet (empty when
    // it cannot be made).
    QString Fingerprint();
    // Its public half in hex, the same way (empty when there is no key).
    QByteArray PublicKeyHex();
    QString LastChain() const { return m_lastChain; }

    void Begin(const QString &folder);
    // A save wrote `file` (empty: it failed, and only the events may have changed).
    void Saved(const QString &file);
    void End();

signals:
    // A line was entered into the chain of `folder`.
    void Entered(const QString &folder, const ChainLine &line);
    // The chain cannot be kept: the operator is told once a run.
    void Failing(const QString &text);

private:
    const StationKey *Key();
    void EnterChanged();
    void Enter(const QString &name, bool onlyIfChanged);

    QString m_strDataFolder;
    std::optional<StationKey> m_key;
    RecordChain m_chain;
    QString m_lastChain;
    bool m_bFailureTold = false;
};
