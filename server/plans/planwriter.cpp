#include "plans/planwriter.h"

#include "serving/filearea.h"
#include "sync/framesignature.h"
#include "sync/framesigner.h"

#include <QCryptographicHash>

#include <algorithm>

QString PlanWriter::planFolder()
{
    return QStringLiteral(".cv_data/plans");
}

QString PlanWriter::planFile(const QString &desktop)
{
    return planFolder() + QLatin1Char('/') + desktop;
}

PlanFrame PlanWriter::planFor(const QString &desktop, const QString &group,
                              const Requirements &requirements, const Served &served,
                              const QSet<QString> &withdrawn)
{
    PlanFrame plan;
    plan.desktop = desktop;
    QHash<QString, int> at; // package to its item
    for (const Requirement &requirement : requirements) {
        if (!requirement.group.isEmpty() && requirement.group != group)
            continue;
        PlanFrame::Item item = requirement.item;
        if (!item.remove && item.versionRelease.isEmpty())
            item.versionRelease = served(group, item.package);
        const auto earlier = at.constFind(item.package);
        const bool dropped =
            !item.remove && (item.versionRelease.isEmpty() || withdrawn.contains(item.key()));
        if (earlier != at.cend()) {
            // The later statement decides; one left out takes the earlier one with it.
            plan.items[*earlier].package.clear();
            at.remove(item.package);
        }
        if (dropped)
            continue;
        at.insert(item.package, plan.items.size());
        plan.items << item;
    }
    plan.items.erase(
        std::remove_if(plan.items.begin(), plan.items.end(),
                       [](const PlanFrame::Item &item) { return item.package.isEmpty(); }),
        plan.items.end());
    return plan;
}

int PlanWriter::write(const QHash<QString, QString> &desktops, const Requirements &requirements,
                      const Served &served, const QSet<QString> &withdrawn, qint64 now,
                      QString *error)
{
    // Desktops of one group share their items: each group's are decided once.
    QHash<QString, PlanFrame> ofGroup;
    QStringList names;
    QVector<QByteArray> frames;
    QVector<QByteArray> digests;
    for (auto it = desktops.cbegin(); it != desktops.cend(); ++it) {
        // A name that is no single path component never becomes a file.
        if (it.key().isEmpty() || it.key().contains(QLatin1Char('/')) ||
            it.key().startsWith(QLatin1Char('.')) || it.key().size() > 100)
            continue;
        auto group = ofGroup.find(it.value());
        if (group == ofGroup.end())
            group = ofGroup.insert(it.value(),
                                   planFor(QString(), it.value(), requirements, served, withdrawn));
        PlanFrame plan = *group;
        plan.desktop = it.key();
        const QByteArray digest =
            QCryptographicHash::hash(plan.compose().toUtf8(), QCryptographicHash::Sha256);
        const Written &last = m_written[it.key()];
        if (last.digest == digest && now - last.at < RefreshSeconds)
            continue;
        plan.issued = now;
        names << it.key();
        frames << plan.compose().toUtf8();
        digests << digest;
    }
    // Signed and written together: one sequence kept and one sync for them all.
    const QVector<QByteArray> sealed = m_signer->sealAll(frames);
    QVector<FileArea::File> files;
    files.reserve(sealed.size());
    for (int i = 0; i < sealed.size(); ++i) {
        if (sealed[i].isEmpty()) {
            *error = planFile(names[i]) + QStringLiteral(": not signed");
            return -1;
        }
        files << FileArea::File{names[i], sealed[i] + '\n'};
    }
    if (!m_area.writeAll(planFolder(), files, error))
        return -1;
    for (int i = 0; i < names.size(); ++i)
        m_written[names[i]] = Written{digests[i], now};
    return names.size();
}
