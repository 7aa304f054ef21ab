#include "devicebox.h"
#include "dialogtemplate.h"
#include "scriptedmessages.h"
#include "settingsdlg.h"
#include "settingsstore.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

class TestSettingsDlg : public QObject
{
    Q_OBJECT

private slots:
    void confirm_data();
    void confirm();
    void cancelKeepsTheOpeningCorrections();
    void devicesAreChosenOrTyped();
    void stableNamesComeFirst();
    void alarmLimitsTypedAndKept_data();
    void alarmLimitsTypedAndKept();
};

void TestSettingsDlg::confirm_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("typed"); // empty: leave what the dialog shows
    QTest::addColumn<bool>("chooseCom2");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("resultBaudRate");
    QTest::addColumn<int>("resultPort");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("accepted");

    const QString unknown = QStringLiteral("Неизвестная ошибка");
    QTest::newRow("300 is shown as 9600") << 300 << 1 << "" << false << "600" << "9600" << 9600 << 1 << "" << true;
    QTest::newRow("57600 chosen") << 9600 << 1 << "57600" << true << "600" << "9600" << 57600 << 2 << "" << true;
    QTest::newRow("-5 accepted") << 9600 << 1 << "-5" << false << "60" << "9600" << -5 << 1 << "" << true;
    QTest::newRow("-5 replaced when shown") << -5 << 1 << "" << false << "60" << "9600" << 9600 << 1 << "" << true;
    QTest::newRow("port 3 opens as COM1") << 115200 << 3 << "" << false << "1" << "115200" << 115200 << 1 << "" << true;
    QTest::newRow("trailing blanks are forgiven") << 9600 << 2 << "19200 \t" << true << "1" << "9600" << 19200 << 2 << ""
                                                  << true;
    QTest::newRow("9600 baud: error, port not taken")
        << 9600 << 1 << "9600 baud" << true << "300" << "9600" << 9600 << 1 << unknown << true;
    QTest::newRow("leading zero: error") << 9600 << 1 << "019200" << true << "300" << "9600" << 19200 << 1 << unknown
                                         << true;
    QTest::newRow("no digits: rate 0") << 9600 << 1 << "fast" << false << "300" << "9600" << 0 << 1 << unknown << true;
    QTest::newRow("empty interval refused") << 9600 << 1 << "" << false << "" << "9600" << 9600 << 1
                                            << "Введите целое число." << false;
    // The timer counts milliseconds in 32 bits: 2147483 s is the longest interval.
    const QString range = QStringLiteral("Введите целое число от 1 до 2147483.");
    QTest::newRow("interval 0 refused") << 9600 << 1 << "" << false << "0" << "9600" << 9600 << 1 << range << false;
    QTest::newRow("interval -5 refused") << 9600 << 1 << "" << false << "-5" << "9600" << 9600 << 1 << range << false;
    QTest::newRow("the longest interval") << 9600 << 1 << "" << false << "2147483" << "9600" << 9600 << 1 << "" << true;
    QTest::newRow("an interval too long to time") << 9600 << 1 << "" << false << "2147484" << "9600" << 9600 << 1 << range
                                                  << false;
    QTest::newRow("an integer of any length is one") << 9600 << 1 << "" << false << "99999999999999" << "9600" << 9600 << 1
                                                     << range << false;
}

void TestSettingsDlg::confirm()
{
    QFETCH(int, baudRate);
    QFETCH(int, port);
    QFETCH(QString, typed);
    QFETCH(bool, chooseCom2);
    QFETCH(QString, interval);
    QFETCH(QString, message);
    QFETCH(bool, accepted);

    ScriptedMessages messages;
    CSettingsDlg dialog(messages);
    dialog.m_nBaudRate = baudRate;
    dialog.m_nPort = port;
    dialog.show();
    auto *rate = TemplateControl<QComboBox>(&dialog, 1007);
    QTEST(rate->currentText(), "shown");
    QCOMPARE(TemplateControl<QRadioButton>(&dialog, 1011)->isChecked(), dialog.m_nPort == 1);

    if (!typed.isEmpty())
        rate->setEditText(typed);
    if (chooseCom2)
        TemplateControl<QRadioButton>(&dialog, 1012)->setChecked(true);
    TemplateControl<QLineEdit>(&dialog, 1028)->setText(interval);
    QTest::mouseClick(TemplateControl<QWidget>(&dialog, 1), Qt::LeftButton);

    QTEST(dialog.m_nBaudRate, "resultBaudRate");
    QTEST(dialog.m_nPort, "resultPort");
    QCOMPARE(messages.shown.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QCOMPARE(messages.shown[0].text, message);
    QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
    QCOMPARE(dialog.isVisible(), !accepted);
    if (accepted)
        QCOMPARE(dialog.m_nSaveInterval, interval.toInt());
}

void TestSettingsDlg::cancelKeepsTheOpeningCorrections()
{
    ScriptedMessages messages;
    CSettingsDlg dialog(messages);
    dialog.m_nBaudRate = 300;
    dialog.m_nPort = 7;
    dialog.m_nSaveInterval = 42;
    dialog.show();
    TemplateControl<QComboBox>(&dialog, 1007)->setEditText(QStringLiteral("57600"));
    QTest::mouseClick(TemplateControl<QWidget>(&dialog, 2), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.m_nBaudRate, 9600);
    QCOMPARE(dialog.m_nPort, 1);
    QCOMPARE(dialog.m_nSaveInterval, 42);
}

void TestSettingsDlg::devicesAreChosenOrTyped()
{
#ifdef Q_OS_WIN
    QSKIP("COM ports are themselves on Windows");
#endif
    ScriptedMessages messages;
    CSettingsDlg dialog(messages);
    dialog.m_strPortDevice1 = QStringLiteral("/dev/pts/3");
    dialog.m_strPortDevice2 = QStringLiteral("/dev/ttyUSB0");
    QList<DeviceBox *> boxes = dialog.findChildren<DeviceBox *>();
    QCOMPARE(boxes.size(), 2);
    std::sort(boxes.begin(), boxes.end(), [](auto *a, auto *b) { return a->y() < b->y(); });
    const QString adapter = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    for (DeviceBox *box : boxes)
        box->SetLister([&] { return QList<SerialDeviceChoice> {{QStringLiteral("/dev/ttyS0"), QString()}, {adapter, QStringLiteral("FTDI")}}; });

    for (const bool confirm : {false, true}) {
        dialog.show();
        QCOMPARE(boxes[0]->currentText(), QStringLiteral("/dev/pts/3"));
        QCOMPARE(boxes[1]->currentText(), QStringLiteral("/dev/ttyUSB0"));
        boxes[0]->showPopup(); // looks again, and offers the adapter by its stable name
        QCOMPARE(boxes[0]->findText(adapter), 1);
        // The list is as wide as its longest name, however narrow the box.
        QVERIFY2(boxes[0]->view()->window()->width() >= boxes[0]->view()->fontMetrics().horizontalAdvance(adapter),
                 qPrintable(QStringLiteral("%1 pixels for %2").arg(boxes[0]->view()->window()->width())
                                .arg(boxes[0]->view()->fontMetrics().horizontalAdvance(adapter))));
        boxes[0]->setCurrentIndex(1);
        boxes[0]->hidePopup();
        boxes[1]->lineEdit()->selectAll();
        QTest::keyClicks(boxes[1]->lineEdit(), QStringLiteral("/dev/ttyACM1"));
        if (confirm)
            dialog.accept();
        else
            dialog.reject();
        QCOMPARE(dialog.m_strPortDevice1, confirm ? adapter : QStringLiteral("/dev/pts/3"));
        QCOMPARE(dialog.m_strPortDevice2, confirm ? QStringLiteral("/dev/ttyACM1") : QStringLiteral("/dev/ttyUSB0"));
        if (confirm)
            break;
    }
}

void TestSettingsDlg::stableNamesComeFirst()
{
    QTemporaryDir byId;
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), byId.filePath(QStringLiteral("usb-Maker_Adapter_0042-if00"))));
    QVERIFY(QFile::link(byId.filePath(QStringLiteral("gone")), byId.filePath(QStringLiteral("usb-Pulled-if00"))));
    const QList<SerialDeviceChoice> choices = ListSerialDevices(byId.path());
    QVERIFY(!choices.isEmpty());
    QCOMPARE(choices[0].path, byId.filePath(QStringLiteral("usb-Maker_Adapter_0042-if00")));
    QVERIFY2(choices[0].description.contains(QStringLiteral("/dev/null")), qPrintable(choices[0].description));
    for (const SerialDeviceChoice &choice : choices)
        QVERIFY(!choice.path.contains(QStringLiteral("Pulled"))); // a link whose device is gone is not offered
}

void TestSettingsDlg::alarmLimitsTypedAndKept_data()
{
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QString>("message"); // empty: taken
    QTest::newRow("a limit, a rate with a decimal comma") << "1500" << "2,5" << "2" << "";
    QTest::newRow("empty is off") << "" << "" << "0" << "";
    QTest::newRow("no number") << "hot" << "" << "2" << "Введите число от -300 до 10000 или оставьте поле пустым.";
    QTest::newRow("beyond any instrument") << "20000" << "" << "2" << "Введите число от -300 до 10000 или оставьте поле пустым.";
    QTest::newRow("a delay cannot be off") << "1500" << "" << "" << "Введите число от 0 до 3600.";
}

// The group "Сигнализация": what is typed is taken or refused with its range,
// and the settings store keeps it (an empty limit as no key at all).
void TestSettingsDlg::alarmLimitsTypedAndKept()
{
    QFETCH(QString, high);
    QFETCH(QString, rate);
    QFETCH(QString, delay);
    QFETCH(QString, message);
    ScriptedMessages messages;
    CSettingsDlg dialog(messages);
    AlarmLimits shown;
    shown.low = 100;
    dialog.m_alarmLimits = shown;
    dialog.show();
    auto *group = dialog.findChild<QGroupBox *>();
    QVERIFY(group);
    QCOMPARE(group->title(), QStringLiteral("Сигнализация"));
    const QList<QLineEdit *> edits = group->findChildren<QLineEdit *>(); // high, low, rate, window, hysteresis, delay, silence
    QCOMPARE(edits.size(), 7);
    QCOMPARE(edits[1]->text(), QStringLiteral("100"));
    edits[0]->setText(high);
    edits[2]->setText(rate);
    edits[5]->setText(delay);
    dialog.accept();
    QCOMPARE(messages.shown.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        QCOMPARE(messages.shown[0].text, message);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.m_alarmLimits, shown);
        return;
    }
    AlarmLimits expected = shown;
    expected.high = high.isEmpty() ? std::nullopt : std::optional<double>(high.toDouble());
    expected.rate = rate.isEmpty() ? std::nullopt : std::optional<double>(QString(rate).replace(',', '.').toDouble());
    expected.delaySeconds = delay.toDouble();
    QCOMPARE(dialog.m_alarmLimits, expected);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("settings.conf"));
    SettingsStore store(file);
    QVERIFY(store.SaveAlarmLimits(dialog.m_alarmLimits));
    QCOMPARE(store.LoadAlarmLimits(), expected);
    QCOMPARE(QSettings(file, QSettings::IniFormat).contains(QStringLiteral("AlarmHigh")), !high.isEmpty());
}

QTEST_MAIN(TestSettingsDlg)
#include "tst_settingsdlg.moc"
