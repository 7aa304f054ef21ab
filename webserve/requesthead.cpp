#include "requesthead.h"

#include <QUrl>
#include <QUrlQuery>

namespace {

// The end of the line that starts at `from` (its LF), or -1.
qsizetype LineEnd(QByteArrayView bytes, qsizetype from)
{
    return bytes.indexOf('\n', from);
}

QByteArrayView WithoutCr(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

bool IsToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || c == '(' || c == ')' || c == ',' || c == '/' || c == ':' || c == ';' || c == '<'
            || c == '=' || c == '>' || c == '?' || c == '@' || c == '[' || c == '\\' || c == ']' || c == '{' || c == '}'
            || c == '"')
            return false;
    }
    return true;
}

bool ParseRequestLine(QByteArrayView line, RequestHead *head)
{
    const qsizetype first = line.indexOf(' ');
    const qsizetype last = line.lastIndexOf(' ');
    if (first <= 0 || last <= first)
        return false;
    const QByteArrayView method = line.first(first);
    const QByteArrayView target = line.sliced(first + 1, last - first - 1);
    const QByteArrayView version = line.sliced(last + 1);
    if (!IsToken(method) || target.isEmpty() || target.contains(' ')
        || !(version == QByteArrayView("HTTP/1.1") || version == QByteArrayView("HTTP/1.0")))
        return false;
    head->method = method.toByteArray();
    // An origin-form target ("/path?query"), or an absolute one whose path is taken.
    const QUrl url = QUrl::fromEncoded(target.toByteArray());
    if (!url.isValid())
        return false;
    head->path = url.path(QUrl::FullyDecoded);
    if (head->path.isEmpty())
        head->path = QStringLiteral("/");
    head->query = QUrlQuery(url.query(QUrl::FullyEncoded));
    head->token = head->query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
    return true;
}

} // namespace

HeadParse ParseRequestHead(QByteArrayView bytes, qsizetype maxBytes, int maxFields, RequestHead *head)
{
    *head = RequestHead {};
    const QByteArrayView within = bytes.first(std::min(bytes.size(), maxBytes));
    // Empty lines before the request line are to be ignored.
    qsizetype at = 0;
    while (at < within.size() && (within[at] == '\r' || within[at] == '\n'))
        ++at;
    const qsizetype requestEnd = LineEnd(within, at);
    if (requestEnd < 0)
        return bytes.size() > maxBytes ? HeadParse::TooLarge : HeadParse::Incomplete;
    if (!ParseRequestLine(WithoutCr(within.sliced(at, requestEnd - at)), head))
        return HeadParse::Malformed;
    int fields = 0;
    for (at = requestEnd + 1;;) {
        const qsizetype end = LineEnd(within, at);
        if (end < 0)
            return bytes.size() > maxBytes ? HeadParse::TooLarge : HeadParse::Incomplete;
        const QByteArrayView line = WithoutCr(within.sliced(at, end - at));
        at = end + 1;
        if (line.isEmpty()) {
            head->length = at;
            return HeadParse::Complete;
        }
        if (++fields > maxFields)
            return HeadParse::TooLarge;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !IsToken(line.first(colon)))
            return HeadParse::Malformed;
        const QByteArray name = line.first(colon).toByteArray().toLower();
        const QByteArray value = line.sliced(colon + 1).trimmed().toByteArray().toLower();
        if (name == "upgrade") {
            for (const QByteArray &protocol : value.split(','))
                head->webSocket = head->webSocket || protocol.trimmed() == "websocket";
        }
    }
}
