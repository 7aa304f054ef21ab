#include "runline.h"

#include "dialogtemplate.h"
#include "messageseam.h"

#include <QDateTime>
#include <QDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QEvent>
#include <QShortcut>

RunLine::RunLine(MessageSeam &messages, QWidget *parent)
    : QWidget(parent)
    , m_messages(messages)
    , m_pText(new QLabel(this))
    , m_pAcknowledge(new QPushButton(QStringLiteral("Квитировать"), this))
    , m_pMark(new QPushButton(QStringLiteral("Отметка"), this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pText, 1);
    layout->addWidget(m_pAcknowledge);
    layout->addWidget(m_pMark);
    m_pText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pText->installEventFilter(this);
    m_pAcknowledge->setVisible(false);
    m_pAcknowledge->setAutoDefault(false);
    m_pMark->setAutoDefault(false);
    m_pMark->setEnabled(false);
    m_pMark->setToolTip(QStringLiteral("Отметить этот момент сеанса (F2)"));
    connect(m_pAcknowledge, &QPushButton::clicked, this, &RunLine::AskToAcknowledge);
    connect(m_pMark, &QPushButton::clicked, this, &RunLine::AskForMark);
    // F2 anywhere in the window the line belongs to.
    auto *markKey = new QShortcut(QKeySequence(Qt::Key_F2), parent ? parent : this);
    connect(markKey, &QShortcut::activated, m_pMark, [this] {
        if (m_pMark->isEnabled())
            AskForMark();
    });
}

RunLine *RunLine::AddUnder(QDialog &dialog, MessageSeam &messages)
{
    auto *line = new RunLine(messages, &dialog);
    const int lineHeight = line->sizeHint().height();
    const int margin = DialogUnitsToPixels(&dialog, QRect(0, 0, 7, 7)).width();
    line->setGeometry(margin, dialog.height(), dialog.width() - 2 * margin, lineHeight);
    dialog.setFixedSize(dialog.width(), dialog.height() + lineHeight + margin / 2);
    return line;
}

void RunLine::AskForMark()
{
    if (!m_pMark->isEnabled())
        return;
    // The moment is the press; the text may take the operator a while.
    const qint64 at = QDateTime::currentMSecsSinceEpoch();
    QInputDialog prompt(window());
    prompt.setWindowTitle(QStringLiteral("Отметка"));
    prompt.setLabelText(QStringLiteral("Текст отметки (можно оставить пустым):"));
    prompt.setTextValue(QString());
    const QString text = m_messages.Exec(prompt) == QDialog::Accepted ? prompt.textValue().trimmed() : QString();
    emit Marked(at, text);
}

void RunLine::AskToAcknowledge()
{
    QInputDialog prompt(window());
    prompt.setWindowTitle(QStringLiteral("Квитировать"));
    prompt.setLabelText(QStringLiteral("Причина (можно оставить пустой):"));
    prompt.setTextValue(QString());
    // Cancel leaves the alarm unacknowledged.
    if (m_messages.Exec(prompt) == QDialog::Accepted)
        emit AcknowledgeClicked(prompt.textValue().simplified().left(200));
}

void RunLine::ShowAlarm(const QString &text, bool unacknowledged)
{
    m_bAlarm = !text.isEmpty();
    m_pAcknowledge->setVisible(m_bAlarm && unacknowledged);
    Show(m_bAlarm ? text : m_strState);
}

void RunLine::ShowState(const QString &text)
{
    m_strState = text;
    if (!m_bAlarm)
        Show(text);
}

void RunLine::Show(const QString &text)
{
    // A style sheet is parsed and the label polished again each time one is
    // set: only when the line turns from state to alarm or back.
    const bool restyled = m_bAlarm != m_bStyledAsAlarm;
    if (restyled) {
        m_pText->setStyleSheet(m_bAlarm ? QStringLiteral("color: rgb(220, 0, 0); font-weight: bold;") : QString());
        m_bStyledAsAlarm = m_bAlarm;
    }
    if (!restyled && text == m_strShown)
        return;
    m_strShown = text;
    Fit();
}

bool RunLine::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_pText && event->type() == QEvent::Resize)
        Fit();
    return QWidget::eventFilter(watched, event);
}

void RunLine::Fit()
{
    // The label takes the room the buttons leave, whatever its text.
    m_pText->ensurePolished();
    const QString fitted =
        m_pText->fontMetrics().elidedText(m_strShown, Qt::ElideRight, std::max(m_pText->contentsRect().width(), 0));
    m_pText->setText(fitted);
    m_pText->setToolTip(fitted == m_strShown ? QString() : m_strShown);
}

void RunLine::SetRunning(bool running)
{
    m_pMark->setEnabled(running);
}

QString RunLine::Text() const
{
    return m_strShown;
}

QString RunLine::ShownText() const
{
    return m_pText->text();
}
