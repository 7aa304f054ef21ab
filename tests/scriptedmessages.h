#pragma once

#include "messageseam.h"

#include <QList>

// Answers the program's message boxes in tests and keeps what they said.
class ScriptedMessages : public MessageSeam
{
public:
    QMessageBox::StandardButton Show(const Message &message) override
    {
        shown.append(message);
        return answers.isEmpty() ? QMessageBox::Ok : answers.takeFirst();
    }

    QList<Message> shown;
    QList<QMessageBox::StandardButton> answers;
};
