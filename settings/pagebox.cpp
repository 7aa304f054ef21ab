#include "pagebox.h"

#include "qrcodeimage.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QSpinBox>

PageBox::PageBox(QWidget *parent)
    : QGroupBox(QStringLiteral("Веб-страница"), parent)
    , m_pPort(new QSpinBox(this))
    , m_pBind(new QLineEdit(this))
    , m_pAddress(new QLabel(this))
    , m_pCode(new QLabel(this))
{
    m_pPort->setRange(0, 65535);
    m_pPort->setSpecialValueText(QStringLiteral("выкл."));
    m_pPort->setToolTip(QStringLiteral("Порт страницы сеанса для браузеров сети (0: выключено)"));
    m_pBind->setPlaceholderText(QStringLiteral("все адреса компьютера"));
    m_pBind->setToolTip(QStringLiteral("IP-адрес, на котором ждать браузеры"));
    m_pAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pAddress->setWordWrap(true);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Порт страницы"), m_pPort);
    form->addRow(QStringLiteral("Адрес"), m_pBind);
    form->addRow(m_pAddress);
    auto *row = new QHBoxLayout(this);
    row->addLayout(form, 1);
    row->addWidget(m_pCode);
    connect(m_pPort, &QSpinBox::valueChanged, this, &PageBox::Refresh);
    connect(m_pBind, &QLineEdit::textChanged, this, &PageBox::Refresh);
}

void PageBox::Show(const WebSettings &settings)
{
    m_strToken = settings.token;
    m_pPort->setValue(settings.port);
    m_pBind->setText(settings.bind);
    Refresh();
}

WebSettings PageBox::Take() const
{
    WebSettings settings;
    settings.port = m_pPort->value();
    settings.bind = m_pBind->text().trimmed();
    if (settings.IsOn() && m_strToken.isEmpty())
        m_strToken = NewWebToken();
    settings.token = m_strToken;
    return settings;
}

QString PageBox::PageAddress(const WebSettings &settings)
{
    QString host = settings.bind;
    if (host.isEmpty() || host == QLatin1String("0.0.0.0")) {
        host = QStringLiteral("localhost");
        for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
                host = address.toString();
                break;
            }
        }
    } else if (host.contains(QLatin1Char(':'))) {
        host = QLatin1Char('[') + host + QLatin1Char(']');
    }
    return QStringLiteral("http://%1:%2/?token=%3").arg(host).arg(settings.port).arg(settings.token);
}

void PageBox::Refresh()
{
    const WebSettings settings = Take();
    if (!settings.IsOn()) {
        m_pAddress->setText(QStringLiteral("Страница выключена."));
        m_pCode->clear();
        return;
    }
    const QString address = PageAddress(settings);
    m_pAddress->setText(address);
    m_pCode->setPixmap(QPixmap::fromImage(QrCodeImage(address, 3)));
    m_pCode->setToolTip(address);
}
