#include "repository/repositorysignature.h"

#include <QFile>

#include <algorithm>
#include <memory>

#include <gpgme.h>

namespace
{

struct DataDeleter {
    void operator()(gpgme_data_t data) const { gpgme_data_release(data); }
};
using Data = std::unique_ptr<gpgme_data, DataDeleter>;

Data memoryData(const QByteArray &bytes)
{
    gpgme_data_t data = nullptr;
    // Copied: GPGME may read after the caller's buffer is gone.
    if (gpgme_data_new_from_mem(&data, bytes.constData(), size_t(bytes.size()), 1) != 0)
        return Data();
    return Data(data);
}

QString gpgError(gpgme_error_t error)
{
    return QString::fromUtf8(gpgme_strerror(error));
}

bool writeOptions(const QTemporaryDir &home, const QByteArray &options)
{
    QFile file(home.filePath(QStringLiteral("gpg.conf")));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(options) == options.size();
}

// What makes a signature unusable even when the mathematics holds.
constexpr unsigned Unusable = GPGME_SIGSUM_RED | GPGME_SIGSUM_KEY_REVOKED |
                              GPGME_SIGSUM_KEY_EXPIRED | GPGME_SIGSUM_SIG_EXPIRED |
                              GPGME_SIGSUM_KEY_MISSING | GPGME_SIGSUM_BAD_POLICY |
                              GPGME_SIGSUM_SYS_ERROR;

} // namespace

RepositorySignature::RepositorySignature()
{
    gpgme_check_version(nullptr);
}

RepositorySignature::~RepositorySignature()
{
    if (m_context)
        gpgme_release(m_context);
}

QString RepositorySignature::signaturePath(const QString &repomdPath)
{
    return repomdPath + QStringLiteral(".asc");
}

bool RepositorySignature::load(const QString &keyFile, QString *error)
{
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = keyFile + QStringLiteral(": ") + file.errorString();
        return false;
    }
    const QByteArray key = file.read(1 << 20);
    if (m_context) {
        *error = QStringLiteral("one repository key only");
        return false;
    }
    // No agent (nothing here is secret) and no key looked up anywhere: only this file's keys.
    if (!m_home.isValid() || !writeOptions(m_home, "no-autostart\nno-auto-key-retrieve\n")) {
        *error = QStringLiteral("no private GnuPG home for the repository key");
        return false;
    }
    if (gpgme_new(&m_context) != 0 ||
        gpgme_ctx_set_engine_info(m_context, GPGME_PROTOCOL_OpenPGP, nullptr,
                                  QFile::encodeName(m_home.path()).constData()) != 0) {
        *error = QStringLiteral("GPGME cannot start gpg");
        return false;
    }
    Data keyData = memoryData(key);
    const gpgme_error_t imported = keyData ? gpgme_op_import(m_context, keyData.get()) : 1;
    if (imported != 0) {
        *error = keyFile + QStringLiteral(": ") + gpgError(imported);
        return false;
    }
    gpgme_key_t found = nullptr;
    QByteArray trusted;
    if (gpgme_op_keylist_start(m_context, nullptr, 0) == 0) {
        while (gpgme_op_keylist_next(m_context, &found) == 0) {
            for (gpgme_subkey_t sub = found->subkeys; sub; sub = sub->next)
                if (sub->fpr)
                    m_fingerprints << QString::fromLatin1(sub->fpr).toUpper();
            if (found->subkeys && found->subkeys->fpr)
                trusted += "trusted-key " + QByteArray(found->subkeys->fpr) + "\n";
            gpgme_key_unref(found);
        }
        gpgme_op_keylist_end(m_context);
    }
    if (m_fingerprints.isEmpty()) {
        *error = keyFile + QStringLiteral(": no OpenPGP public key in it");
        return false;
    }
    // The administrator named the key: its signatures are valid ones, as dnf takes its gpgkey.
    // Listing it once builds the trust database; checking it again before every signature
    // would make the check cost as much as a tenth of the catalog it guards.
    const QByteArray options = "no-autostart\nno-auto-key-retrieve\n" + trusted;
    bool listed =
        writeOptions(m_home, options) && gpgme_op_keylist_start(m_context, nullptr, 0) == 0;
    while (listed && gpgme_op_keylist_next(m_context, &found) == 0)
        gpgme_key_unref(found);
    listed = listed && gpgme_op_keylist_end(m_context) == 0 &&
             writeOptions(m_home, options + "no-auto-check-trustdb\n");
    if (!listed) {
        *error = QStringLiteral("cannot write the private GnuPG home");
        return false;
    }
    return true;
}

bool RepositorySignature::verify(const QByteArray &data, const QByteArray &signature,
                                 QString *error) const
{
    Data signatureData = memoryData(signature);
    Data signedData = memoryData(data);
    const gpgme_error_t failed =
        m_context && signatureData && signedData
            ? gpgme_op_verify(m_context, signatureData.get(), signedData.get(), nullptr)
            : 1;
    const gpgme_verify_result_t result = failed ? nullptr : gpgme_op_verify_result(m_context);
    if (!result || !result->signatures) {
        *error = QStringLiteral("no OpenPGP signature") +
                 (failed ? QStringLiteral(" (") + gpgError(failed) + QLatin1Char(')') : QString());
        return false;
    }
    QString why;
    for (gpgme_signature_t sig = result->signatures; sig; sig = sig->next) {
        const QString by = QString::fromLatin1(sig->fpr ? sig->fpr : "").toUpper();
        // Older signatures name only the key id: the end of the fingerprint.
        bool ours = by.size() >= 16;
        if (ours)
            ours = std::any_of(m_fingerprints.cbegin(), m_fingerprints.cend(),
                               [&](const QString &fpr) { return fpr.endsWith(by); });
        if (!ours) {
            why = QStringLiteral("signed by another key (%1)").arg(by);
            continue;
        }
        if (gpgme_err_code(sig->status) != GPG_ERR_NO_ERROR) {
            why = QStringLiteral("bad signature (%1)").arg(gpgError(sig->status));
            continue;
        }
        if (!(sig->summary & GPGME_SIGSUM_VALID) || (sig->summary & Unusable)) {
            why = QStringLiteral("signature not valid (summary 0x%1)").arg(sig->summary, 0, 16);
            continue;
        }
        return true;
    }
    *error = why;
    return false;
}
