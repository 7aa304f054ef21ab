#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>

// One message box as the program asks for it: the text, the caption (an empty
// caption leaves the title bar blank), the icon and the buttons offered.
struct Message
{
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// The program's boxes: an error (error icon), or a warning or question
// (exclamation icon); an empty caption leaves the title bar blank.
inline Message ErrorMessage(const QString &text, const QString &caption = QStringLiteral("Ошибка"))
{
    return Message {text, caption, QMessageBox::Critical, QMessageBox::Ok};
}

inline Message WarningMessage(const QString &text, const QString &caption = QString(),
                              QMessageBox::StandardButtons buttons = QMessageBox::Ok)
{
    return Message {text, caption, QMessageBox::Warning, buttons};
}

inline Message InformationMessage(const QString &text, const QString &caption)
{
    return Message {text, caption, QMessageBox::Information, QMessageBox::Ok};
}

// Every modal message box and prompt of the program passes through one MessageSeam, so
// that tests can answer them without a person. The program uses this class as
// it is; tests derive from it and answer from a script.
class MessageSeam
{
public:
    virtual ~MessageSeam() = default;

    // The window that boxes belong to when no prompt is open: the main dialog.
    // Boxes and prompts with a parent are modal to their window only.
    void SetOwner(QWidget *owner);

    // Shows the message modally and returns the button that closed it.
    virtual QMessageBox::StandardButton Show(const Message &message);

    // Runs a prompt (a dialog that asks for something) modally and returns its
    // result, QDialog::Accepted or QDialog::Rejected.
    virtual int Exec(QDialog &prompt);

    // Asks for the name of a file to write, with the system's standard file
    // dialog. Empty: the user cancelled.
    virtual QString AskFileToSave(QWidget *owner, const QString &caption, const QString &suggested,
                                  const QString &filter);

private:
    QPointer<QWidget> m_pOwner;
};
