#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Sandbox;

// Replacement tools placed before the sandbox's shims for one test. Each records its
// arguments, then runs the given shell text, in which $SHIM is the sandbox's own tool and
// $EVENTS a file where scripts note the order of things.
class ToolBox
{
public:
    explicit ToolBox(Sandbox &sandbox);

    void add(const QString &tool, const QString &body);
    // One active graphical session (loginctl, runuser): its user is told through the
    // sandbox's notify-send.
    void addGraphicalSession();
    // The arguments of every call so far, in call order.
    QList<QStringList> calls(const QString &tool) const;
    QStringList events() const;
    QString eventsFile() const;

private:
    QString m_directory;
};
