#pragma once

#include "repository/categorytable.h"
#include "repository/requirement.h"
#include "repository/versionhold.h"

#include <QHash>
#include <QString>
#include <QStringList>

// What an administrator changes of one package's catalog entry. Empty texts change nothing.
struct PackageOverride {
    bool hide = false;
    bool add = false; // enters the catalog without AppStream data
    QString name;
    QString exec;
    QString rpmdeps;
    QString star;
    QString klass;
};

// The administrator's override file: one statement per line, blank lines and lines starting
// with "#" ignored.
//   category DESKTOP-CATEGORY CODE   the category table, first matching line wins (any such
//                                    line replaces the whole default table)
//   fallback CODE                    code of an application no category line matches
//   hide PACKAGE | add PACKAGE
//   name|exec|rpmdeps PACKAGE TEXT... | star PACKAGE 0-5 | class PACKAGE CODE
//   pin PACKAGE VERSION-RELEASE
// Each per-package statement may be limited to one group of desktops: "hide PACKAGE for GROUP",
// "pin PACKAGE VERSION-RELEASE for GROUP", "name PACKAGE for GROUP TEXT...".
// "require" and "remove" state what desktops must have or lose by when (see Requirement).
class CatalogOverrides
{
public:
    static const char *const Syntax;

    // False with *error "FILE:LINE: what is wrong" at the first wrong line; nothing changes
    // then.
    bool load(const QString &path, QString *error);
    bool parse(const QString &text, const QString &fileName, QString *error);

    const CategoryTable &categories() const { return m_categories; }
    // What applies to package in group: the statements for everyone, then the group's own.
    PackageOverride of(const QString &package, const QString &group = QString()) const;
    // Packages added for everyone or for group.
    QStringList added(const QString &group = QString()) const;
    // The pins; a pin for everyone has an empty group.
    const VersionHolds &pins() const { return m_pins; }
    // The require and remove statements, in the file's order.
    const Requirements &requirements() const { return m_requirements; }
    // The groups the statements name.
    QStringList groups() const;

private:
    CategoryTable m_categories;
    QHash<QString, PackageOverride> m_packages;
    QHash<QString, QHash<QString, PackageOverride>> m_groupPackages;
    VersionHolds m_pins;
    Requirements m_requirements;
};
