#include "reportheader.h"

#include "settingsevents.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

const QString kNone = QStringLiteral("—");

} // namespace

QList<std::pair<QString, QString>> ReportHeaderRows(const QList<FolderEvent> &events, qint64 fromMs, qint64 toMs,
                                                    const FolderCheck &check, qint64 madeMs)
{
    // The settings in force at the span's start: the last settings event
    // before it, or else the first within it.
    SettingsInForce settings;
    QStringList users;
    for (const FolderEvent &event : events) {
        if (event.utcMs > toMs)
            continue;
        if (event.event == QLatin1String("settings") && (settings.IsEmpty() || event.utcMs <= fromMs))
            settings = SettingsInForce::FromText(event.text);
        if (event.utcMs >= fromMs && !event.user.isEmpty() && !users.contains(event.user))
            users << event.user;
    }
    QString device = kNone;
    if (const std::optional<QString> port = settings.Value(QStringLiteral("PortNumber"))) {
        device = settings.Value(QStringLiteral("PortDevice") + *port).value_or(QString());
        device += QStringLiteral(" (COM%1, %2 бод)").arg(*port, settings.Value(QStringLiteral("BaudRate")).value_or(kNone));
    }
    QList<std::pair<QString, QString>> rows;
    rows.append({QStringLiteral("Станция"), settings.Value(QStringLiteral("MqttStation")).value_or(kNone)});
    rows.append({QStringLiteral("Прибор"), device});
    rows.append({QStringLiteral("Оператор"), users.isEmpty() ? kNone : users.join(QStringLiteral(", "))});
    rows.append({QStringLiteral("Программа"), QStringLiteral("Calorivista ") + QCoreApplication::applicationVersion()});
    rows.append({QStringLiteral("Отчёт составлен"),
                 QDateTime::fromMSecsSinceEpoch(madeMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))});
    rows.append({QStringLiteral("Записи"), check.RussianSummary()});
    rows.append({QStringLiteral("Последний хеш цепочки"),
                 check.lastChain.isEmpty() ? kNone : QString::fromLatin1(check.lastChain)});
    rows.append({QStringLiteral("Ключ станции"), check.fingerprints.isEmpty() ? kNone : check.fingerprints.join(QStringLiteral(", "))});
    return rows;
}
