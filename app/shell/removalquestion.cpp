#include "shell/removalquestion.h"

#include "engine/removalcheck.h"
#include "facade/catalogreader.h"
#include "records/version.h"

#include <QHash>
#include <QStringList>

namespace
{

// rpm answers in milliseconds; it waits only while another program writes its database.
constexpr int CheckTimeoutMs = 10000;

// The package name of name-version-release, with or without its ".arch".
QString packageName(const QString &packageString, bool withArch)
{
    QString text = packageString;
    if (withArch)
        text.truncate(text.lastIndexOf(QLatin1Char('.')));
    return splitPackageString(text).m_name;
}

} // namespace

void RemovalQuestion::ask(QObject *asker, const QString &question, const QVector<QString> &packages,
                          bool several, std::function<void(const QString &text)> ready) const
{
    QStringList names;
    for (const QString &package : packages)
        names << packageName(package, false);
    RemovalCheck::check(asker, names, CheckTimeoutMs,
                        [this, question, several, ready](const RemovalCheck::Answer &answer) {
                            // When rpm cannot tell, the question stays as it is: the uninstall
                            // itself never asks rpm.
                            ready(answer.known ? text(question, answer.dependants, several)
                                               : question);
                        });
}

QString RemovalQuestion::text(const QString &question, const QStringList &dependants,
                              bool several) const
{
    if (dependants.isEmpty())
        return question;

    // The catalog's name of a dependant when the store knows it, else its package name.
    QHash<QString, QString> catalogNames;
    for (const RpmData &record : m_reader.list(QueryMode::Installed, QString(), QString()))
        catalogNames.insert(packageName(record.m_rpm, false), record.m_name);
    QStringList shown;
    for (const QString &dependant : dependants) {
        const QString name = packageName(dependant, true);
        const QString display = catalogNames.value(name, name);
        if (!shown.contains(display))
            shown << display;
    }
    shown.sort();
    return question + QLatin1Char('\n') +
           (several ? QStringLiteral("以下已安装的软件依赖所选软件，卸载后可能无法使用：")
                    : QStringLiteral("以下已安装的软件依赖它，卸载后可能无法使用：")) +
           shown.join(QStringLiteral("、"));
}
