#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

// A station's Ed25519 signing key. It is made at first use and kept as
// PKCS#8 PEM in "station.key" of the station's data folder, readable by its
// user only; the public half goes into every line the key signs.
class StationKey
{
public:
    static constexpr const char *kFileName = "station.key";

    // The key of `folder`, made there when it has none. None, with `error`
    // set, when it can be neither read nor made.
    static std::optional<StationKey> LoadOrMake(const QString &folder, QString *error);

    QByteArray PublicKey() const { return m_publicKey; } // 32 bytes
    QByteArray Sign(const QByteArray &message) const;    // 64 bytes; empty on failure
    QString Fingerprint() const { return FingerprintOf(m_publicKey); }

    // "SHA256:" and the unpadded base64 of the public key's SHA-256, as
    // OpenSSH shows a key.
    static QString FingerprintOf(const QByteArray &publicKey);
    static bool Verify(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature);

private:
    std::shared_ptr<EVP_PKEY> m_key;
    QByteArray m_publicKey;
};
