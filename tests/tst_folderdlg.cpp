// The record-folder chooser in real temporary folders, alone and from the
// main dialog's folder button.
#include "dialogtemplate.h"
#include "folderdlg.h"
#include "instrumentsimulator.h"
#include "nativefs.h"
#include "nativename.h"
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "subfoldername.h"
#include "thermodlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QDate kDay(2006, 12, 8);

// Creates the entries: a name ending in "/" is a folder, others are files.
void MakeEntries(const QString &folder, const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (entry.endsWith(QLatin1Char('/'))) {
            QDir(folder).mkpath(entry.chopped(1));
        } else {
            QFile file(QDir(folder).filePath(entry));
            file.open(QIODevice::WriteOnly);
        }
    }
}

QString Here()
{
    return QDir::current().canonicalPath();
}

QString Canonical(const QString &path)
{
    return QDir(path).canonicalPath();
}

void DoubleClick(CFolderDlg &chooser, const QString &entry)
{
    auto *list = TemplateControl<QListWidget>(&chooser, 1014);
    const QList<QListWidgetItem *> found = list->findItems(entry, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(entry + QStringLiteral(" is not listed")));
    list->setCurrentItem(found.first());
    emit list->itemDoubleClicked(found.first());
}

} // namespace

class TestFolderDlg : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void subfolderNames_data();
    void subfolderNames();
    void allNamesTakenDisablesTheSubfolder();
    void navigationRecomputesTheName();
    void doubleClickDiscardsATypedName();
    void folderListLeavesOutHiddenAndIgnoresCase();
    void okWithATypedNameCreatesAndEntersIt();
    void creatingAFolder_data();
    void creatingAFolder();
    void driveThatCannotBeEntered();

    void chooserOpensInTheBaseFolder_data();
    void chooserOpensInTheBaseFolder();
    void cancelReturnsToTheStartFolder();
    void okComposesThePathWithTheSubfolder();
    void runKeepsWritingWhereItStartedWhileBrowsing();
    void newChoiceOfTheSameFolderAsksAgain();
    void folderNamedInAnOldEncodingIsChosenStoredAndRecordedTo();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedMessages m_messages;
};

void TestFolderDlg::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_messages = ScriptedMessages();
}

void TestFolderDlg::cleanup()
{
    QDir::setCurrent(QDir::tempPath());
}

void TestFolderDlg::subfolderNames_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("name");

    QTest::newRow("none") << QStringList {} << "061208A0";
    QTest::newRow("A0, A1") << QStringList {"061208A0/", "061208A1/"} << "061208A2";
    QTest::newRow("A9") << QStringList {"061208A9/"} << "061208B0";
    QTest::newRow("B3 and A7, in any order") << QStringList {"061208B3/", "061208A7/"} << "061208B4";
    QTest::newRow("XYZ after the prefix") << QStringList {"061208XYZ/"} << "061208A1";
    QTest::newRow("just the six digits") << QStringList {"061208/"} << "061208A1";
    QTest::newRow("lower-case c5 counts as C5") << QStringList {"061208c5/"} << "061208C6";
    QTest::newRow("a file counts like a folder") << QStringList {"061208D2"} << "061208D3";
    QTest::newRow("Z5") << QStringList {"061208Z5/"} << "061208Z6";
    QTest::newRow("another day's names") << QStringList {"061207K4/", "071208B1/"} << "061208A0";
}

void TestFolderDlg::subfolderNames()
{
    QFETCH(QStringList, entries);
    MakeEntries(m_dir->path(), entries);
    const SubfolderProposal proposal = ProposeSubfolderName(m_dir->path(), kDay);
    QTEST(proposal.name, "name");
    QVERIFY(proposal.usable);
    QCOMPARE(ProposeSubfolderName(m_dir->filePath(QStringLiteral("missing")), kDay).name, kSearchFailed);
}

void TestFolderDlg::allNamesTakenDisablesTheSubfolder()
{
    MakeEntries(m_dir->path(), {QStringLiteral("061208Z9/")});
    CFolderDlg chooser(m_messages);
    chooser.m_today = [] { return kDay; };
    chooser.show();
    QCOMPARE(chooser.m_strSubfolderName, QStringLiteral("******"));
    auto *check = TemplateControl<QCheckBox>(&chooser, 1019);
    QVERIFY(!check->isChecked());
    QVERIFY(!check->isEnabled());
    QCOMPARE(TemplateControl<QLineEdit>(&chooser, 1021)->text(), QStringLiteral("******"));
}

void TestFolderDlg::navigationRecomputesTheName()
{
    MakeEntries(m_dir->path(), {QStringLiteral("061208B1/"), QStringLiteral("data/061208A4/")});
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("data"))));
    CFolderDlg chooser(m_messages);
    chooser.m_today = [] { return kDay; };
    chooser.show();
    QCOMPARE(chooser.m_strSubfolderName, QStringLiteral("061208A5"));

    DoubleClick(chooser, QStringLiteral("[..]"));
    QCOMPARE(Here(), Canonical(m_dir->path()));
    QCOMPARE(chooser.m_strSubfolderName, QStringLiteral("061208B2"));
    QVERIFY(TemplateControl<QListWidget>(&chooser, 1014)->findItems(QStringLiteral("[data]"), Qt::MatchExactly).size() == 1);

    DoubleClick(chooser, QStringLiteral("[data]"));
    QCOMPARE(Here(), Canonical(m_dir->filePath(QStringLiteral("data"))));
    QCOMPARE(chooser.m_strSubfolderName, QStringLiteral("061208A5"));
    QCOMPARE(chooser.m_strCurDir, QDir::toNativeSeparators(QDir::currentPath()));
}

void TestFolderDlg::folderListLeavesOutHiddenAndIgnoresCase()
{
    MakeEntries(m_dir->path(), {QStringLiteral("b/"), QStringLiteral("A/"), QStringLiteral("C/"),
                                QStringLiteral(".hidden/"), QStringLiteral("file")});
    CFolderDlg chooser(m_messages);
    chooser.show();
    auto *list = TemplateControl<QListWidget>(&chooser, 1014);
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown << list->item(i)->text();
    QCOMPARE(shown, (QStringList {"[..]", "[A]", "[b]", "[C]"}));
}

void TestFolderDlg::doubleClickDiscardsATypedName()
{
    MakeEntries(m_dir->path(), {QStringLiteral("sub/")});
    CFolderDlg chooser(m_messages);
    chooser.show();
    TemplateControl<QLineEdit>(&chooser, 1017)->setText(QStringLiteral("typed"));
    DoubleClick(chooser, QStringLiteral("[sub]"));
    QCOMPARE(TemplateControl<QLineEdit>(&chooser, 1017)->text(), QString());
}

void TestFolderDlg::okWithATypedNameCreatesAndEntersIt()
{
    CFolderDlg chooser(m_messages);
    chooser.m_today = [] { return kDay; };
    chooser.show();
    TemplateControl<QLineEdit>(&chooser, 1017)->setText(QStringLiteral("data2"));
    QTest::mouseClick(TemplateControl<QWidget>(&chooser, 1), Qt::LeftButton);
    QCOMPARE(chooser.result(), int(QDialog::Accepted));
    QCOMPARE(Here(), Canonical(m_dir->filePath(QStringLiteral("data2"))));
    QCOMPARE(chooser.m_strSubfolderName, QStringLiteral("061208A0")); // still the one of the folder before
}

void TestFolderDlg::creatingAFolder_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("message");
    QTest::newRow("new name") << "fresh" << false;
    QTest::newRow("existing folder") << "old" << true;
    QTest::newRow("empty edit does nothing") << "" << false;
}

void TestFolderDlg::creatingAFolder()
{
    QFETCH(QString, typed);
    QFETCH(bool, message);
    MakeEntries(m_dir->path(), {QStringLiteral("old/")});
    CFolderDlg chooser(m_messages);
    chooser.show();
    TemplateControl<QLineEdit>(&chooser, 1017)->setText(typed);
    chooser.OnCreateFolder();
    QCOMPARE(m_messages.shown.size(), message ? 1 : 0);
    if (message)
        QVERIFY(m_messages.shown[0].text.startsWith(QStringLiteral("Не удалось создать папку.")));
    QCOMPARE(Here(), Canonical(m_dir->path())); // the current folder does not change
    QCOMPARE(TemplateControl<QLineEdit>(&chooser, 1017)->text(), typed);
    if (!typed.isEmpty())
        QCOMPARE(TemplateControl<QListWidget>(&chooser, 1014)->findItems(QLatin1Char('[') + typed + QLatin1Char(']'),
                                                                        Qt::MatchExactly).size(), 1);
}

void TestFolderDlg::driveThatCannotBeEntered()
{
    CFolderDlg chooser(m_messages);
    chooser.show();
    auto *drives = TemplateControl<QComboBox>(&chooser, 1018);
    QVERIFY(drives->count() > 0);
    const QString missing = m_dir->filePath(QStringLiteral("gone"));
    drives->addItem(QStringLiteral("[-") + missing + QStringLiteral("-]"));
    drives->setCurrentIndex(drives->count() - 1);
    chooser.OnSelendokDrive();
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(m_messages.shown[0].text, QStringLiteral("Не могу сменить диск на ") + missing);
    QCOMPARE(m_messages.shown[0].caption, QString());
    QCOMPARE(Here(), Canonical(m_dir->path()));
}

void TestFolderDlg::chooserOpensInTheBaseFolder_data()
{
    QTest::addColumn<QString>("folder"); // relative to the temporary folder; "~" for an empty path
    QTest::addColumn<QString>("opensIn");
    QTest::newRow("dated subfolder with a separator") << "data/061208A2/" << "data";
    QTest::newRow("plain folder") << "data" << "data";
    QTest::newRow("empty path: the home folder") << "~" << "~";
}

void TestFolderDlg::chooserOpensInTheBaseFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, opensIn);
    MakeEntries(m_dir->path(), {QStringLiteral("data/061208A2/")});
    const QString settingsFile = m_dir->filePath(QStringLiteral("settings.conf"));
    const SettingsStore store(settingsFile);
    CThermoDlg dialog(m_messages, store, m_dir->filePath(QStringLiteral("journal")));
    dialog.m_strFolder = folder == QStringLiteral("~") ? QString() : m_dir->filePath(folder);
    dialog.DoDataExchange(false);
    QString openedIn;
    m_messages.prompt = [&](QDialog &) {
        openedIn = Here();
        return int(QDialog::Rejected);
    };
    dialog.OnChooseFolder();
    QCOMPARE(openedIn, opensIn == QStringLiteral("~") ? Canonical(QDir::homePath()) : Canonical(m_dir->filePath(opensIn)));
}

void TestFolderDlg::cancelReturnsToTheStartFolder()
{
    MakeEntries(m_dir->path(), {QStringLiteral("data/elsewhere/")});
    const SettingsStore store(m_dir->filePath(QStringLiteral("settings.conf")));
    CThermoDlg dialog(m_messages, store, m_dir->filePath(QStringLiteral("journal")));
    dialog.m_strFolder = m_dir->filePath(QStringLiteral("data"));
    dialog.DoDataExchange(false);
    m_messages.prompt = [&](QDialog &) {
        QDir::setCurrent(m_dir->filePath(QStringLiteral("data/elsewhere"))); // the user browsed away
        return int(QDialog::Rejected);
    };
    dialog.OnChooseFolder();
    QCOMPARE(Here(), Canonical(m_dir->filePath(QStringLiteral("data"))));
    QCOMPARE(Canonical(dialog.m_strFolder), Canonical(m_dir->filePath(QStringLiteral("data"))));
    QVERIFY(!dialog.m_bFolderStarted);
}

void TestFolderDlg::okComposesThePathWithTheSubfolder()
{
    MakeEntries(m_dir->path(), {QStringLiteral("data/061208A0/")});
    const QString settingsFile = m_dir->filePath(QStringLiteral("settings.conf"));
    const SettingsStore store(settingsFile);
    CThermoDlg dialog(m_messages, store, m_dir->filePath(QStringLiteral("journal")));
    dialog.m_strFolder = m_dir->filePath(QStringLiteral("old"));
    dialog.DoDataExchange(false);
    for (bool subfolder : {true, false}) {
        m_messages.prompt = [&](QDialog &prompt) {
            auto &chooser = static_cast<CFolderDlg &>(prompt);
            chooser.m_today = [] { return kDay; };
            QDir::setCurrent(m_dir->filePath(QStringLiteral("data")));
            chooser.show();
            TemplateControl<QCheckBox>(&chooser, 1019)->setChecked(subfolder);
            chooser.accept();
            return chooser.result();
        };
        dialog.OnChooseFolder();
        const QString data = QDir::toNativeSeparators(QDir(m_dir->filePath(QStringLiteral("data"))).absolutePath());
        QCOMPARE(Canonical(QFileInfo(dialog.m_strFolder).path()), subfolder ? Canonical(data) : Canonical(m_dir->path()));
        if (subfolder)
            QVERIFY(dialog.m_strFolder.endsWith(QDir::separator() + QStringLiteral("061208A1")));
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("data/061208A1")))); // created only at Start
    }
}

void TestFolderDlg::runKeepsWritingWhereItStartedWhileBrowsing()
{
    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    MakeEntries(m_dir->path(), {QStringLiteral("run/"), QStringLiteral("browsed/")});
    const QString settingsFile = m_dir->filePath(QStringLiteral("settings.conf"));
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("SavingPath"), m_dir->filePath(QStringLiteral("run")));
        settings.setValue(QStringLiteral("TimeBetweenSaving"), 300);
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
        settings.setValue(QStringLiteral("BaudRate"), 115200);
    }
    const SettingsStore store(settingsFile);
    CThermoDlg dialog(m_messages, store, m_dir->filePath(QStringLiteral("journal")));
    dialog.accept();
    QVERIFY(dialog.IsRunning());
    QVERIFY(simulator.Write(InstrumentSimulator::EncodeFrame(20.0) + InstrumentSimulator::EncodeFrame(21.0)));
    QTest::qWait(200);

    bool wrote = false;
    m_messages.prompt = [&](QDialog &prompt) {
        QDir::setCurrent(m_dir->filePath(QStringLiteral("browsed")));
        prompt.show();
        wrote = simulator.Write(InstrumentSimulator::EncodeFrame(22.0));
        QTest::qWait(200);
        dialog.OnSavingTick(); // a saving tick while the chooser is open elsewhere
        return int(QDialog::Rejected);
    };
    dialog.OnChooseFolder();
    QVERIFY(wrote);
    dialog.OnStop();

    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("run/0000"))));
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("run/dirinfo"))));
    QVERIFY(QDir(m_dir->filePath(QStringLiteral("browsed"))).isEmpty());
}

void TestFolderDlg::newChoiceOfTheSameFolderAsksAgain()
{
    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    MakeEntries(m_dir->path(), {QStringLiteral("run/")});
    const QString settingsFile = m_dir->filePath(QStringLiteral("settings.conf"));
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("SavingPath"), m_dir->filePath(QStringLiteral("run")));
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
    }
    const SettingsStore store(settingsFile);
    CThermoDlg dialog(m_messages, store, m_dir->filePath(QStringLiteral("journal")));
    dialog.accept();
    QVERIFY(simulator.Write(InstrumentSimulator::EncodeFrame(20.0)));
    QTest::qWait(200);
    dialog.OnStop();
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("run/0000"))));

    m_messages.prompt = [&](QDialog &prompt) {
        auto &chooser = static_cast<CFolderDlg &>(prompt);
        QDir::setCurrent(m_dir->filePath(QStringLiteral("run")));
        chooser.show();
        TemplateControl<QCheckBox>(&chooser, 1019)->setChecked(false);
        chooser.accept();
        return chooser.result();
    };
    dialog.OnChooseFolder();
    m_messages.answers = {QMessageBox::Yes};
    dialog.accept();
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(m_messages.shown[0].caption, QStringLiteral("Предупреждение"));
    QVERIFY(dialog.IsRunning());
    QVERIFY(simulator.Write(InstrumentSimulator::EncodeFrame(30.0)));
    QTest::qWait(200);
    dialog.OnStop();
    QFile first(m_dir->filePath(QStringLiteral("run/0000")));
    QVERIFY(first.open(QIODevice::ReadOnly));
    QVERIFY(first.readAll().endsWith(" 30\r\n")); // numbering started again at 0000
}

void TestFolderDlg::folderNamedInAnOldEncodingIsChosenStoredAndRecordedTo()
{
    // "Данные" made under CP1251: bytes that are no UTF-8.
    const QByteArray data = QFile::encodeName(m_dir->filePath(QStringLiteral("data")));
    const QByteArray legacy = data + "/\xc4\xe0\xed\xed\xfb\xe5";
    QCOMPARE(::mkdir(data.constData(), 0777), 0);
    QCOMPARE(::mkdir(legacy.constData(), 0777), 0);
    const QString chosen = FromNativeName(legacy);
    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    const QString settingsFile = m_dir->filePath(QStringLiteral("settings.conf"));
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("SavingPath"), QFile::decodeName(data));
        settings.setValue(QStringLiteral("TimeBetweenSaving"), 300);
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
        settings.setValue(QStringLiteral("BaudRate"), 115200);
    }
    const SettingsStore store(settingsFile);
    CThermoDlg dialog(m_messages, store, m_dir->filePath(QStringLiteral("journal")));

    m_messages.prompt = [&](QDialog &prompt) {
        auto &chooser = static_cast<CFolderDlg &>(prompt);
        chooser.show();
        DoubleClick(chooser, QLatin1Char('[') + FromNativeName("\xc4\xe0\xed\xed\xfb\xe5") + QLatin1Char(']'));
        TemplateControl<QCheckBox>(&chooser, 1019)->setChecked(false);
        chooser.accept();
        return chooser.result();
    };
    dialog.OnChooseFolder();
    QCOMPARE(dialog.m_strFolder, chosen);

    dialog.accept();
    QVERIFY(dialog.IsRunning());
    std::string frames;
    for (int i = 0; i < 3; ++i)
        frames += InstrumentSimulator::EncodeFrame(900.0 + i);
    QVERIFY(simulator.Write(frames));
    QTest::qWait(200);
    dialog.OnStop();

    struct stat info {};
    QCOMPARE(::stat((legacy + "/dirinfo").constData(), &info), 0);
    QFile saved;
    QVERIFY(OpenNamedFile(saved, chosen + QStringLiteral("/0000"), QIODevice::ReadOnly));
    QCOMPARE(saved.readAll().count('\n'), 4); // the header and three readings

    // Stored as it is: a fresh store reads the same folder back (a copy of
    // the file, as QSettings caches files by name within a process).
    const QString copy = m_dir->filePath(QStringLiteral("copy.conf"));
    QVERIFY(QFile::copy(settingsFile, copy));
    ThermoSettings loaded;
    SettingsStore(copy).LoadSettings(loaded, m_messages);
    QCOMPARE(loaded.strFolder, chosen);
}

QTEST_MAIN(TestFolderDlg)
#include "tst_folderdlg.moc"
