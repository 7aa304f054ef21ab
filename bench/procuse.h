#pragma once
// What /proc says of another process, for figures that measure a program
// beside its peer.
#include <QByteArray>
#include <QDir>
#include <QFile>

// What /proc says of a process's threads: CPU time and the times a thread
// gave up the CPU to wait (each ends in a wake-up), summed, or for the threads
// named `onlyThread`.
struct ProcessUse
{
    double cpuSeconds = 0;
    long long switches = 0;

    ProcessUse operator-(const ProcessUse &earlier) const
    {
        return {cpuSeconds - earlier.cpuSeconds, switches - earlier.switches};
    }
};

inline ProcessUse UseOf(qint64 pid, const QByteArray &onlyThread = {})
{
    ProcessUse use;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto read = [&](const char *name) {
            QFile file(tasks.filePath(task + QLatin1Char('/') + QLatin1String(name)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        if (!onlyThread.isEmpty() && read("comm").trimmed() != onlyThread)
            continue;
        use.cpuSeconds += read("schedstat").split(' ').value(0).toDouble() * 1e-9; // ns on a CPU
        for (const QByteArray &line : read("status").split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                use.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return use;
}
