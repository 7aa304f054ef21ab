#pragma once

#include <QString>

// A notification on the desktop (org.freedesktop.Notifications on the session
// bus), marked critical so it stays until dismissed. Sent without waiting;
// where there is no bus or no notification service nothing happens.
void NotifyDesktop(const QString &title, const QString &text);
