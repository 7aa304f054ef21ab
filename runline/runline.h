#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// One line under the main dialog's controls: a raised alarm in red, with
// "Квитировать" to acknowledge it, or else the run's state; and "Отметка"
// (also F2) to mark a moment of the run.
class RunLine : public QWidget
{
    Q_OBJECT

public:
    explicit RunLine(QWidget *parent = nullptr);

    // An alarm's text in red, with the acknowledgement offered while
    // `unacknowledged`; an empty text shows the state instead.
    void ShowAlarm(const QString &text, bool unacknowledged);
    void ShowState(const QString &text);
    // Marks can be made during a run only.
    void SetRunning(bool running);

    // The whole text, and as much of it as the line shows.
    QString Text() const;
    QString ShownText() const;
    bool ShowsAlarm() const { return m_bAlarm; }
    QPushButton *AcknowledgeButton() const { return m_pAcknowledge; }
    QPushButton *MarkButton() const { return m_pMark; }

signals:
    void AcknowledgeClicked();
    void MarkClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The text as far as the line holds it ("…" where it ends), whole in the tooltip.
    void Fit();

    QLabel *m_pText;
    QPushButton *m_pAcknowledge;
    QPushButton *m_pMark;
    QString m_strState;
    QString m_strShown; // the whole text the line stands for
    bool m_bAlarm = false;
};
