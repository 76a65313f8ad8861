#include "rollout/rolloutpolicy.h"

#include <QRegularExpression>

bool RolloutPolicy::parse(const QString &pilots, const QString &delay, const QString &halt,
                          RolloutPolicy *policy, QString *error)
{
    RolloutPolicy parsed;
    parsed.m_pilots =
        pilots.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    parsed.m_pilots.removeDuplicates();
    const QRegularExpressionMatch time =
        QRegularExpression(QStringLiteral("^(\\d{1,9})([smhd]?)$")).match(delay.trimmed());
    if (!delay.isEmpty()) {
        if (!time.hasMatch()) {
            *error = QStringLiteral("stage-delay must be seconds, or a number with s, m, h or d");
            return false;
        }
        const QString unit = time.captured(2);
        const qint64 seconds = unit == QLatin1String("m")   ? 60
                               : unit == QLatin1String("h") ? 3600
                               : unit == QLatin1String("d") ? 86400
                                                            : 1;
        parsed.m_stageDelay = time.captured(1).toLongLong() * seconds;
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
