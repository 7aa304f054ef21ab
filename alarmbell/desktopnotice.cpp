#include "desktopnotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// A notification server that does not answer within this is given up on.
constexpr int kReplyTimeoutMs = 2000;

QDBusMessage Call(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, method);
    call.setAutoStartService(false); // no service is started for it
    return call;
}

} // namespace

DesktopNotice::DesktopNotice(QObject *parent)
    : QObject(parent)
{
}

DesktopNotice::~DesktopNotice()
{
    // At the program's end a notice still being shown is closed too: its id
    // is waited for, briefly.
    if (m_pAwaited) {
        m_pAwaited->waitForFinished();
        m_bWithdrawn = true;
        TakeReply(m_pAwaited);
        return;
    }
    Withdraw();
}

void DesktopNotice::Show(const QString &title, const QString &text)
{
    m_strTitle = title;
    m_strText = text;
    m_bWithdrawn = false;
    if (m_pAwaited) {
        // Replacing needs the id of the one on screen: sent when it comes.
        m_bShowAgain = true;
        return;
    }
    Send(title, text);
}

void DesktopNotice::Withdraw()
{
    m_bShowAgain = false;
    if (m_pAwaited) {
        m_bWithdrawn = true;
        return;
    }
    if (m_nId != 0)
        Close(m_nId);
    m_nId = 0;
}

void DesktopNotice::Send(const QString &title, const QString &text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = Call(QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(2)); // critical
    call << QStringLiteral("Calorivista") << m_nId << QStringLiteral("dialog-warning") << title << text << QStringList()
         << hints << -1;
    m_pAwaited = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), this);
    connect(m_pAwaited, &QDBusPendingCallWatcher::finished, this, &DesktopNotice::TakeReply);
}

void DesktopNotice::TakeReply(QDBusPendingCallWatcher *finished)
{
    if (finished != m_pAwaited)
        return;
    m_pAwaited = nullptr;
    finished->deleteLater();
    const QDBusPendingReply<uint> reply = *finished;
    if (!reply.isError())
        m_nId = reply.value();
    if (m_bWithdrawn) {
        m_bWithdrawn = false;
        Withdraw();
    } else if (m_bShowAgain) {
        m_bShowAgain = false;
        Send(m_strTitle, m_strText);
    }
}

void DesktopNotice::Close(uint id)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = Call(QStringLiteral("CloseNotification"));
    call << id;
    bus.send(call); // the reply is not waited for
}
