// What the operator sees and does on the real dialog and the simulated
// instrument: the alarm line and its acknowledgement, the desktop's notices
// (a notification service on a session bus of the test's own), and the
// settings dialog reopened after a restart.
#include "dialogtest.h"
#include "fakenotifications.h"
#include "mosquittobroker.h"

#include <QGroupBox>
#include <QInputDialog>

class TestOperator : public DialogTest
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { SetUp(); }
    void cleanup() { TearDown(); }

    void newestAlarmShownFirstAndAcknowledgedAsShown();
    void settingsConfirmedAfterARestartKeepThePage();

private:
    FakeNotifications m_notices;
};

void TestOperator::initTestCase()
{
    QVERIFY2(m_notices.StartBus(), "no session bus for the notices (dbus-daemon)");
}

namespace {

// events.csv as "event text" lines, in order.
QStringList Events(const QString &folder)
{
    QFile file(QDir(folder).filePath(QStringLiteral("events.csv")));
    QStringList events;
    if (!file.open(QIODevice::ReadOnly))
        return events;
    for (const QByteArray &row : file.readAll().split('\n').mid(1)) {
        const QList<QByteArray> fields = row.trimmed().split(',');
        if (fields.size() >= 4)
            events << QString::fromUtf8(fields[1] + ' ' + fields[3]).trimmed();
    }
    return events;
}

} // namespace

// Above the limit, then the instrument's adapter pulled: the line shows the
// newest alarm first, "Квитировать" acknowledges exactly that one, and the
// one before it comes forward with its own button. The silence keeps the
// wording it was raised with when it clears. The desktop holds one notice,
// replaced for each alarm and withdrawn once nothing waits for acknowledgement.
void TestOperator::newestAlarmShownFirstAndAcknowledgedAsShown()
{
    const QString link = m_dir->filePath(QStringLiteral("usb-Instrument-if00"));
    QString error;
    QVERIFY2(m_sim->SetLink(link, &error), qPrintable(error));
    WriteSettings(link, 300);
    {
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("AlarmHigh"), 150);
        settings.setValue(QStringLiteral("AlarmDelay"), 0);
        settings.setValue(QStringLiteral("AlarmSilence"), 2);
    }
    MakeDialog();
    m_notices.open.clear();
    m_dlg->accept();
    RunLine *line = m_dlg->findChild<RunLine *>();
    Send(10, 160.0);
    QTRY_VERIFY_WITH_TIMEOUT(line->ShowsAlarm(), 3000);
    QVERIFY2(line->Text().startsWith(QStringLiteral("Выше 150 °C: 160.")) && !line->Text().contains(QStringLiteral("ещё")),
             qPrintable(line->Text()));
    QTRY_COMPARE(m_notices.open.size(), 1);
    QVERIFY(m_notices.open.first().startsWith(QStringLiteral("Выше 150 °C")));

    // The adapter goes: two seconds later the newer alarm leads the line and the notice.
    m_sim->HangUp();
    QTRY_VERIFY_WITH_TIMEOUT(line->Text().startsWith(QStringLiteral("Нет связи с прибором с ")), 6000);
    QVERIFY2(line->Text().endsWith(QStringLiteral("(и ещё 1)")), qPrintable(line->Text()));
    QTRY_VERIFY(m_notices.open.size() == 1 && m_notices.open.first().startsWith(QStringLiteral("Нет связи с прибором")));

    // It comes back below the limit: both clear, each with its own wording.
    QVERIFY2(m_sim->ComeBack(&error), qPrintable(error));
    QTest::qWait(1500); // the reader finds the device again
    Send(10, 120.0);
    QTRY_VERIFY_WITH_TIMEOUT(line->Text().contains(QStringLiteral(" · снято")), 5000);
    QTest::qWait(300);
    QVERIFY2(line->Text().startsWith(QStringLiteral("Нет связи с прибором с ")), qPrintable(line->Text()));

    // Acknowledged as shown: the silence first, then the limit, which now leads.
    // The reason asked for may be given or left empty; a cancelled prompt acknowledges nothing.
    QVERIFY(line->AcknowledgeButton()->isVisible());
    QTest::mouseClick(line->AcknowledgeButton(), Qt::LeftButton);
    QVERIFY(line->AcknowledgeButton()->isVisible());
    QVERIFY2(line->Text().startsWith(QStringLiteral("Нет связи с прибором с ")), qPrintable(line->Text()));
    QString reason = QStringLiteral("адаптер заменён");
    m_messages->prompt = [&reason](QDialog &dialog) {
        static_cast<QInputDialog &>(dialog).setTextValue(reason);
        return int(QDialog::Accepted);
    };
    QTest::mouseClick(line->AcknowledgeButton(), Qt::LeftButton);
    reason.clear();
    QVERIFY2(line->Text().startsWith(QStringLiteral("Выше 150 °C: 160.")) && line->Text().endsWith(QStringLiteral(" · снято")),
             qPrintable(line->Text()));
    QVERIFY(line->AcknowledgeButton()->isVisible());
    QVERIFY(m_dlg->m_station.Bell().IsRinging());
    QTRY_VERIFY(m_notices.open.size() == 1 && m_notices.open.first().startsWith(QStringLiteral("Выше 150 °C")));
    QTest::mouseClick(line->AcknowledgeButton(), Qt::LeftButton);
    QVERIFY(!line->ShowsAlarm());
    QVERIFY(!m_dlg->m_station.Bell().IsRinging());
    QTRY_VERIFY(m_notices.open.isEmpty());
    m_dlg->OnStop();

    const QStringList events = Events(Records());
    const QStringList expected {QStringLiteral("alarm-high Выше 150 °C"), QStringLiteral("alarm-silence Нет связи с прибором"),
                                QStringLiteral("alarm-clear Выше 150 °C"), QStringLiteral("alarm-clear Нет связи с прибором"),
                                QStringLiteral("alarm-ack Нет связи с прибором — адаптер заменён"), QStringLiteral("alarm-ack Выше 150 °C")};
    QStringList alarms;
    for (const QString &event : events)
        if (event.startsWith(QStringLiteral("alarm-")))
            alarms << event;
    QCOMPARE(alarms.mid(0, 2), expected.mid(0, 2));
    QCOMPARE(QSet<QString>(alarms.begin() + 2, alarms.begin() + 4), QSet<QString>(expected.begin() + 2, expected.begin() + 4));
    QCOMPARE(alarms.mid(4), expected.mid(4));
    QVERIFY(m_notices.shown >= 3);
}

// A page switched on in an earlier session: OK after changing only "Выше"
// keeps its port and token, and it still listens.
void TestOperator::settingsConfirmedAfterARestartKeepThePage()
{
    WriteSettings(m_sim->DevicePath(), 300);
    const int port = FreeLocalPort();
    {
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("WebPort"), port);
        settings.setValue(QStringLiteral("WebBind"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("WebToken"), QStringLiteral("5e1f0c0ffee"));
    }
    MakeDialog();
    QVERIFY(m_dlg->m_station.PageServer().IsListening());
    m_messages->prompt = [](QDialog &dialog) {
        dialog.show(); // the boxes show the settings as the dialog opens
        const QList<QGroupBox *> groups = dialog.findChildren<QGroupBox *>();
        for (QGroupBox *group : groups)
            if (group->title() == QStringLiteral("Сигнализация"))
                group->findChildren<QLineEdit *>().first()->setText(QStringLiteral("1450"));
        dialog.accept();
        return dialog.result();
    };
    m_dlg->OnSettings();
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("AlarmHigh")).toInt(), 1450);
    QCOMPARE(settings.value(QStringLiteral("WebPort")).toInt(), port);
    QCOMPARE(settings.value(QStringLiteral("WebToken")).toString(), QStringLiteral("5e1f0c0ffee"));
    QVERIFY(m_dlg->m_station.PageServer().IsListening());
    QCOMPARE(m_dlg->m_station.PageServer().Port(), port);
}

QTEST_MAIN(TestOperator)
#include "tst_operator.moc"
