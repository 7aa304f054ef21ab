#include "aboutdlg.h"

#include "dialogtemplate.h"

#include <QLabel>

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent)
{
    BuildFromTemplate(this, Template(100));
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText); // shown as it stands, no ampersand processing
}
