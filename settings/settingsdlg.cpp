#include "settingsdlg.h"

#include "alarmlimitsbox.h"
#include "devicebox.h"
#include "dialogtemplate.h"
#include "integertext.h"
#include "pagebox.h"
#include "publishbox.h"
#include "messageseam.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <limits>

namespace {

constexpr int kTemplateId = 129;
constexpr int kBaudRateBox = 1007;
constexpr int kCom1 = 1011;
constexpr int kCom2 = 1012;
constexpr int kDataBitsBox = 1022;
constexpr int kParityBox = 1023;
constexpr int kIntervalEdit = 1028;
// The saving timer counts milliseconds in 32 bits; 0 s would be no interval.
constexpr int kShortestInterval = 1;
constexpr int kLongestInterval = std::numeric_limits<int>::max() / 1000;

} // namespace

CSettingsDlg::CSettingsDlg(MessageSeam &messages, QWidget *parent)
    : QDialog(parent)
    , m_messages(messages)
{
    BuildFromTemplate(this, Template(kTemplateId));
#ifndef Q_OS_WIN
    // Where there are no COM ports, each port's device is chosen under it,
    // inside the template's port frame.
    const auto deviceBox = [this](const QRect &units) {
        auto *box = new DeviceBox(this);
        box->setGeometry(DialogUnitsToPixels(this, units));
        return box;
    };
    m_pDevice1 = deviceBox(QRect(19, 39, 53, 12));
    m_pDevice2 = deviceBox(QRect(19, 77, 53, 12));
    setTabOrder(TemplateControl<QRadioButton>(this, kCom1), m_pDevice1);
    setTabOrder(TemplateControl<QRadioButton>(this, kCom2), m_pDevice2);
#endif
    // The alarms' and the publishing groups side by side under the template's
    // controls, which keep their places.
    m_pAlarms = new AlarmLimitsBox(this);
    m_pPublish = new PublishBox(this);
    const int margin = DialogUnitsToPixels(this, QRect(0, 0, 7, 7)).width();
    const QSize alarms = m_pAlarms->sizeHint();
    const QSize publish = m_pPublish->sizeHint();
    const int groupsHeight = std::max(alarms.height(), publish.height());
    const int publishWidth = std::max(publish.width(), width() - 3 * margin - alarms.width());
    m_pAlarms->setGeometry(margin, height(), alarms.width(), groupsHeight);
    m_pPublish->setGeometry(2 * margin + alarms.width(), height(), publishWidth, groupsHeight);
    // The web page's group under both, as wide as they are together.
    m_pPage = new PageBox(this);
    m_pPage->Show(WebSettings {1, QString(), QStringLiteral("0123456789abcdef0123456789abcdef")}); // its largest size
    const int pageHeight = m_pPage->sizeHint().height();
    const int groupsWidth = alarms.width() + publishWidth + margin;
    m_pPage->setGeometry(margin, height() + groupsHeight + margin / 2, groupsWidth, pageHeight);
    // The key that signs the record folders, under everything: what a lab
    // compares with its reports and its collector.
    m_pKey = new QLabel(this);
    m_pKey->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const int keyHeight = m_pKey->sizeHint().height();
    m_pKey->setGeometry(margin, height() + groupsHeight + pageHeight + margin, groupsWidth, keyHeight);
    SetKeyFingerprint(QString());
    setFixedSize(std::max(width(), groupsWidth + 2 * margin),
                 height() + groupsHeight + pageHeight + keyHeight + margin * 3 / 2 + margin / 2);
}

void CSettingsDlg::SetKeyFingerprint(const QString &fingerprint)
{
    m_pKey->setText(QStringLiteral("Ключ подписи записей: ")
                    + (fingerprint.isEmpty() ? QStringLiteral("не удалось прочесть или создать") : fingerprint));
}

QString CSettingsDlg::KeyText() const
{
    return m_pKey->text();
}

bool CSettingsDlg::DoDataExchange(bool bSaveAndValidate)
{
    auto *baudRate = TemplateControl<QComboBox>(this, kBaudRateBox);
    auto *interval = TemplateControl<QLineEdit>(this, kIntervalEdit);
    auto *dataBits = TemplateControl<QComboBox>(this, kDataBitsBox);
    auto *parity = TemplateControl<QComboBox>(this, kParityBox);
    if (!bSaveAndValidate) {
        baudRate->setEditText(m_strBaudRate);
        interval->setText(QString::number(m_nSaveInterval));
        dataBits->setCurrentText(m_strDataBits);
        parity->setCurrentText(m_strParity);
        if (m_pDevice1) {
            m_pDevice1->SetDevice(m_strPortDevice1);
            m_pDevice2->SetDevice(m_strPortDevice2);
        }
        m_pAlarms->Show(m_alarmLimits);
        m_pPublish->Show(m_publishSettings);
        m_pPage->Show(m_webSettings);
        return true;
    }
    m_strBaudRate = baudRate->currentText();
    int savingInterval = 0;
    if (const IntegerText read = ParseIntegerInRange(interval->text(), kShortestInterval, kLongestInterval, &savingInterval);
        read != IntegerText::InRange) {
        m_messages.Show(read == IntegerText::NotInteger ? IntegerNotice()
                                                        : IntegerRangeNotice(kShortestInterval, kLongestInterval));
        interval->setFocus();
        interval->selectAll();
        return false;
    }
    Message notice;
    const std::optional<AlarmLimits> alarms = m_pAlarms->Take(&notice);
    if (!alarms) {
        m_messages.Show(notice);
        return false;
    }
    const std::optional<PublishSettings> publish = m_pPublish->Take(&notice);
    if (!publish) {
        m_messages.Show(notice);
        return false;
    }
    m_alarmLimits = *alarms;
    m_publishSettings = *publish;
    m_webSettings = m_pPage->Take();
    m_nSaveInterval = savingInterval;
    if (m_pDevice1) {
        m_strPortDevice1 = m_pDevice1->Device();
        m_strPortDevice2 = m_pDevice2->Device();
    }
    m_strDataBits = dataBits->currentText();
    m_strParity = parity->currentText();
    return true;
}

void CSettingsDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    OnShowWindow();
}

void CSettingsDlg::OnShowWindow()
{
    if (m_nPort != 1 && m_nPort != 2)
        m_nPort = 1;
    if (m_nBaudRate < 600 || m_nBaudRate > 115200)
        m_nBaudRate = 9600;
    TemplateControl<QRadioButton>(this, m_nPort == 1 ? kCom1 : kCom2)->setChecked(true);
    m_strBaudRate = QString::number(m_nBaudRate);
    DoDataExchange(false);
}

void CSettingsDlg::SetDefaultStationName(const QString &name)
{
    m_pPublish->SetDefaultStationName(name);
}

void CSettingsDlg::accept()
{
    OnOK();
}

void CSettingsDlg::OnOK()
{
    if (!DoDataExchange(true))
        return; // the dialog stays open, no member changed
    // Trailing blanks and tabs are forgiven; anything else that does not read
    // back as the same number is not a rate.
    QString text = m_strBaudRate;
    while (text.endsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char('\t')))
        text.chop(1);
    m_strBaudRate = text;
    m_nBaudRate = LeadingInteger(text);
    if (QString::number(m_nBaudRate) != text) {
        m_messages.Show(ErrorMessage(QStringLiteral("Неизвестная ошибка")));
    } else {
        m_nPort = TemplateControl<QRadioButton>(this, kCom2)->isChecked() ? 2 : 1;
    }
    DoDataExchange(true);
    QDialog::accept();
}
