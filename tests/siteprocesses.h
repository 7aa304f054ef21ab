#pragma once

// A lab's site for the tests: the real program as a station (with its first
// Start pressed for it) on a simulated instrument of its own, and the real
// collector, each a process the test starts, kills and starts again.
#include "instrumentsimulator.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <atomic>
#include <map>
#include <memory>
#include <thread>

// One station: its own home (settings, data folder), record folder and instrument.
class StationProcess
{
public:
    StationProcess(const QString &home, const QString &name, int brokerPort, int savingSeconds = 2)
        : m_home(home)
        , m_name(name)
    {
        QDir().mkpath(Records());
        QDir().mkpath(home + QStringLiteral("/config/Calorivista"));
        QString error;
        if (!m_simulator.OpenPseudoTerminal(&error))
            qWarning("%s", qPrintable(error));
        QSettings settings(home + QStringLiteral("/config/Calorivista/Calorivista.conf"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("PortNumber"), 1);
        settings.setValue(QStringLiteral("TimeBetweenSaving"), savingSeconds);
        settings.setValue(QStringLiteral("SavingPath"), Records());
        settings.setValue(QStringLiteral("PortDevice1"), m_simulator.DevicePath());
        settings.setValue(QStringLiteral("MqttHost"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("MqttPort"), brokerPort);
        settings.setValue(QStringLiteral("MqttStation"), name);
    }
    ~StationProcess()
    {
        StopSending();
        Kill();
    }

    QString Records() const { return m_home + QStringLiteral("/records"); }
    QString Data() const { return m_home + QStringLiteral("/data/Calorivista/Calorivista"); }
    QString Name() const { return m_name; }

    bool Start()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home + QStringLiteral("/data"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(m_home);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(CALORIVISTA_AUTOSTART), {});
        return m_process.waitForStarted();
    }
    // SIGTERM: the program stops its run as Close does, and ends.
    bool Stop()
    {
        m_process.terminate();
        return m_process.waitForFinished(30000) && m_process.exitStatus() == QProcess::NormalExit;
    }
    void Kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    void StartSending(int framesPerSecond, double from, double to, double seconds)
    {
        StopSending();
        m_stop = false;
        SimulatorOptions options;
        options.framesPerSecond = framesPerSecond;
        options.profile = TemperatureProfile::Ramp(from, to, seconds);
        m_sender = std::thread([this, options] { m_simulator.Run(options, m_stop); });
    }
    void StopSending()
    {
        m_stop = true;
        if (m_sender.joinable())
            m_sender.join();
    }

private:
    QString m_home;
    QString m_name;
    InstrumentSimulator m_simulator;
    QProcess m_process;
    std::atomic_bool m_stop {false};
    std::thread m_sender;
};

// The collector, with what it says on its standard output.
class CollectorProcess
{
public:
    CollectorProcess(QStringList arguments)
        : m_arguments(std::move(arguments))
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { m_said += m_process.readAllStandardOutput(); });
    }
    ~CollectorProcess() { Kill(); }

    bool Start()
    {
        m_process.start(QStringLiteral(CALORIVISTA_COLLECT), m_arguments);
        return m_process.waitForStarted();
    }
    void Kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    bool Stop()
    {
        m_process.terminate();
        return m_process.waitForFinished(30000) && m_process.exitCode() == 0;
    }
    QString Said() const { return QString::fromUtf8(m_said); }
    bool Running() const { return m_process.state() != QProcess::NotRunning; }
    int ExitCode() const { return m_process.exitCode(); }
    int Count(const QString &text) const { return int(Said().count(text)); }

private:
    QStringList m_arguments;
    QProcess m_process;
    QByteArray m_said;
};

// A run's readings as the collector's CSV has them, by seq: time and temperature.
struct ArchivedRun
{
    std::map<qint64, std::pair<qint64, double>> readings;
    qint64 rows = 0; // a seq twice shows as more rows than readings
};

inline ArchivedRun ReadArchivedRun(const QString &csv)
{
    ArchivedRun run;
    QFile file(csv);
    if (!file.open(QIODevice::ReadOnly))
        return run;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].trimmed().split(',');
        if (fields.size() != 5)
            continue;
        ++run.rows;
        const qint64 ms = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs).toMSecsSinceEpoch();
        run.readings[fields[4].toLongLong()] = {ms, fields[2].toDouble()};
    }
    return run;
}

// The archive's runs of a station: their CSVs, oldest first.
inline QStringList ArchivedRunFiles(const QString &folder)
{
    QStringList out;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name)) {
        bool number = false;
        name.chopped(4).toLongLong(&number);
        if (number)
            out.append(QDir(folder).filePath(name));
    }
    return out;
}

// Whether the archived run equals the station's data files, reading for reading.
inline QString ArchiveAgainstDataFiles(const ArchivedRun &archived, const QString &records)
{
    const QList<DataLine> lines = ReadDataFiles(records);
    if (archived.rows != qint64(archived.readings.size()))
        return QStringLiteral("%1 rows for %2 readings").arg(archived.rows).arg(archived.readings.size());
    if (qsizetype(archived.readings.size()) != lines.size())
        return QStringLiteral("%1 readings archived, %2 in the data files").arg(archived.readings.size()).arg(lines.size());
    qint64 seq = 0;
    for (const auto &[archivedSeq, reading] : archived.readings) {
        if (archivedSeq != seq)
            return QStringLiteral("seq %1 where %2 was due").arg(archivedSeq).arg(seq);
        const DataLine &line = lines[qsizetype(seq)];
        if (reading.first != line.msSinceEpoch || reading.second != line.temperature)
            return QStringLiteral("seq %1: %2 ms %3 °C archived, %4 ms %5 °C in the files")
                .arg(seq)
                .arg(reading.first)
                .arg(reading.second)
                .arg(line.msSinceEpoch)
                .arg(line.temperature);
        ++seq;
    }
    return QString();
}
