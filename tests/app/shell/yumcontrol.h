#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class Sandbox;

// A yum placed before the sandbox's own: it records every call, can hold calls until they
// are released (so a download is visibly running while the test looks) and can make them
// fail; otherwise it hands over to the sandbox's yum.
class YumControl
{
public:
    explicit YumControl(Sandbox &sandbox);
    ~YumControl();

    bool isValid() const { return m_valid; }
    void hold(bool on);
    void fail(bool on);
    QStringList calls() const;
    // Calls waiting in the hold right now.
    int waiting() const;
    // Kills the waiting calls as a signal from outside would; returns how many there were.
    int killWaiting();

private:
    void setFlag(const QString &name, bool on);

    QTemporaryDir m_bin;
    QString m_control;
    bool m_valid = false;
};
