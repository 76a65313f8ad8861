#include "yumcontrol.h"

#include "tests/support/sandbox.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <signal.h>

YumControl::YumControl(Sandbox &sandbox)
    : m_control(sandbox.path(QStringLiteral("/.sandbox/yumctl")))
{
    QDir().mkpath(m_control);
    QFile script(m_bin.path() + QStringLiteral("/yum"));
    if (!script.open(QIODevice::WriteOnly))
        return;
    QTextStream out(&script);
    out << "#!/bin/sh\n"
           "ctl='"
        << m_control
        << "'\n"
           "printf '%s\\n' \"$*\" >> \"$ctl/calls\"\n"
           "if [ -e \"$ctl/hold\" ]; then\n"
           "  touch \"$ctl/waiting.$$\"\n"
           "  while [ -e \"$ctl/hold\" ]; do /bin/sleep 0.05; done\n"
           "  rm -f \"$ctl/waiting.$$\"\n"
           "fi\n"
           "[ -e \"$ctl/fail\" ] && exit 2\n"
           "exec '" CORVANE_TEST_SHIMS_DIR "/yum' \"$@\"\n";
    out.flush();
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    sandbox.prependPath(m_bin.path());
    m_valid = true;
}

YumControl::~YumControl()
{
    hold(false);
    fail(false);
}

void YumControl::setFlag(const QString &name, bool on)
{
    const QString path = m_control + QLatin1Char('/') + name;
    if (on) {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
    } else {
        QFile::remove(path);
    }
}

void YumControl::hold(bool on)
{
    setFlag(QStringLiteral("hold"), on);
}

void YumControl::fail(bool on)
{
    setFlag(QStringLiteral("fail"), on);
}

QStringList YumControl::calls() const
{
    return readLines(m_control + QStringLiteral("/calls"));
}

int YumControl::waiting() const
{
    return QDir(m_control).entryList({QStringLiteral("waiting.*")}, QDir::Files).size();
}

int YumControl::killWaiting()
{
    int killed = 0;
    QDir control(m_control);
    for (const QString &entry : control.entryList({QStringLiteral("waiting.*")}, QDir::Files)) {
        if (::kill(pid_t(entry.section(QLatin1Char('.'), 1).toLongLong()), SIGKILL) == 0)
            ++killed;
        // A killed call leaves its mark behind.
        control.remove(entry);
    }
    return killed;
}
