#pragma once

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
// stale (its process is gone, or, from another computer, it was not renewed
// for ten minutes) and takes the folder over.
class RecordFolderLock : public QObject
{
    Q_OBJECT

public:
    static const QString kFileName;

    RecordFolderLock();
    ~RecordFolderLock() override;

    // False only when a running program holds the folder. A folder where no
    // lock can be made (read-only, say) is not held: its saves will fail and
    // say so, as they always did.
    bool Take(const QString &folder);
    void Release();

private:
    void Renew();
    QString LockableFolder(const QString &folder);

    std::unique_ptr<QLockFile> m_lock;
    QString m_strPath;
    QTimer m_renewTimer;
    int m_nFolderFd = -1; // the folder's handle, where its name needs one
};
