#pragma once

#include <QWidget>

class MessageSeam;
class QDialog;
class QLabel;
class QPushButton;

// One line under the main dialog's controls: a raised alarm in red, with
// "Квитировать" to acknowledge it (the operator is asked for a reason, which
// may be left empty), or else the run's state; and "Отметка"
// (also F2) to mark a moment of the run, with a text the operator is asked
// for (through the message seam).
class RunLine : public QWidget
{
    Q_OBJECT

public:
    RunLine(MessageSeam &messages, QWidget *parent = nullptr);

    // Puts the line under the dialog's controls, which keep their places:
    // the dialog grows by the line's height.
    static RunLine *AddUnder(QDialog &dialog, MessageSeam &messages);

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
    // The operator acknowledged the alarm shown, for `reason` (may be empty).
    void AcknowledgeClicked(const QString &reason);
    // A mark made at `utcMs` (the press), with the text given (may be empty).
    void Marked(qint64 utcMs, const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Shows `text` in the alarm's or the state's style; nothing is redone
    // when neither changed.
    void Show(const QString &text);
    // The text as far as the line holds it ("…" where it ends), whole in the tooltip.
    void Fit();
    void AskForMark();
    void AskToAcknowledge();

    MessageSeam &m_messages;
    QLabel *m_pText;
    QPushButton *m_pAcknowledge;
    QPushButton *m_pMark;
    QString m_strState;
    QString m_strShown; // the whole text the line stands for
    bool m_bAlarm = false;
    bool m_bStyledAsAlarm = false; // the style the label has now
};
