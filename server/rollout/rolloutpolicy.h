#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// How a new version reaches the fleet: the pilot groups take it at once, the others after
// stageDelay or on promote; the pilot's failures for it halt it at a count or a share of the
// pilot desktops that tried it.
class RolloutPolicy
{
public:
    static constexpr qint64 DefaultStageDelay = 24 * 3600;

    // pilots: group names (spaces or commas between); delay: seconds, or with s, m, h or d;
    // halt: a count ("3") or a share ("10%"). False with *error saying which is wrong.
    static bool parse(const QString &pilots, const QString &delay, const QString &halt,
                      RolloutPolicy *policy, QString *error);

    // stage-delay-security: "SEVERITY DELAY" pairs, commas between ("critical 2h, important
    // 12h"). False with *error saying which is wrong.
    bool setSecurityDelays(const QString &text, QString *error);

    bool isSet() const { return !m_pilots.isEmpty(); }
    const QStringList &pilots() const { return m_pilots; }
    qint64 stageDelay() const { return m_stageDelay; }
    // The delay of a version that fixes a security advisory of severity ("" for none): the
    // shortest set for it or a milder severity, never longer than the stage delay.
    qint64 stageDelay(const QString &severity) const;
    // failed of tried pilot desktops: enough to halt? Never before one has failed.
    bool halts(int failed, int tried) const;
    // "3" or "10%", for the log line.
    QString threshold() const;

private:
    // Seconds of "90", "90s", "15m", "2h" or "1d"; false when it is none of them.
    static bool seconds(const QString &text, qint64 *value);

    QStringList m_pilots;
    QHash<QString, qint64> m_securityDelays; // by severity
    qint64 m_stageDelay = DefaultStageDelay;
    int m_haltCount = 0;    // a count when set
    int m_haltPercent = 10; // else a share
};
