#pragma once

// A desktop's notification service for the tests, on a session bus of their
// own: a dbus-daemon started for the test, whose address the test process
// takes before anything in it talks to a bus. It keeps the notices open now.
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>

class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    // Starts the bus; call before the first use of the session bus in the process.
    bool StartBus()
    {
        m_bus.setProcessChannelMode(QProcess::SeparateChannels);
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                     QStringLiteral("--print-address")});
        if (!m_bus.waitForStarted(5000) || !m_bus.waitForReadyRead(5000))
            return false;
        const QByteArray address = m_bus.readLine().trimmed();
        if (address.isEmpty())
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.Notifications"))
            && bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots);
    }
    ~FakeNotifications() override
    {
        if (m_bus.state() != QProcess::NotRunning) {
            m_bus.kill();
            m_bus.waitForFinished(3000);
        }
    }

    // The notices on the "screen": id and text.
    QMap<uint, QString> open;
    int shown = 0;

public slots:
    uint Notify(const QString &, uint replacesId, const QString &, const QString &, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        ++shown;
        const uint id = replacesId != 0 && open.contains(replacesId) ? replacesId : ++m_nNext;
        open[id] = body;
        return id;
    }
    void CloseNotification(uint id) { open.remove(id); }

private:
    QProcess m_bus;
    uint m_nNext = 0;
};
