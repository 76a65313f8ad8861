#include "schemainstaller.h"

#include "storage/storeschema.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTextStream>

// The schema is a resource of this static library; referencing it keeps the linker from
// dropping it.
static void initSchemaResource()
{
    Q_INIT_RESOURCE(initdb);
}

namespace
{

// File name -> statements, split at the "-- database: FILE" lines of the schema.
QMap<QString, QString> schemaSections()
{
    initSchemaResource();
    QFile file(QStringLiteral(":/corvane/schema.sql"));
    QMap<QString, QString> sections;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return sections;
    static const QRegularExpression marker(QStringLiteral("^--\\s*database:\\s*(\\S+)\\s*$"));
    QString current;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd()) {
        const QString line = in.readLine();
        const QRegularExpressionMatch match = marker.match(line);
        if (match.hasMatch())
            current = match.captured(1);
        else if (!current.isEmpty())
            sections[current] += line + QLatin1Char('\n');
    }
    return sections;
}

} // namespace

QString SchemaInstaller::statementsFor(const QString &fileName)
{
    return schemaSections().value(fileName);
}

bool SchemaInstaller::createDatabases(const QString &directory, QString *error)
{
    const QMap<QString, QString> sections = schemaSections();
    if (sections.isEmpty()) {
        if (error)
            *error = QStringLiteral("schema resource missing");
        return false;
    }
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        const QString path = QDir(directory).filePath(it.key());
        const QByteArray statements = it.value().toUtf8();
        // A new file gets the whole schema; one of an earlier release is migrated as the
        // store would, its rows kept.
        QString why;
        const SchemaVersion::Outcome outcome =
            StoreSchema::upgrade(path, &why, [&statements](sqlite3 *db, QString *) {
                return SchemaVersion::exec(db, statements.constData());
            });
        if (outcome == SchemaVersion::Outcome::Current ||
            outcome == SchemaVersion::Outcome::Upgraded)
            continue;
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}
