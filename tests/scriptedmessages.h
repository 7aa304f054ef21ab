#pragma once

#include "messageseam.h"

#include <QList>
#include <QStringList>

#include <functional>

// Answers the program's message boxes in tests and keeps what they said.
class ScriptedMessages : public MessageSeam
{
public:
    QMessageBox::StandardButton Show(const Message &message) override
    {
        shown.append(message);
        if (whileShown)
            whileShown(message); // what happens while the box is open, before it is answered
        return answers.isEmpty() ? QMessageBox::Ok : answers.takeFirst();
    }

    // Answers a prompt; without one every prompt is cancelled.
    int Exec(QDialog &dialog) override
    {
        return prompt ? prompt(dialog) : int(QDialog::Rejected);
    }

    // Answers a file-name question; without an answer every one is cancelled.
    QString AskFileToSave(QWidget *, const QString &caption, const QString &suggested, const QString &) override
    {
        asked.append(caption);
        return fileToSave ? fileToSave(suggested) : QString();
    }

    QList<Message> shown;
    QStringList asked;
    std::function<QString(const QString &suggested)> fileToSave;
    QList<QMessageBox::StandardButton> answers;
    std::function<int(QDialog &)> prompt;
    std::function<void(const Message &)> whileShown;
};
