#include "settingsdlg.h"

#include "dialogtemplate.h"
#include "integertext.h"
#include "messageseam.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace {

constexpr int kTemplateId = 129;
constexpr int kBaudRateBox = 1007;
constexpr int kCom1 = 1011;
constexpr int kCom2 = 1012;
constexpr int kDataBitsBox = 1022;
constexpr int kParityBox = 1023;
constexpr int kIntervalEdit = 1028;

} // namespace

CSettingsDlg::CSettingsDlg(MessageSeam &messages, QWidget *parent)
    : QDialog(parent)
    , m_messages(messages)
{
    BuildFromTemplate(this, Template(kTemplateId));
#ifndef Q_OS_WIN
    // Where there are no COM ports, say which device each port stands for.
    const auto deviceLabel = [this](const QRect &units) {
        auto *label = new QLabel(this);
        label->setGeometry(DialogUnitsToPixels(this, units));
        label->setEnabled(false);
        return label;
    };
    m_pDevice1 = deviceLabel(QRect(19, 39, 53, 8));
    m_pDevice2 = deviceLabel(QRect(19, 77, 53, 8));
#endif
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
            m_pDevice1->setText(m_strPortDevice1);
            m_pDevice1->setToolTip(m_strPortDevice1);
            m_pDevice2->setText(m_strPortDevice2);
            m_pDevice2->setToolTip(m_strPortDevice2);
        }
        return true;
    }
    m_strBaudRate = baudRate->currentText();
    int savingInterval = 0;
    if (!ParseWholeInteger(interval->text(), &savingInterval)) {
        m_messages.Show(IntegerNotice());
        interval->setFocus();
        interval->selectAll();
        return false;
    }
    m_nSaveInterval = savingInterval;
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
