#include "rollout/rolloutpolicy.h"

#include "repository/requirement.h"
#include "sync/packageadvisories.h"

#include <QRegularExpression>

bool RolloutPolicy::parse(const QString &pilots, const QString &delay, const QString &halt,
                          RolloutPolicy *policy, QString *error)
{
    RolloutPolicy parsed;
    parsed.m_pilots =
        pilots.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    parsed.m_pilots.removeDuplicates();
    if (!delay.isEmpty() && !seconds(delay, &parsed.m_stageDelay)) {
        *error = QStringLiteral("stage-delay must be seconds, or a number with s, m, h or d");
        return false;
    }
    const QRegularExpressionMatch share =
        QRegularExpression(QStringLiteral("^(\\d{1,6})(%?)$")).match(halt.trimmed());
    if (!halt.isEmpty()) {
        const int value = share.captured(1).toInt();
        const bool percent = !share.captured(2).isEmpty();
        if (!share.hasMatch() || value < 1 || (percent && value > 100)) {
            *error = QStringLiteral("halt-failures must be a count from 1 or a share 1%..100%");
            return false;
        }
        parsed.m_haltCount = percent ? 0 : value;
        parsed.m_haltPercent = percent ? value : 0;
    }
    *policy = parsed;
    return true;
}

bool RolloutPolicy::seconds(const QString &text, qint64 *value)
{
    const qint64 parsed = Requirement::parseDuration(text.trimmed());
    if (parsed < 0)
        return false;
    *value = parsed;
    return true;
}

bool RolloutPolicy::setSecurityDelays(const QString &text, QString *error)
{
    QHash<QString, qint64> delays;
    for (const QString &pair : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList words = pair.simplified().split(QLatin1Char(' '));
        qint64 delay = 0;
        if (words.size() != 2 || !PackageAdvisories::severities().contains(words[0]) ||
            !seconds(words[1], &delay)) {
            *error = QStringLiteral("stage-delay-security: \"%1\" is not SEVERITY DELAY (severity"
                                    " critical, important, moderate or low; delay as for "
                                    "stage-delay)")
                         .arg(pair.trimmed());
            return false;
        }
        delays.insert(words[0], delay);
    }
    m_securityDelays = delays;
    return true;
}

qint64 RolloutPolicy::stageDelay(const QString &severity) const
{
    qint64 delay = m_stageDelay;
    // A graver fix never waits longer than a milder one.
    for (auto it = m_securityDelays.cbegin(); it != m_securityDelays.cend(); ++it)
        if (PackageAdvisories::rank(severity) >= PackageAdvisories::rank(it.key()) &&
            PackageAdvisories::rank(severity) > 0)
            delay = qMin(delay, it.value());
    return delay;
}

bool RolloutPolicy::halts(int failed, int tried) const
{
    if (failed < 1)
        return false;
    if (m_haltCount > 0)
        return failed >= m_haltCount;
    return qint64(failed) * 100 >= qint64(m_haltPercent) * tried;
}

QString RolloutPolicy::threshold() const
{
    return m_haltCount > 0 ? QString::number(m_haltCount)
                           : QString::number(m_haltPercent) + QLatin1Char('%');
}
