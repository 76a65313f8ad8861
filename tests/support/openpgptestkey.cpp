#include "tests/support/openpgptestkey.h"

#include "tests/support/processrunner.h"

OpenPgpTestKey::OpenPgpTestKey(const QString &user)
{
    m_valid = m_home.isValid() &&
              ProcessRunner::run("gpg", {"--homedir", m_home.path(), "--batch", "--passphrase", "",
                                         "--quick-gen-key", user, "ed25519", "sign", "never"})
                      .exitCode == 0 &&
              ProcessRunner::run("gpg", {"--homedir", m_home.path(), "--armor", "--output",
                                         publicKeyFile(), "--export"})
                      .exitCode == 0;
}

OpenPgpTestKey::~OpenPgpTestKey()
{
    ProcessRunner::run("gpgconf", {"--homedir", m_home.path(), "--kill", "gpg-agent"});
}

bool OpenPgpTestKey::signDetached(const QString &file) const
{
    return ProcessRunner::run("gpg", {"--homedir", m_home.path(), "--batch", "--yes",
                                      "--detach-sign", "--armor", file})
               .exitCode == 0;
}
