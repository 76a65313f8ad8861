#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// Desktop-entry categories to the store's category codes "1".."13". Rules are tried in order
// and the first category an application lists that a rule names decides; with none, the
// fallback code.
class CategoryTable
{
public:
    static constexpr int Fallback = 13; // 其他应用

    // The default: the narrow categories before the broad ones they usually come with
    // (Archiving before Utility, Audio and Video before AudioVideo, Education before Science).
    CategoryTable();

    void clear() { m_rules.clear(); }
    void addRule(const QString &category, int code) { m_rules.append({category, code}); }
    void setFallback(int code) { m_fallback = code; }

    int codeFor(const QStringList &categories) const;
    const QVector<QPair<QString, int>> &rules() const { return m_rules; }

private:
    QVector<QPair<QString, int>> m_rules;
    int m_fallback = Fallback;
};
