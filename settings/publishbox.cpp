#include "publishbox.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSysInfo>

PublishBox::PublishBox(QWidget *parent)
    : QGroupBox(QStringLiteral("Публикация (MQTT)"), parent)
    , m_pHost(new QLineEdit(this))
    , m_pPort(new QSpinBox(this))
    , m_pTls(new QCheckBox(QStringLiteral("TLS"), this))
    , m_pCaFile(new QLineEdit(this))
    , m_pUser(new QLineEdit(this))
    , m_pPassword(new QLineEdit(this))
    , m_pStation(new QLineEdit(this))
    , m_pTopic(new QLineEdit(this))
    , m_pOutbox(new QSpinBox(this))
{
    auto *form = new QFormLayout(this);
    m_pHost->setPlaceholderText(QStringLiteral("пусто: не публиковать"));
    m_pHost->setToolTip(QStringLiteral("Брокер MQTT, куда идут все показания (имя или адрес)"));
    m_pPort->setRange(1, 65535);
    m_pCaFile->setPlaceholderText(QStringLiteral("пусто: центры системы"));
    m_pCaFile->setToolTip(QStringLiteral("Файл центра сертификации брокера (PEM), для TLS"));
    m_pPassword->setEchoMode(QLineEdit::Password);
    m_pStation->setPlaceholderText(QSysInfo::machineHostName());
    m_pStation->setToolTip(QStringLiteral("Имя этой печи в темах брокера"));
    m_pOutbox->setRange(16, 1024 * 1024);
    m_pOutbox->setSuffix(QStringLiteral(" МБ"));
    m_pOutbox->setToolTip(QStringLiteral("Сколько места на диске ждут показания, пока брокер недоступен"));
    form->addRow(QStringLiteral("Брокер"), m_pHost);
    form->addRow(QStringLiteral("Порт брокера"), m_pPort);
    form->addRow(m_pTls, m_pCaFile);
    form->addRow(QStringLiteral("Пользователь"), m_pUser);
    form->addRow(QStringLiteral("Пароль"), m_pPassword);
    form->addRow(QStringLiteral("Станция"), m_pStation);
    form->addRow(QStringLiteral("Тема"), m_pTopic);
    form->addRow(QStringLiteral("Очередь"), m_pOutbox);
    connect(m_pTls, &QCheckBox::toggled, m_pCaFile, &QWidget::setEnabled);
    // Room for a lab's broker name or a certificate's path without scrolling.
    const int wide = fontMetrics().horizontalAdvance(QLatin1Char('x')) * 32;
    for (QLineEdit *edit : {m_pHost, m_pCaFile, m_pStation})
        edit->setMinimumWidth(wide);
}

void PublishBox::SetDefaultStationName(const QString &name)
{
    m_pStation->setPlaceholderText(name);
}

void PublishBox::Show(const PublishSettings &settings)
{
    m_shown = settings;
    m_pHost->setText(settings.host);
    m_pPort->setValue(settings.port);
    m_pTls->setChecked(settings.tls);
    m_pCaFile->setText(settings.caFile);
    m_pCaFile->setEnabled(settings.tls);
    m_pUser->setText(settings.user);
    m_pPassword->setText(settings.password);
    m_pStation->setText(settings.station);
    m_pTopic->setText(settings.topic);
    m_pOutbox->setValue(settings.outboxMB);
}

std::optional<PublishSettings> PublishBox::Take(Message *notice) const
{
    // What the boxes do not show (the outbox's keep) stays as it was.
    PublishSettings settings = m_shown;
    settings.host = m_pHost->text().trimmed();
    settings.port = m_pPort->value();
    settings.tls = m_pTls->isChecked();
    settings.caFile = m_pCaFile->text().trimmed();
    settings.user = m_pUser->text();
    settings.password = m_pPassword->text();
    settings.station = m_pStation->text().trimmed();
    settings.topic = m_pTopic->text().trimmed();
    settings.outboxMB = m_pOutbox->value();
    // '+' and '#' are wildcards in MQTT: a topic with them can take no message.
    static const QRegularExpression wildcard(QStringLiteral("[+#]"));
    const auto refuse = [notice](QLineEdit *edit, const QString &text) {
        *notice = WarningMessage(text);
        edit->setFocus();
        edit->selectAll();
        return std::nullopt;
    };
    if (settings.topic.isEmpty() || settings.topic.contains(wildcard) || settings.topic.startsWith(QLatin1Char('/'))
        || settings.topic.endsWith(QLatin1Char('/')))
        return refuse(m_pTopic, QStringLiteral("Тема MQTT не может быть пустой, содержать \"+\" или \"#\", "
                                               "начинаться или кончаться на \"/\"."));
    if (settings.station.contains(wildcard) || settings.station.contains(QLatin1Char('/')))
        return refuse(m_pStation, QStringLiteral("Имя станции не может содержать \"/\", \"+\" или \"#\"."));
    return settings;
}
