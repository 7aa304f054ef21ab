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

QString PublishSettingsProblem(const PublishSettings &settings)
{
    static const QRegularExpression wildcard(QStringLiteral("[+#]"));
    const QString topic = settings.topic.trimmed();
    if (topic.isEmpty() || topic.contains(wildcard) || topic.startsWith(QLatin1Char('/')) || topic.endsWith(QLatin1Char('/')))
        return QStringLiteral("тема MQTT «%1» недопустима: она не может быть пустой, содержать «+» или «#», "
                              "начинаться или кончаться на «/»")
            .arg(topic);
    if (settings.station.contains(wildcard) || settings.station.contains(QLatin1Char('/')))
        return QStringLiteral("имя станции «%1» недопустимо: оно не может содержать «/», «+» или «#»").arg(settings.station);
    return QString();
}
