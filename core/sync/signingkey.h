#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

typedef struct evp_pkey_st EVP_PKEY;

// An Ed25519 key of a catalog server: the private half signs frames, the public half (in the
// stores' key folder) checks them. A key is named by its id, the first 8 bytes of the SHA-256
// of its raw public key in hexadecimal, which travels with every signature.
class SigningKey
{
public:
    SigningKey();
    ~SigningKey();
    SigningKey(SigningKey &&) noexcept;
    SigningKey &operator=(SigningKey &&) noexcept;

    static SigningKey generate();
    // A PEM private key file that nobody but its owner may read; null with *error set otherwise.
    static SigningKey loadPrivate(const QString &path, QString *error);
    // A PEM public key; null with *error set when it is no Ed25519 key.
    static SigningKey loadPublic(const QByteArray &pem, QString *error);

    bool isNull() const { return !m_key; }
    bool hasPrivate() const { return m_private; }
    QByteArray id() const { return m_id; }

    // Writes DIR/catalog.key (mode 0600) and DIR/catalog.pub; false with *error set when a
    // file exists already or cannot be written.
    bool saveKeyPair(const QString &directory, QString *error) const;
    QByteArray publicPem() const;

    // The 64-byte signature of message; empty without a private key.
    QByteArray sign(const QByteArray &message) const;
    bool verify(const QByteArray &message, const QByteArray &signature) const;

    static constexpr int IdLength = 16;
    static constexpr int SignatureLength = 64;

private:
    explicit SigningKey(EVP_PKEY *key, bool isPrivate);

    struct Free {
        void operator()(EVP_PKEY *key) const;
    };
    std::unique_ptr<EVP_PKEY, Free> m_key;
    bool m_private = false;
    QByteArray m_id;
};
