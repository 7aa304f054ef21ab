#pragma once

#include "notifyconfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What one message tells: an alarm raised (or told again, unacknowledged),
// its clearing or acknowledgement, or a notice of the desk's own.
struct AlarmNotice
{
    enum class Kind { Raised, StillUnacknowledged, Cleared, Acknowledged, Notice };
    Kind kind = Kind::Raised;
    QString station;
    QString event;       // "alarm-high", "station-lost", …
    qint64 utcMs = 0;    // when it was raised (or happened)
    std::optional<double> celsius;
    QString text;        // the alarm's wording ("Выше 1500 °C") or the notice's
    QString comment;     // the run's
    QString user;        // who acknowledged it
    QString reason;      // the reason they gave
    QStringList details; // what a message for several says of each
    qint64 followUpMs = 0; // when it cleared or was acknowledged
    bool acknowledged = false;
    QString overview;    // the overview page's address
};

// A subject that fits a phone's lock screen: "Печь-2: выше 1500 °C (1523.4 °C)".
QString NoticeSubject(const AlarmNotice &notice);
// The lines a person acts on: station, what, the value, since when, the run's
// comment, whether it is acknowledged, the overview's address.
QString NoticeBody(const AlarmNotice &notice);

// An RFC 5322 message with MIME: UTF-8 text in base64, the subject in RFC 2047.
QByteArray MailMessage(const QString &from, const QStringList &to, const AlarmNotice &notice);

// A webhook's body and its own headers for `format`.
struct WebhookPost
{
    QByteArray body;
    QStringList headers;
};
WebhookPost WebhookMessage(NotifyChannel::Format format, const AlarmNotice &notice);
