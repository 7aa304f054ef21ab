#include "notifymessage.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QUuid>

namespace {

QString Celsius(double celsius)
{
    return QString::number(celsius, 'f', 1) + QStringLiteral(" °C");
}

QString Clock(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString LowerFirst(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

QByteArray EncodedWord(const QString &text)
{
    // Short encoded words, each whole UTF-8 characters, as RFC 2047 wants them.
    QByteArray out;
    QString chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + chunk.toUtf8().toBase64() + "?=";
        chunk.clear();
    };
    for (const QChar c : text) {
        if (chunk.toUtf8().size() >= 40 && !c.isLowSurrogate())
            flush();
        chunk += c;
    }
    flush();
    return out;
}

QByteArray Address(const QString &address)
{
    return '<' + address.trimmed().toUtf8() + '>';
}

} // namespace

QString NoticeSubject(const AlarmNotice &notice)
{
    QString what = LowerFirst(notice.text);
    if (notice.celsius)
        what += QStringLiteral(" (%1)").arg(Celsius(*notice.celsius));
    switch (notice.kind) {
    case AlarmNotice::Kind::Raised:
    case AlarmNotice::Kind::Notice:
        break;
    case AlarmNotice::Kind::StillUnacknowledged:
        what += QStringLiteral(", не квитировано");
        break;
    case AlarmNotice::Kind::Cleared:
        what = QStringLiteral("снято: ") + LowerFirst(notice.text);
        break;
    case AlarmNotice::Kind::Acknowledged:
        what = QStringLiteral("квитировано: ") + LowerFirst(notice.text);
        break;
    }
    return notice.station + QStringLiteral(": ") + what;
}

QString NoticeBody(const AlarmNotice &notice)
{
    QStringList lines;
    lines << QStringLiteral("Станция: ") + notice.station;
    lines << QStringLiteral("Событие: ") + notice.text;
    if (notice.celsius)
        lines << QStringLiteral("Значение: ") + Celsius(*notice.celsius);
    lines << (notice.kind == AlarmNotice::Kind::Notice ? QStringLiteral("Время: ") : QStringLiteral("С: ")) + Clock(notice.utcMs);
    if (notice.kind == AlarmNotice::Kind::Cleared)
        lines << QStringLiteral("Снято: ") + Clock(notice.followUpMs);
    if (!notice.comment.isEmpty())
        lines << QStringLiteral("Сеанс: ") + notice.comment;
    if (notice.kind != AlarmNotice::Kind::Notice) {
        QString acknowledged = notice.acknowledged ? QStringLiteral("да") : QStringLiteral("нет");
        if (notice.acknowledged && notice.followUpMs)
            acknowledged += QStringLiteral(", ") + Clock(notice.followUpMs);
        if (notice.acknowledged && !notice.user.isEmpty())
            acknowledged += QStringLiteral(" (%1)").arg(notice.user);
        if (notice.acknowledged && !notice.reason.isEmpty())
            acknowledged += QStringLiteral(": ") + notice.reason;
        lines << QStringLiteral("Квитировано: ") + acknowledged;
    }
    for (const QString &detail : notice.details)
        lines << QStringLiteral("  ") + detail;
    if (!notice.overview.isEmpty())
        lines << QStringLiteral("Обзор: ") + notice.overview;
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QByteArray MailMessage(const QString &from, const QStringList &to, const AlarmNotice &notice)
{
    QByteArrayList recipients;
    for (const QString &address : to)
        recipients << Address(address);
    const QByteArray body = NoticeBody(notice).toUtf8().toBase64();
    QByteArray message;
    message += "Date: " + QLocale::c().toString(QDateTime::currentDateTimeUtc(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")).toLatin1()
        + " +0000\r\n";
    message += "From: " + Address(from) + "\r\n";
    message += "To: " + recipients.join(", ") + "\r\n";
    message += "Message-ID: <" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + '@'
        + from.section(QLatin1Char('@'), 1).trimmed().toUtf8() + ">\r\n";
    message += "Subject: " + EncodedWord(NoticeSubject(notice)) + "\r\n";
    message += "MIME-Version: 1.0\r\n";
    message += "Content-Type: text/plain; charset=UTF-8\r\n";
    message += "Content-Transfer-Encoding: base64\r\n";
    message += "\r\n";
    for (qsizetype at = 0; at < body.size(); at += 76)
        message += body.mid(at, 76) + "\r\n";
    return message;
}

WebhookPost WebhookMessage(NotifyChannel::Format format, const AlarmNotice &notice)
{
    WebhookPost post;
    switch (format) {
    case NotifyChannel::Format::Json: {
        QJsonObject object {{QStringLiteral("v"), 1},
                            {QStringLiteral("station"), notice.station},
                            {QStringLiteral("event"), notice.event},
                            {QStringLiteral("t"), double(notice.utcMs)},
                            {QStringLiteral("c"), notice.celsius ? QJsonValue(*notice.celsius) : QJsonValue()},
                            {QStringLiteral("text"), notice.text},
                            {QStringLiteral("acknowledged"), notice.acknowledged},
                            {QStringLiteral("overview"), notice.overview}};
        post.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
        post.headers << QStringLiteral("Content-Type: application/json");
        break;
    }
    case NotifyChannel::Format::Ntfy:
        // ntfy: the body is the message, the title a header (UTF-8 in RFC 2047).
        post.body = NoticeBody(notice).toUtf8();
        post.headers << QStringLiteral("Title: ") + QString::fromLatin1(EncodedWord(NoticeSubject(notice)).replace("\r\n ", " "));
        break;
    case NotifyChannel::Format::Telegram:
        // The bot API's sendMessage; the chat is the URL's chat_id.
        post.body = QJsonDocument(QJsonObject {{QStringLiteral("text"), NoticeSubject(notice) + QStringLiteral("\n") + NoticeBody(notice)}})
                        .toJson(QJsonDocument::Compact);
        post.headers << QStringLiteral("Content-Type: application/json");
        break;
    }
    return post;
}
