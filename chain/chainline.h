#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class StationKey;

// One line of a record folder's "calorivista.chain" (text, CR LF):
//   number,time,file,size,sha256,chain,key,signature
// number counts from 1; time is ISO 8601 local time with milliseconds and
// offset; file is the file's name in the folder (quoted as in CSV where it
// must be); size and sha256 are the file's bytes when it was entered; chain
// is the SHA-256 of the previous line's chain (64 zeros before the first
// line), a comma and this line up to its sha256; key is the station's
// Ed25519 public key and signature its signature of the line up to its key,
// both in hex.
struct ChainLine
{
    qint64 number = 0;
    QByteArray time;   // as written
    QString file;
    qint64 size = 0;
    QByteArray sha256; // hex, as every hash here
    QByteArray chain;
    QByteArray key;
    QByteArray signature;

    static constexpr const char *kHeader = "number,time,file,size,sha256,chain,key,signature\r\n";
    // A chain file larger than this is not read (10 000 data files with an
    // entry of events.csv beside each take about 6 MB).
    static constexpr qint64 kMaxFileBytes = 64 << 20;

    // The chain value before the first line.
    static QByteArray ChainStart() { return QByteArray(64, '0'); }

    // The line after one whose chain value is `previousChain`, signed.
    static ChainLine Make(qint64 number, const QByteArray &time, const QString &file, qint64 size,
                          const QByteArray &sha256, const QByteArray &previousChain, const StationKey &key);
    // The line as the file has it, without its line end.
    QByteArray Text() const;
    // A line of the file (without its line end); none when its fields are
    // not those of a chain line.
    static std::optional<ChainLine> Parse(const QByteArray &text);

    // Whether `chain` follows from `previousChain`, and whether the key
    // signed this line.
    bool Follows(const QByteArray &previousChain) const;
    bool SignatureHolds() const;

private:
    QByteArray Body() const;   // up to sha256
    QByteArray Signed() const; // up to key
};
