#include "publishsettings.h"

#include <QRegularExpression>
#include <QSysInfo>

QString DefaultStationName(const QString &instrument)
{
    QString name = QSysInfo::machineHostName();
    if (name.isEmpty())
        name = QStringLiteral("station");
    if (!instrument.isEmpty())
        name += QLatin1Char('-') + instrument;
    return name;
}

QString StationName(const PublishSettings &settings, const QString &instrument)
{
    QString name = settings.station.trimmed();
    if (name.isEmpty())
        name = DefaultStationName(instrument);
    static const QRegularExpression reserved(QStringLiteral("[/+#\\s]"));
    return name.replace(reserved, QStringLiteral("_"));
}
