#pragma once

#include "alarmlimits.h"
#include "publishsettings.h"
#include "websettings.h"

#include <QDialog>

class QLabel;
class AlarmLimitsBox;
class PageBox;
class PublishBox;
class DeviceBox;
class MessageSeam;

// The settings dialog: port (COM1/COM2), baud rate and saving interval. The
// main dialog keeps one for its whole life; its members are the settings
// themselves, so confirming it changes them in place.
class CSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSettingsDlg(MessageSeam &messages, QWidget *parent = nullptr);

    int m_nBaudRate = 9600;
    int m_nPort = 1;
    QString m_strBaudRate = QStringLiteral("9600");
    int m_nSaveInterval = 600;
    QString m_strDataBits;
    QString m_strParity;
    // The devices that COM1 and COM2 stand for (chosen or typed beside the
    // port choice where there are no COM ports).
    QString m_strPortDevice1 = QStringLiteral("/dev/ttyS0");
    QString m_strPortDevice2 = QStringLiteral("/dev/ttyS1");
    // The alarms' limits, in the group "Сигнализация" under the controls.
    AlarmLimits m_alarmLimits;
    PublishSettings m_publishSettings;
    WebSettings m_webSettings;

    // Moves the members into the controls (false) or takes them from the
    // controls (true). Taking fails when the interval box holds no integer: the
    // user is told, the box gets the focus back.
    bool DoDataExchange(bool bSaveAndValidate);

    void accept() override; // OnOK
    // What an empty station name stands for (a second instrument's "<host>-<name>").
    void SetDefaultStationName(const QString &name);
    // The fingerprint of the station's signing key, shown at the dialog's foot
    // (empty: no key yet), and the line as shown.
    void SetKeyFingerprint(const QString &fingerprint);
    QString KeyText() const;

protected:
    void showEvent(QShowEvent *event) override; // OnShowWindow

private:
    void OnShowWindow();
    void OnOK();

    MessageSeam &m_messages;
    AlarmLimitsBox *m_pAlarms = nullptr;
    PublishBox *m_pPublish = nullptr;
    PageBox *m_pPage = nullptr;
    QLabel *m_pKey = nullptr;
    DeviceBox *m_pDevice1 = nullptr;
    DeviceBox *m_pDevice2 = nullptr;
};
