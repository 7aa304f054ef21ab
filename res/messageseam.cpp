#include "messageseam.h"

QMessageBox::StandardButton MessageSeam::Show(const Message &message)
{
    QMessageBox box(message.icon, message.caption, message.text, message.buttons);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

int MessageSeam::Exec(QDialog &prompt)
{
    return prompt.exec();
}
