#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The advisories a catalog entry's version fixes, as its frame carries them: the attribute
// "advisories", tokens "ID,TYPE,SEVERITY,FIXED-IN[,CVE...]" between spaces, FIXED-IN the
// version-release the advisory names. Only what checks out is composed or parsed, and no more
// than the bounds: the text is the repository's, signed by the server but not written by it.
class PackageAdvisories
{
public:
    struct Advisory {
        QString id;
        QString type;     // security, bugfix, enhancement, newpackage, or empty
        QString severity; // critical, important, moderate, low, or empty
        QString fixedIn;  // version-release
        QStringList cves;
    };

    static const char *const Attribute; // "advisories"
    static constexpr int MaxAdvisories = 8;
    static constexpr int MaxCves = 16;
    static constexpr int MaxIdLength = 64;

    static QString compose(const QVector<Advisory> &advisories);
    static QVector<Advisory> parse(const QString &text);

    static bool isId(const QString &text);
    static bool isCve(const QString &text);
    // "Critical", "IMPORTANT" ... as one of the four words; anything else empty.
    static QString severityOf(const QString &text);
    // critical 4, important 3, moderate 2, low 1, anything else 0.
    static int rank(const QString &severity);
    // The four severities, gravest first.
    static const QStringList &severities();
    // What the user reads of a security fix: "安全更新" and its severity's word (严重, 重要,
    // 中等, 低; none for an unknown one).
    static QString securityMark(const QString &severity);
    // The security advisories of these a desktop on installed lacks, gravest first; its
    // highest severity ("" when none has one) in *severity.
    static QVector<Advisory> securityFixesFor(const QVector<Advisory> &advisories,
                                              const QString &installed, QString *severity);

private:
    static Advisory checked(const Advisory &advisory, bool *ok);
};
