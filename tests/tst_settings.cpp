// The settings store against a real settings file in a temporary folder.
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstStartWritesTheDefaults();
    void valuesOfAnotherTypeAreReplaced_data();
    void valuesOfAnotherTypeAreReplaced();
    void numberStoredAsText_data();
    void numberStoredAsText();
    void storedValuesAreKept();
    void failingStoreWarnsAndGivesWhatItCan_data();
    void failingStoreWarnsAndGivesWhatItCan();
    void saveThenLoadRoundTrip_data();
    void saveThenLoadRoundTrip();
    void basePath_data();
    void basePath();
    void basePathRefusesEmptyPaths();

private:
    QString FreshFile();

    std::unique_ptr<QTemporaryDir> m_dir;
    int m_nFiles = 0;
};

void TestSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

// Each test its own file: QSettings caches files by name within a process.
QString TestSettings::FreshFile()
{
    return m_dir->filePath(QStringLiteral("Calorivista%1.conf").arg(++m_nFiles));
}

void TestSettings::firstStartWritesTheDefaults()
{
    const QString file = FreshFile();
    ScriptedMessages messages;
    ThermoSettings settings;
    SettingsStore(file).LoadSettings(settings, messages);

    QVERIFY(messages.shown.isEmpty());
    QCOMPARE(settings.nBaudRate, 9600);
    QCOMPARE(settings.nPort, 1);
    QCOMPARE(settings.nSaveInterval, 300);
    QCOMPARE(settings.strFolder, QString());
    QCOMPARE(settings.nMinT, 500);
    QCOMPARE(settings.nMaxT, 4500);
    QCOMPARE(settings.strPortDevice1, QStringLiteral("/dev/ttyS0"));
    QCOMPARE(settings.strPortDevice2, QStringLiteral("/dev/ttyS1"));

    const QSettings stored(file, QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("BaudRate")).toInt(), 9600);
    QCOMPARE(stored.value(QStringLiteral("PortNumber")).toInt(), 1);
    QCOMPARE(stored.value(QStringLiteral("TimeBetweenSaving")).toInt(), 300);
    QVERIFY(stored.contains(QStringLiteral("SavingPath")));
    QCOMPARE(stored.value(QStringLiteral("SavingPath")).toString(), QString());
    QCOMPARE(stored.value(QStringLiteral("MinT")).toInt(), 500);
    QCOMPARE(stored.value(QStringLiteral("MaxT")).toInt(), 4500);
    QCOMPARE(stored.value(QStringLiteral("PortDevice1")).toString(), QStringLiteral("/dev/ttyS0"));
}

void TestSettings::valuesOfAnotherTypeAreReplaced_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<QString>("storedAfter");

    QTest::newRow("text") << QByteArray("BaudRate=9600 baud") << 9600 << "9600";
    QTest::newRow("beyond 32 bits") << QByteArray("BaudRate=4294967296") << 9600 << "9600";
    QTest::newRow("a list") << QByteArray("BaudRate=1, 2") << 9600 << "9600";
    QTest::newRow("empty") << QByteArray("BaudRate=") << 9600 << "9600";
    QTest::newRow("negative number is a number") << QByteArray("BaudRate=-300") << -300 << "-300";
    QTest::newRow("a number") << QByteArray("BaudRate=115200") << 115200 << "115200";
}

void TestSettings::valuesOfAnotherTypeAreReplaced()
{
    QFETCH(QByteArray, line);
    const QString file = FreshFile();
    QFile raw(file);
    QVERIFY(raw.open(QIODevice::WriteOnly));
    raw.write("[General]\n" + line + "\n");
    raw.close();

    ScriptedMessages messages;
    ThermoSettings settings;
    SettingsStore(file).LoadSettings(settings, messages);
    QTEST(settings.nBaudRate, "baudRate");
    QTEST(QSettings(file, QSettings::IniFormat).value(QStringLiteral("BaudRate")).toString(), "storedAfter");
    QVERIFY(messages.shown.isEmpty());
}

void TestSettings::numberStoredAsText_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("storeKeepsTypes");
    QTest::addColumn<bool>("number");

    QTest::newRow("text in a settings file") << QVariant(QStringLiteral("9600")) << false << true;
    QTest::newRow("text in the registry is another type") << QVariant(QStringLiteral("9600")) << true << false;
    QTest::newRow("a number in the registry") << QVariant(9600) << true << true;
    QTest::newRow("a number in a settings file") << QVariant(9600) << false << true;
}

void TestSettings::numberStoredAsText()
{
    QFETCH(QVariant, value);
    QFETCH(bool, storeKeepsTypes);
    int number = 0;
    QTEST(SettingsStore::CountsAsNumber(value, storeKeepsTypes, &number), "number");
}

void TestSettings::storedValuesAreKept()
{
    const QString file = FreshFile();
    QFile raw(file);
    QVERIFY(raw.open(QIODevice::WriteOnly));
    raw.write("[General]\nBaudRate=19200\nPortNumber=3\nTimeBetweenSaving=0\nSavingPath=/data/\n"
              "MinT=900\nMaxT=100\nPortDevice1=/dev/pts/7\n");
    raw.close();

    ScriptedMessages messages;
    ThermoSettings settings;
    SettingsStore(file).LoadSettings(settings, messages);
    QCOMPARE(settings.nBaudRate, 19200);
    QCOMPARE(settings.nPort, 3);
    QCOMPARE(settings.nSaveInterval, 0);
    QCOMPARE(settings.strFolder, QStringLiteral("/data"));
    QCOMPARE(settings.nMinT, 900); // an unordered pair is kept as it is
    QCOMPARE(settings.nMaxT, 100);
    QCOMPARE(settings.strPortDevice1, QStringLiteral("/dev/pts/7"));
    QCOMPARE(settings.strPortDevice2, QStringLiteral("/dev/ttyS1"));
}

void TestSettings::failingStoreWarnsAndGivesWhatItCan_data()
{
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<QString>("folder");
    QTest::newRow("cannot be read: the defaults") << false << 9600 << QString();
    QTest::newRow("cannot be written: the stored values") << true << 19200 << "/data/run";
}

void TestSettings::failingStoreWarnsAndGivesWhatItCan()
{
    QFETCH(bool, readable);
    QFETCH(int, baudRate);
    QFETCH(QString, folder);
    const QString file = FreshFile();
    if (readable) {
        // Two values stored, the others missing; the disk then takes no more.
        QSettings stored(file, QSettings::IniFormat);
        stored.setValue(QStringLiteral("BaudRate"), 19200);
        stored.setValue(QStringLiteral("SavingPath"), QStringLiteral("/data/run"));
    } else {
        QVERIFY(QDir().mkpath(file)); // a folder where the settings file should be
    }
    const QByteArray before = readable ? [&] { QFile f(file); f.open(QIODevice::ReadOnly); return f.readAll(); }() : QByteArray();

    ScriptedMessages messages;
    ThermoSettings settings; // 600 s and chart limits 0 until loaded
    settings.nBaudRate = 4800;
    settings.strFolder = QStringLiteral("/earlier");
    {
        const FileSizeLimit full(0);
        SettingsStore(file).LoadSettings(settings, messages);
    }

    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown[0].text,
             QStringLiteral("Не удалось прочесть настройки из реестра \n \t\t\t\t\t\tвыставлены настройки по умолчанию"));
    QCOMPARE(messages.shown[0].caption, QStringLiteral("Предупреждение"));
    QCOMPARE(messages.shown[0].icon, QMessageBox::Warning);
    QCOMPARE(settings.nBaudRate, baudRate);
    QCOMPARE(settings.strFolder, folder);
    QCOMPARE(settings.nPort, 1);
    QCOMPARE(settings.nSaveInterval, 300);
    QCOMPARE(settings.nMinT, 500);
    QCOMPARE(settings.nMaxT, 4500);
    if (readable) {
        QFile after(file);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before); // the failed write-back left the file whole
    } else {
        QVERIFY2(!SettingsStore(file).SaveSettings(settings), "a save into a folder reported success");
    }
}

void TestSettings::saveThenLoadRoundTrip_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("loaded");

    QTest::newRow("generated subfolder is dropped") << "/data/261208B3" << "/data";
    QTest::newRow("empty stays empty") << "" << "";
    QTest::newRow("root stays root") << "/" << "/";
    QTest::newRow("Windows drive root") << "C:\\" << "C:";
    const QString longPath = QStringLiteral("/") + QString(300, QLatin1Char('x')) + QStringLiteral("/run");
    QTest::newRow("a long path is stored whole") << longPath << longPath;
    QTest::newRow("Cyrillic") << "/данные/печь" << "/данные/печь";
}

void TestSettings::saveThenLoadRoundTrip()
{
    QFETCH(QString, folder);
    const QString file = FreshFile();
    ThermoSettings saved;
    saved.nBaudRate = 57600;
    saved.nPort = 2;
    saved.nSaveInterval = 45;
    saved.strFolder = folder;
    saved.nMinT = -50;
    saved.nMaxT = 1800;
    saved.strPortDevice2 = QStringLiteral("/dev/ttyUSB0");
    QVERIFY(SettingsStore(file).SaveSettings(saved));

    ScriptedMessages messages;
    ThermoSettings loaded;
    SettingsStore(file).LoadSettings(loaded, messages);
    QVERIFY(messages.shown.isEmpty());
    QTEST(loaded.strFolder, "loaded");
    QCOMPARE(loaded.nBaudRate, 57600);
    QCOMPARE(loaded.nPort, 2);
    QCOMPARE(loaded.nSaveInterval, 45);
    QCOMPARE(loaded.nMinT, -50);
    QCOMPARE(loaded.nMaxT, 1800);
    QCOMPARE(loaded.strPortDevice2, QStringLiteral("/dev/ttyUSB0"));
}

void TestSettings::basePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("base");

    QTest::newRow("subfolder name") << "D:\\Data\\261208A0" << "D:\\Data\\";
    QTest::newRow("subfolder name and separator") << "D:\\Data\\261208A0\\" << "D:\\Data\\";
    QTest::newRow("trailing separator") << "D:\\Data\\" << "D:\\Data";
    QTest::newRow("plain folder") << "D:\\Data" << "D:\\Data";
    QTest::newRow("only a subfolder name") << "261208A0" << "";
    QTest::newRow("drive root") << "C:\\" << "C:";
    QTest::newRow("slashes") << "/home/op/data/261208z9/" << "/home/op/data/";
    QTest::newRow("one separator only") << "/home/op//" << "/home/op/";
    QTest::newRow("lower-case letter counts") << "/d/070101c5" << "/d/";
    QTest::newRow("seven digits before the letter") << "/d/x1261208A0" << "/d/x1";
    QTest::newRow("two letters") << "/d/26120AA0" << "/d/26120AA0";
    QTest::newRow("ends in a letter") << "/d/261208A" << "/d/261208A";
    QTest::newRow("non-ASCII letter") << "/d/261208Ж0" << "/d/261208Ж0";
}

void TestSettings::basePath()
{
    QFETCH(QString, path);
    QTEST(BasePath(path), "base");
}

void TestSettings::basePathRefusesEmptyPaths()
{
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, BasePath(QString()));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, BasePath(QStringLiteral("\\")));
    QCOMPARE(SettingsStore::RememberedFolder(QString()), QString());
    QCOMPARE(SettingsStore::RememberedFolder(QStringLiteral("/")), QStringLiteral("/"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
