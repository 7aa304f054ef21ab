#include "sha256.h"

#include "nativefs.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

namespace {

struct ContextFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

// Reads at most `limit` bytes (all with a negative limit).
std::optional<FileDigest> Digest(const QString &path, qint64 limit)
{
    QFile file;
    if (!OpenNamedFile(file, path, QIODevice::ReadOnly))
        return std::nullopt;
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    constexpr qint64 kChunk = 1 << 20;
    QByteArray buffer(kChunk, Qt::Uninitialized);
    FileDigest digest;
    for (;;) {
        const qint64 want = limit < 0 ? kChunk : std::min(kChunk, limit - digest.size);
        if (want == 0)
            break;
        const qint64 got = file.read(buffer.data(), want);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.constData(), size_t(got));
        digest.size += got;
    }
    if (limit >= 0 && digest.size != limit)
        return std::nullopt;
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), hash, &length) != 1)
        return std::nullopt;
    digest.sha256 = QByteArray(reinterpret_cast<const char *>(hash), int(length)).toHex();
    return digest;
}

} // namespace

QByteArray Sha256Hex(const QByteArray &bytes)
{
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.constData(), size_t(bytes.size()), hash, &length, EVP_sha256(), nullptr);
    return QByteArray(reinterpret_cast<const char *>(hash), int(length)).toHex();
}

std::optional<FileDigest> DigestOfFile(const QString &path)
{
    return Digest(path, -1);
}

std::optional<FileDigest> DigestOfFilePrefix(const QString &path, qint64 size)
{
    return Digest(path, size);
}
