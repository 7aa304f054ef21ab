#include "messageseam.h"

#include <QApplication>
#include <QFileDialog>

namespace {

// Qt gives a window with an empty title the application's name; a lone space
// keeps the title bar blank, as an empty caption asks.
QString TitleOf(const QString &caption)
{
    return caption.isEmpty() ? QStringLiteral(" ") : caption;
}

} // namespace

void MessageSeam::SetOwner(QWidget *owner)
{
    m_pOwner = owner;
}

QMessageBox::StandardButton MessageSeam::Show(const Message &message)
{
    // Over the prompt that is open, if any, else over the main dialog; modal
    // to that window alone, so the chart keeps taking clicks meanwhile.
    QWidget *parent = QApplication::activeModalWidget();
    if (!parent)
        parent = m_pOwner;
    QMessageBox box(message.icon, TitleOf(message.caption), message.text, message.buttons, parent);
    if (parent)
        box.setWindowModality(Qt::WindowModal);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString MessageSeam::AskFileToSave(QWidget *owner, const QString &caption, const QString &suggested,
                                   const QString &filter)
{
    return QFileDialog::getSaveFileName(owner, caption, suggested, filter);
}

int MessageSeam::Exec(QDialog &prompt)
{
    if (prompt.parentWidget())
        prompt.setWindowModality(Qt::WindowModal);
    return prompt.exec();
}
