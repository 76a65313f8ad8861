#include "repository/categorytable.h"

CategoryTable::CategoryTable()
{
    static const struct {
        const char *category;
        int code;
    } defaults[] = {
        {"Archiving", 10},  {"Compression", 10}, {"DiscBurning", 10},    {"Audio", 11},
        {"Video", 6},       {"Game", 12},        {"Education", 4},       {"Science", 3},
        {"Engineering", 3}, {"Electronics", 3},  {"MedicalSoftware", 3}, {"Development", 2},
        {"Office", 1},      {"Graphics", 7},     {"Network", 8},         {"System", 9},
        {"Settings", 9},    {"Utility", 5},      {"AudioVideo", 6},
    };
    for (const auto &rule : defaults)
        addRule(QString::fromLatin1(rule.category), rule.code);
}

int CategoryTable::codeFor(const QStringList &categories) const
{
    for (const auto &rule : m_rules)
        if (categories.contains(rule.first))
            return rule.second;
    return m_fallback;
}
