#pragma once

#include "messageseam.h"

#include <QList>

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

    QList<Message> shown;
    QList<QMessageBox::StandardButton> answers;
    std::function<int(QDialog &)> prompt;
    std::function<void(const Message &)> whileShown;
};
