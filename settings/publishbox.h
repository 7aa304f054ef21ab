#pragma once

#include "messageseam.h"
#include "publishsettings.h"

#include <QGroupBox>

#include <optional>

class QCheckBox;
class QLineEdit;
class QSpinBox;

// The settings dialog's group "Публикация (MQTT)": the broker the readings go
// to (an empty host is off), its credentials, the station's name and topic,
// and the outbox's size.
class PublishBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit PublishBox(QWidget *parent = nullptr);

    void Show(const PublishSettings &settings);
    // What an empty station name stands for, as a hint in its box.
    void SetDefaultStationName(const QString &name);
    // The settings as the boxes hold them; none when one cannot be used,
    // whose notice is then in `notice` and whose box has the focus.
    std::optional<PublishSettings> Take(Message *notice) const;

private:
    PublishSettings m_shown;
    QLineEdit *m_pHost;
    QSpinBox *m_pPort;
    QCheckBox *m_pTls;
    QLineEdit *m_pCaFile;
    QLineEdit *m_pUser;
    QLineEdit *m_pPassword;
    QLineEdit *m_pStation;
    QLineEdit *m_pTopic;
    QSpinBox *m_pOutbox;
};
