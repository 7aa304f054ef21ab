#pragma once

#include "alarmlimits.h"
#include "messageseam.h"

#include <QGroupBox>

#include <optional>

class QCheckBox;
class QLineEdit;

// The settings dialog's group "Сигнализация": the alarms' limits, each in an
// edit box (an empty box is off), and the sound.
class AlarmLimitsBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit AlarmLimitsBox(QWidget *parent = nullptr);

    void Show(const AlarmLimits &limits);
    // The limits as the boxes hold them; none when a box holds no number of
    // its range, whose notice is then in `notice` and whose box has the focus.
    std::optional<AlarmLimits> Take(Message *notice) const;

private:
    struct Field
    {
        QLineEdit *edit;
        double lowest;
        double highest;
        bool emptyIsOff;
    };
    static std::optional<double> Number(const QString &text, bool *ok);

    QLineEdit *m_pHigh;
    QLineEdit *m_pLow;
    QLineEdit *m_pRate;
    QLineEdit *m_pWindow;
    QLineEdit *m_pHysteresis;
    QLineEdit *m_pDelay;
    QLineEdit *m_pSilence;
    QCheckBox *m_pSound;
};
