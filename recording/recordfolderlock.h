#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QLockFile;

// Holds a record folder for the run that records into it, so that a second
// program cannot start a run there and overwrite the first one's numbered
// files. The hold is a lock file ".calorivista.lock" inside the folder: a name
// that no reader of numbered data files picks up, and that programs on other
// computers recording into a shared folder see too. It goes away when the run
// ends. A program that crashed leaves it behind; the next Start finds it
// stale and takes the folder over: at once when it names a process of this
// computer that is gone, after a few seconds when it names nothing (a
// program that died while making it), and when it names another computer
// once this program has watched it go without renewal for ten minutes by its
// own clock (the other computer's clock may be anywhere).
class RecordFolderLock : public QObject
{
    Q_OBJECT

public:
    static const QString kFileName;

    RecordFolderLock();
    ~RecordFolderLock() override;

    enum class Hold {
        Held,
        HeldByOther, // a running program records there
        NotMade,     // no lock file can be made there (read-only, full): see Reason
    };
    Hold Take(const QString &folder);
    void Release();
    // Why the last Take could not make the lock.
    QString Reason() const { return m_strReason; }

private:
    void Renew();
    QString LockableFolder(const QString &folder);
    bool IsStale(const QString &path);
    qint64 UnrenewedForMs(const QString &path);

    struct Seen
    {
        QDateTime modified;
        QElapsedTimer since;
    };
    QHash<QString, Seen> m_seen; // other computers' locks, as this one watched them
    QString m_strReason;

    std::unique_ptr<QLockFile> m_lock;
    QString m_strPath;
    QTimer m_renewTimer;
    int m_nFolderFd = -1; // the folder's handle, where its name needs one
};
