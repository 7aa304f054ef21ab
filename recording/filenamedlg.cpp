#include "filenamedlg.h"

#include "dialogtemplate.h"

#include <QLineEdit>

namespace {

constexpr int kTemplateId = 132;
constexpr int kNameEdit = 1027;

} // namespace

CFileNameDlg::CFileNameDlg(QWidget *parent)
    : QDialog(parent)
{
    BuildFromTemplate(this, Template(kTemplateId));
}

void CFileNameDlg::showEvent(QShowEvent *event)
{
    TemplateControl<QLineEdit>(this, kNameEdit)->setText(m_strFileName);
    QDialog::showEvent(event);
}

void CFileNameDlg::accept()
{
    m_strFileName = TemplateControl<QLineEdit>(this, kNameEdit)->text();
    QDialog::accept();
}
