#include "engine/shelltranscript.h"

#include "records/paths.h"
#include "records/quoting.h"

#include <QDir>

#include <cstdio>

namespace
{
thread_local ShellTranscript *currentTranscript = nullptr;

QByteArray takeAll(QTemporaryFile &file)
{
    file.seek(0);
    const QByteArray bytes = file.readAll();
    file.resize(0);
    file.seek(0);
    return bytes;
}
} // namespace

ShellTranscript::ShellTranscript() : m_outer(currentTranscript)
{
    // Made with O_EXCL and mode 0600 below the root's /tmp: nothing another user planted is
    // written through.
    const QString pattern = Paths::transcriptTemplate();
    m_out.setFileTemplate(pattern);
    m_err.setFileTemplate(pattern);
    m_ready = m_out.open() && m_err.open();
    currentTranscript = this;
}

ShellTranscript::~ShellTranscript()
{
    currentTranscript = m_outer;
}

ShellTranscript *ShellTranscript::current()
{
    return currentTranscript;
}

QString ShellTranscript::wrap(const QString &command) const
{
    if (!m_ready)
        return command;
    // A subshell keeps the command's own redirections and its exit status.
    return QStringLiteral("( ") + command + QStringLiteral("\n) >>") +
           Quoting::shell(m_out.fileName()) + QStringLiteral(" 2>>") +
           Quoting::shell(m_err.fileName());
}

void ShellTranscript::collect()
{
    if (!m_ready)
        return;
    const QByteArray out = takeAll(m_out);
    const QByteArray err = takeAll(m_err);
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    std::fwrite(err.constData(), 1, size_t(err.size()), stderr);
    m_kept += out + err;
    if (m_kept.size() > KeptBytes)
        m_kept = m_kept.right(KeptBytes);
}

QString ShellTranscript::text() const
{
    return QString::fromUtf8(m_kept);
}
