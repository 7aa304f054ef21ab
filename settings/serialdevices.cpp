#include "serialdevices.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

QString DescriptionOf(const QSerialPortInfo &port)
{
    QStringList parts;
    for (const QString &part : {port.manufacturer(), port.description()}) {
        if (!part.isEmpty() && !parts.contains(part))
            parts << part;
    }
    if (!port.serialNumber().isEmpty())
        parts << QStringLiteral("S/N ") + port.serialNumber();
    return parts.join(QStringLiteral(", "));
}

} // namespace

QList<SerialDeviceChoice> ListSerialDevices(const QString &byIdFolder)
{
    QList<SerialDeviceChoice> ports;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        ports.append({port.systemLocation(), DescriptionOf(port)});

    QList<SerialDeviceChoice> choices;
    const QFileInfoList links = QDir(byIdFolder).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot,
                                                               QDir::Name);
    for (const QFileInfo &link : links) {
        const QString target = link.canonicalFilePath();
        if (target.isEmpty())
            continue; // a link left behind by an adapter that is gone
        QString description = QStringLiteral("→ ") + target;
        for (const SerialDeviceChoice &port : ports) {
            if (QFileInfo(port.path).canonicalFilePath() == target && !port.description.isEmpty())
                description = port.description + QStringLiteral(" (") + target + QLatin1Char(')');
        }
        choices.append({link.absoluteFilePath(), description});
    }
    choices += ports;
    return choices;
}
