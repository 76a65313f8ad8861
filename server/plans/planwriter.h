#pragma once

#include "repository/requirement.h"
#include "sync/planframe.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

class FileArea;
class FrameSigner;

// Writes one signed plan per desktop into the file area, at a path only that desktop's plan
// uses (.cv_data/plans/ADDRESS). A plan is written again when what it says changed, and at
// least every RefreshSeconds so that an agent's freshness bound holds while nothing changes.
class PlanWriter
{
public:
    static constexpr qint64 RefreshSeconds = 3600;

    // The version-release group is served of package; empty when there is none.
    using Served = std::function<QString(const QString &group, const QString &package)>;

    PlanWriter(const FileArea &area, FrameSigner *signer) : m_area(area), m_signer(signer) {}

    static QString planFolder();
    static QString planFile(const QString &desktop);
    // What desktop in group is to do: the requirements for everyone and for its group, in the
    // file's order, a later one for the same package in place of an earlier; an item whose
    // version is withdrawn ("NAME-V-R", a halted rollout's) or not served is left out.
    static PlanFrame planFor(const QString &desktop, const QString &group,
                             const Requirements &requirements, const Served &served,
                             const QSet<QString> &withdrawn);

    // Writes the plan of each desktop (address to group) that changed or is due; the number
    // written, -1 with *error set when one could not be.
    int write(const QHash<QString, QString> &desktops, const Requirements &requirements,
              const Served &served, const QSet<QString> &withdrawn, qint64 now, QString *error);

private:
    struct Written {
        QByteArray digest; // of the plan without its issue time
        qint64 at = 0;
    };

    const FileArea &m_area;
    FrameSigner *const m_signer;
    QHash<QString, Written> m_written;
};
