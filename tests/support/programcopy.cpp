#include "programcopy.h"

#include "accountaccess.h"
#include "processrunner.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace
{

// rwxr-xr-x
const QFile::Permissions OpenToEveryone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                          QFile::ExeOther;

} // namespace

ProgramCopy::ProgramCopy(const QString &program)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    QFile::setPermissions(m_dir.path(), OpenToEveryone);
    m_error = AccountAccess::whyUnreachable(m_dir.path());
    if (!isValid())
        return;

    // "libcorvane.so.1 => /home/me/corvane/build/core/libcorvane.so.1 (0x...)": copied under
    // the name the program asks for.
    const ProcessResult libraries = ProcessRunner::run(QStringLiteral("ldd"), {program});
    if (libraries.exitCode != 0) {
        m_error = QStringLiteral("ldd failed: ") + libraries.output;
        return;
    }
    static const QRegularExpression line(QStringLiteral("^\\s*(\\S+) => (/\\S+) \\("),
                                         QRegularExpression::MultilineOption);
    for (auto match = line.globalMatch(libraries.output); match.hasNext();) {
        const auto library = match.next();
        if (!AccountAccess::closedFolder(library.captured(2)).isEmpty() &&
            !copy(library.captured(2), library.captured(1)))
            return;
    }
    if (copy(program, QFileInfo(program).fileName()))
        m_program = m_dir.filePath(QFileInfo(program).fileName());
}

bool ProgramCopy::copy(const QString &from, const QString &name)
{
    const QString to = m_dir.filePath(name);
    if (!QFile::copy(from, to) || !QFile::setPermissions(to, OpenToEveryone)) {
        m_error = QStringLiteral("cannot copy ") + from + QStringLiteral(" to ") + to;
        return false;
    }
    return true;
}
