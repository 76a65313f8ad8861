#include "sync/signingkey.h"

#include <QCryptographicHash>
#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct BioFree {
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

struct MdFree {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdFree>;

QByteArray pemOf(EVP_PKEY *key, bool isPrivate)
{
    Bio bio(BIO_new(BIO_s_mem()));
    const int ok =
        isPrivate ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                  : PEM_write_bio_PUBKEY(bio.get(), key);
    if (ok != 1)
        return QByteArray();
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

// Creates path exclusively with mode; false when it exists or cannot be written whole.
bool writeNew(const QString &path, const QByteArray &bytes, mode_t mode, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    const bool whole = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    if (!whole)
        *error = path + QStringLiteral(": not written whole");
    return whole;
}

} // namespace

void SigningKey::Free::operator()(EVP_PKEY *key) const
{
    EVP_PKEY_free(key);
}

SigningKey::SigningKey() = default;
SigningKey::~SigningKey() = default;
SigningKey::SigningKey(SigningKey &&) noexcept = default;
SigningKey &SigningKey::operator=(SigningKey &&) noexcept = default;

SigningKey::SigningKey(EVP_PKEY *key, bool isPrivate) : m_key(key), m_private(isPrivate)
{
    unsigned char raw[32];
    size_t length = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &length) != 1) {
        m_key.reset();
        return;
    }
    m_id = QCryptographicHash::hash(QByteArray(reinterpret_cast<const char *>(raw), int(length)),
                                    QCryptographicHash::Sha256)
               .left(IdLength / 2)
               .toHex();
}

SigningKey SigningKey::generate()
{
    EVP_PKEY *key = nullptr;
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    if (context && EVP_PKEY_keygen_init(context) == 1)
        EVP_PKEY_keygen(context, &key);
    EVP_PKEY_CTX_free(context);
    return key ? SigningKey(key, true) : SigningKey();
}

SigningKey SigningKey::loadPrivate(const QString &path, QString *error)
{
    // The key signs what root runs on every desktop: a file others may read is refused.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
        return SigningKey();
    }
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        *error = path + QStringLiteral(": others may read or change it (chmod 600)");
        return SigningKey();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return SigningKey();
    }
    const QByteArray pem = file.readAll();
    Bio bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    EVP_PKEY *key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
    if (!key || EVP_PKEY_id(key) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(key);
        *error = path + QStringLiteral(": not an Ed25519 private key");
        return SigningKey();
    }
    return SigningKey(key, true);
}

SigningKey SigningKey::loadPublic(const QByteArray &pem, QString *error)
{
    Bio bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    EVP_PKEY *key = PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
    if (!key || EVP_PKEY_id(key) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(key);
        *error = QStringLiteral("not an Ed25519 public key");
        return SigningKey();
    }
    return SigningKey(key, false);
}

bool SigningKey::saveKeyPair(const QString &directory, QString *error) const
{
    if (!m_private) {
        *error = QStringLiteral("no private key");
        return false;
    }
    return writeNew(directory + QStringLiteral("/catalog.key"), pemOf(m_key.get(), true), 0600,
                    error) &&
           writeNew(directory + QStringLiteral("/catalog.pub"), publicPem(), 0644, error);
}

QByteArray SigningKey::publicPem() const
{
    return m_key ? pemOf(m_key.get(), false) : QByteArray();
}

QByteArray SigningKey::sign(const QByteArray &message) const
{
    if (!m_private)
        return QByteArray();
    MdContext context(EVP_MD_CTX_new());
    QByteArray signature(SignatureLength, '\0');
    size_t length = size_t(signature.size());
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                       reinterpret_cast<const unsigned char *>(message.constData()),
                       size_t(message.size())) != 1 ||
        length != size_t(SignatureLength))
        return QByteArray();
    return signature;
}

bool SigningKey::verify(const QByteArray &message, const QByteArray &signature) const
{
    if (!m_key || signature.size() != SignatureLength)
        return false;
    MdContext context(EVP_MD_CTX_new());
    return context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) == 1 &&
           EVP_DigestVerify(context.get(),
                            reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()),
                            reinterpret_cast<const unsigned char *>(message.constData()),
                            size_t(message.size())) == 1;
}
