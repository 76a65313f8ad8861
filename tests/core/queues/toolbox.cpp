#include "toolbox.h"

#include "tests/support/sandbox.h"

#include <QDir>
#include <QFile>

#ifndef CORVANE_TEST_SHIMS_DIR
#error "CORVANE_TEST_SHIMS_DIR must name tests/shims"
#endif

ToolBox::ToolBox(Sandbox &sandbox) : m_directory(sandbox.path(QStringLiteral("/.sandbox/tools")))
{
    QDir().mkpath(m_directory);
    sandbox.prependPath(m_directory);
}

void ToolBox::add(const QString &tool, const QString &body)
{
    const QString path = m_directory + '/' + tool;
    QFile script(path);
    script.open(QIODevice::WriteOnly | QIODevice::Truncate);
    // Arguments are separated by the unit separator so that blanks inside them survive.
    const QString text =
        QStringLiteral("#!/bin/sh\nSHIM='%1/%2'\nEVENTS='%3'\n"
                       "for a in \"$@\"; do printf '%s\\037' \"$a\"; done "
                       ">> '%4.log'\necho >> '%4.log'\n%5\n")
            .arg(QStringLiteral(CORVANE_TEST_SHIMS_DIR), tool, eventsFile(), path, body);
    script.write(text.toUtf8());
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void ToolBox::addGraphicalSession()
{
    add(QStringLiteral("loginctl"),
        QStringLiteral("case \"$1\" in list-sessions) echo '3 1000 tester seat0';;\n"
                       "*) printf 'Active=yes\\nType=x11\\nName=tester\\nUser=1000\\n';; esac"));
    add(QStringLiteral("runuser"),
        QStringLiteral("while [ \"$1\" != -- ]; do shift; done; shift; exec \"$@\""));
}

QList<QStringList> ToolBox::calls(const QString &tool) const
{
    QFile log(m_directory + '/' + tool + QStringLiteral(".log"));
    QList<QStringList> result;
    if (!log.open(QIODevice::ReadOnly))
        return result;
    QStringList lines = QString::fromUtf8(log.readAll()).split('\n');
    lines.removeLast(); // after the last line end
    for (const QString &line : lines) {
        QStringList arguments = line.split(QChar(0x1f));
        arguments.removeLast(); // after the last separator
        result.append(arguments);
    }
    return result;
}

QString ToolBox::eventsFile() const
{
    return m_directory + QStringLiteral("/events");
}

QStringList ToolBox::events() const
{
    QFile file(eventsFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}
