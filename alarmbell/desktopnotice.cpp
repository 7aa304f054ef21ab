#include "desktopnotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

void NotifyDesktop(const QString &title, const QString &text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(2)); // critical
    call << QStringLiteral("Calorivista") << 0u << QStringLiteral("dialog-warning") << title << text << QStringList()
         << hints << -1;
    call.setAutoStartService(false); // no service is started for it
    bus.send(call); // the reply is not waited for
}
