#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// SHA-256 through OpenSSL (which uses the processor's SHA instructions where
// it has them), as 64 lowercase hex digits.
QByteArray Sha256Hex(const QByteArray &bytes);

// A file's size and SHA-256, read in one pass so that both describe the same
// bytes. None when it cannot be opened or read.
struct FileDigest
{
    qint64 size = 0;
    QByteArray sha256; // hex
};
std::optional<FileDigest> DigestOfFile(const QString &path);
// The digest of the file's first `size` bytes only (none when it is shorter).
std::optional<FileDigest> DigestOfFilePrefix(const QString &path, qint64 size);
