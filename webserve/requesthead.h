#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrlQuery>

// The head of an HTTP/1.x request (its request line and header fields), as
// far as a read-only page needs it.
struct RequestHead
{
    QByteArray method;
    QString path;             // percent-decoded, without the query
    QString token;            // the query's "token", percent-decoded
    QUrlQuery query;          // the whole query, the token too
    bool webSocket = false;   // "Upgrade: websocket"
    qsizetype length = 0;     // bytes of the head, its closing empty line included
};

enum class HeadParse {
    Incomplete, // the head has not ended within the bytes given
    Complete,
    TooLarge,   // longer than allowed: answer 431
    Malformed,  // no request line of the form "METHOD TARGET HTTP/1.x": answer 400
};

// Parses the head at the start of `bytes`, which may end anywhere. A head is
// at most `maxBytes` long; more header fields than `maxFields` make it too
// large too. Line ends are CR LF or, leniently, LF.
HeadParse ParseRequestHead(QByteArrayView bytes, qsizetype maxBytes, int maxFields, RequestHead *head);
