#pragma once

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// The station's notification on the desktop (org.freedesktop.Notifications on
// the session bus), marked critical so it stays until dismissed. There is one
// at a time: a new one replaces the last (`replaces_id`), and it is withdrawn
// once the alarm is acknowledged and when the program ends, so no stale notice
// is left behind. Nothing is waited for; where there is no bus or no
// notification service nothing happens.
class DesktopNotice : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotice(QObject *parent = nullptr);
    ~DesktopNotice() override;

    void Show(const QString &title, const QString &text);
    void Withdraw();

    // The notification server's id of the notice shown; 0 while none is known.
    uint Id() const { return m_nId; }

private:
    void Send(const QString &title, const QString &text);
    void TakeReply(QDBusPendingCallWatcher *finished);
    void Close(uint id);

    uint m_nId = 0;
    QDBusPendingCallWatcher *m_pAwaited = nullptr; // a Notify call whose reply is still to come
    bool m_bWithdrawn = false;   // withdrawn while that reply was awaited
    bool m_bShowAgain = false;   // shown again meanwhile: sent once the id is known
    QString m_strTitle;
    QString m_strText;
};
