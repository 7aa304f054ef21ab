#include "chainline.h"

#include "csvwriter.h"
#include "nativename.h"
#include "sha256.h"
#include "stationkey.h"

#include <QList>

namespace {

// The fields of one CSV line; none when a quote is left open.
std::optional<QList<QByteArray>> Fields(const QByteArray &line)
{
    QList<QByteArray> fields;
    QByteArray field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < line.size() && line[i + 1] == '"')
                field += line[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.append(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (quoted)
        return std::nullopt;
    fields.append(field);
    return fields;
}

bool IsHex(const QByteArray &text, qsizetype length)
{
    if (text.size() != length)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

ChainLine ChainLine::Make(qint64 number, const QByteArray &time, const QString &file, qint64 size,
                          const QByteArray &sha256, const QByteArray &previousChain, const StationKey &key)
{
    ChainLine line;
    line.number = number;
    line.time = time;
    line.file = file;
    line.size = size;
    line.sha256 = sha256;
    line.chain = Sha256Hex(previousChain + ',' + line.Body());
    line.key = key.PublicKey().toHex();
    line.signature = key.Sign(line.Signed()).toHex();
    return line;
}

QByteArray ChainLine::Body() const
{
    return QByteArray::number(number) + ',' + time + ',' + CsvField(ToNativeName(file)) + ',' + QByteArray::number(size)
        + ',' + sha256;
}

QByteArray ChainLine::Signed() const
{
    return Body() + ',' + chain + ',' + key;
}

QByteArray ChainLine::Text() const
{
    return Signed() + ',' + signature;
}

std::optional<ChainLine> ChainLine::Parse(const QByteArray &text)
{
    const std::optional<QList<QByteArray>> fields = Fields(text);
    if (!fields || fields->size() != 8)
        return std::nullopt;
    ChainLine line;
    bool numberOk = false;
    bool sizeOk = false;
    line.number = fields->at(0).toLongLong(&numberOk);
    line.time = fields->at(1);
    line.file = FromNativeName(fields->at(2));
    line.size = fields->at(3).toLongLong(&sizeOk);
    line.sha256 = fields->at(4);
    line.chain = fields->at(5);
    line.key = fields->at(6);
    line.signature = fields->at(7);
    if (!numberOk || !sizeOk || line.number < 1 || line.size < 0 || line.file.isEmpty() || !IsHex(line.sha256, 64)
        || !IsHex(line.chain, 64) || !IsHex(line.key, 64) || !IsHex(line.signature, 128))
        return std::nullopt;
    // Written only as the program writes it, so that the hashes cover what is read.
    if (line.Text() != text)
        return std::nullopt;
    return line;
}

bool ChainLine::Follows(const QByteArray &previousChain) const
{
    return Sha256Hex(previousChain + ',' + Body()) == chain;
}

bool ChainLine::SignatureHolds() const
{
    return StationKey::Verify(QByteArray::fromHex(key), Signed(), QByteArray::fromHex(signature));
}
