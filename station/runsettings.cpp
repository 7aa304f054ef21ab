#include "runsettings.h"

namespace {

QString Optional(const std::optional<double> &value)
{
    return value ? QString::number(*value) : QString();
}

} // namespace

SettingsInForce RunSettings(const RunLineSettings &line, int chartLowest, int chartHighest, const AlarmLimits &limits,
                            const PublishSettings &publishing, const QString &station)
{
    SettingsInForce settings;
    settings.Set(QStringLiteral("PortNumber"), QString::number(line.port));
    settings.Set(QStringLiteral("PortDevice%1").arg(line.port), line.device);
    settings.Set(QStringLiteral("BaudRate"), QString::number(line.baudRate));
    settings.Set(QStringLiteral("TimeBetweenSaving"), QString::number(line.saveInterval));
    settings.Set(QStringLiteral("MinT"), QString::number(chartLowest));
    settings.Set(QStringLiteral("MaxT"), QString::number(chartHighest));
    settings.Set(QStringLiteral("AlarmHigh"), Optional(limits.high));
    settings.Set(QStringLiteral("AlarmLow"), Optional(limits.low));
    settings.Set(QStringLiteral("AlarmRate"), Optional(limits.rate));
    settings.Set(QStringLiteral("AlarmRateWindow"), QString::number(limits.rateWindowSeconds));
    settings.Set(QStringLiteral("AlarmHysteresis"), QString::number(limits.hysteresis));
    settings.Set(QStringLiteral("AlarmDelay"), QString::number(limits.delaySeconds));
    settings.Set(QStringLiteral("AlarmSilence"), QString::number(limits.silenceSeconds));
    settings.Set(QStringLiteral("AlarmSound"), limits.sound ? QStringLiteral("true") : QStringLiteral("false"));
    settings.Set(QStringLiteral("MqttStation"), station);
    // Publishing is on when a broker is named.
    settings.Set(QStringLiteral("MqttHost"), publishing.host.trimmed());
    settings.Set(QStringLiteral("MqttTopic"), publishing.topic.trimmed());
    return settings;
}
