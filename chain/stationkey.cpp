#include "stationkey.h"

#include "durablefile.h"
#include "nativefs.h"
#include "sha256.h"

#include <QDir>
#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {

struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
struct ContextFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
struct KeyContextFree
{
    void operator()(EVP_PKEY_CTX *context) const { EVP_PKEY_CTX_free(context); }
};

std::shared_ptr<EVP_PKEY> Own(EVP_PKEY *key)
{
    return key ? std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free) : nullptr;
}

std::shared_ptr<EVP_PKEY> ReadKey(const QByteArray &pem)
{
    const std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!bio)
        return nullptr;
    std::shared_ptr<EVP_PKEY> key = Own(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        return nullptr;
    return key;
}

std::shared_ptr<EVP_PKEY> MakeKey()
{
    const std::unique_ptr<EVP_PKEY_CTX, KeyContextFree> context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY *key = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &key) != 1)
        return nullptr;
    return Own(key);
}

QByteArray Pem(EVP_PKEY *key)
{
    const std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

QByteArray RawPublicKey(EVP_PKEY *key)
{
    QByteArray raw(32, Qt::Uninitialized);
    size_t length = size_t(raw.size());
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char *>(raw.data()), &length) != 1 || length != 32)
        return {};
    return raw;
}

// Written under a passing name, readable by its user only, then given its
// name, never over a key another process made meanwhile.
bool WriteKeyFile(const QString &folder, const QByteArray &pem)
{
    const QString path = QDir(folder).filePath(QLatin1String(StationKey::kFileName));
    const QString passing = path + QStringLiteral(".new");
    RemoveFile(passing);
    QFile file(passing);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    const bool written = file.write(pem) == pem.size() && file.flush() && SyncData(file);
    file.close();
    if (!written || !RenameWithoutReplacing(passing, path)) {
        RemoveFile(passing);
        return false;
    }
    SyncFolder(folder);
    return true;
}

} // namespace

std::optional<StationKey> StationKey::LoadOrMake(const QString &folder, QString *error)
{
    const QString path = QDir(folder).filePath(QLatin1String(kFileName));
    // Twice: a second process of the station may have made it meanwhile.
    for (int attempt = 0; attempt < 2; ++attempt) {
        QFile file;
        if (OpenNamedFile(file, path, QIODevice::ReadOnly)) {
            StationKey key;
            key.m_key = ReadKey(file.read(64 * 1024));
            if (key.m_key)
                key.m_publicKey = RawPublicKey(key.m_key.get());
            if (key.m_publicKey.isEmpty()) {
                if (error)
                    *error = QStringLiteral("the key %1 cannot be read").arg(QDir::toNativeSeparators(path));
                return std::nullopt;
            }
            return key;
        }
        if (PathExists(path)) {
            if (error)
                *error = QStringLiteral("the key %1 cannot be opened").arg(QDir::toNativeSeparators(path));
            return std::nullopt;
        }
        const std::shared_ptr<EVP_PKEY> made = MakeKey();
        const QByteArray pem = made ? Pem(made.get()) : QByteArray();
        if (pem.isEmpty() || !QDir().mkpath(folder)) {
            if (error)
                *error = QStringLiteral("no key can be made in %1").arg(QDir::toNativeSeparators(folder));
            return std::nullopt;
        }
        if (WriteKeyFile(folder, pem)) {
            StationKey key;
            key.m_key = made;
            key.m_publicKey = RawPublicKey(made.get());
            return key;
        }
    }
    if (error)
        *error = QStringLiteral("the key %1 cannot be written").arg(QDir::toNativeSeparators(path));
    return std::nullopt;
}

QByteArray StationKey::Sign(const QByteArray &message) const
{
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) != 1)
        return {};
    QByteArray signature(64, Qt::Uninitialized);
    size_t length = size_t(signature.size());
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                       reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()))
            != 1
        || length != 64)
        return {};
    return signature;
}

bool StationKey::Verify(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature)
{
    if (publicKey.size() != 32 || signature.size() != 64)
        return false;
    const std::shared_ptr<EVP_PKEY> key = Own(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(publicKey.constData()), 32));
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()), 64,
                            reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()))
        == 1;
}

QString StationKey::FingerprintOf(const QByteArray &publicKey)
{
    const QByteArray hash = QByteArray::fromHex(Sha256Hex(publicKey));
    return QStringLiteral("SHA256:")
        + QString::fromLatin1(hash.toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals));
}
