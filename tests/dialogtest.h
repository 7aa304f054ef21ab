#pragma once

// The main dialog on the simulated instrument on a pseudo-terminal, with a
// settings file and record folders in a temporary folder: what the dialog's
// test programs share.
#include "datafileformat.h"
#include "journalformat.h"
#include "dialogtemplate.h"
#include "framedecoder.h"
#include "instrumentsimulator.h"
#include "quitsignals.h"
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "thermodlg.h"
#include "runline.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtEndian>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QInputDialog>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace dialogtest {

inline constexpr int kStart = 1, kCancel = 2, kMinT = 1024, kTemperature = 1026, kStop = 1029;

// The temperatures that Send(count, first) puts on the line, as data files
// write them (six significant digits).
inline QList<double> Sent(int count, double first)
{
    QList<double> out;
    for (int i = 0; i < count; ++i)
        out.append(QByteArray::number(WireValue(first + i * 0.1), 'g', 6).toDouble());
    return out;
}

inline QPushButton *Button(QWidget *dialog, int id)
{
    return TemplateControl<QPushButton>(dialog, id);
}

} // namespace dialogtest

using namespace dialogtest;

class DialogTest : public QObject
{
    Q_OBJECT

protected:
    // A fresh temporary folder, simulated instrument and settings file for each test.
    void SetUp();
    void TearDown();
    void WriteSettings(const QString &device, int interval = 1, const QString &folder = QString());
    void MakeDialog();
    void Send(int frames, double first);
    QString Records() const { return m_dir->filePath(QStringLiteral("records")); }
    QString Journals() const { return m_dir->filePath(QStringLiteral("journal")); }
    JournalContents Journal() const;
    void BreakRecords() const;
    void MendRecords() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<InstrumentSimulator> m_sim;
    std::unique_ptr<ScriptedMessages> m_messages;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<CThermoDlg> m_dlg;
    QString m_settingsFile;
    int m_nSettingsFiles = 0;
    int m_nRings = 0; // the alarm sound's plays
};

inline void DialogTest::SetUp()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("start"))));
    QVERIFY(QDir().mkpath(Records()));
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("start"))));
    m_sim = std::make_unique<InstrumentSimulator>();
    QString error;
    QVERIFY2(m_sim->OpenPseudoTerminal(&error), qPrintable(error));
    m_messages = std::make_unique<ScriptedMessages>();
    WriteSettings(m_sim->DevicePath());
}

inline void DialogTest::TearDown()
{
    // A run still going ends with the dialog; the test's answers are gone by then.
    m_messages->prompt = nullptr;
    m_messages->whileShown = nullptr;
    m_dlg.reset();
    m_store.reset();
    m_sim.reset();
    QDir::setCurrent(QDir::tempPath());
}

// A fresh settings file each time: QSettings caches files by name.
inline void DialogTest::WriteSettings(const QString &device, int interval, const QString &folder)
{
    m_settingsFile = m_dir->filePath(QStringLiteral("settings%1.conf").arg(++m_nSettingsFiles));
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("BaudRate"), 115200);
    settings.setValue(QStringLiteral("PortNumber"), 1);
    settings.setValue(QStringLiteral("TimeBetweenSaving"), interval);
    settings.setValue(QStringLiteral("SavingPath"), folder.isEmpty() ? Records() : folder);
    settings.setValue(QStringLiteral("MinT"), 0);
    settings.setValue(QStringLiteral("MaxT"), 1000);
    settings.setValue(QStringLiteral("PortDevice1"), device);
    settings.sync();
}

inline void DialogTest::MakeDialog()
{
    m_store = std::make_unique<SettingsStore>(m_settingsFile);
    m_dlg = std::make_unique<CThermoDlg>(*m_messages, *m_store, Journals());
    m_nRings = 0;
    m_dlg->m_station.Bell().SetPlayer([this] { ++m_nRings; });
    m_dlg->show();
}

inline void DialogTest::Send(int frames, double first)
{
    std::string bytes;
    for (int i = 0; i < frames; ++i)
        bytes += InstrumentSimulator::EncodeFrame(first + i * 0.1);
    QVERIFY(m_sim->Write(bytes));
}

// The one journal of the run, read back.
inline JournalContents DialogTest::Journal() const
{
    const QStringList journals = QDir(Journals()).entryList({QStringLiteral("*.journal")}, QDir::Files);
    if (journals.size() != 1)
        return {};
    QFile file(QDir(Journals()).filePath(journals.first()));
    return file.open(QIODevice::ReadOnly) ? ReadJournal(file.readAll()) : JournalContents {};
}

// The run's folder moved aside, a plain file in its place: nothing can be
// written there (permissions would not stop the superuser).
inline void DialogTest::BreakRecords() const
{
    QDir().rename(Records(), Records() + QStringLiteral(".aside"));
    QFile plain(Records());
    plain.open(QIODevice::WriteOnly);
}

inline void DialogTest::MendRecords() const
{
    QFile::remove(Records());
    QDir().rename(Records() + QStringLiteral(".aside"), Records());
}
