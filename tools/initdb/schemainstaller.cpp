#include "schemainstaller.h"

#include <sqlite3.h>

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
        const QByteArray path = QDir(directory).filePath(it.key()).toUtf8();
        sqlite3 *db = nullptr;
        char *message = nullptr;
        const bool ok = sqlite3_open(path.constData(), &db) == SQLITE_OK &&
                        sqlite3_exec(db, it.value().toUtf8().constData(), nullptr, nullptr,
                                     &message) == SQLITE_OK;
        if (!ok && error)
            *error = QStringLiteral("%1: %2").arg(
                QString::fromUtf8(path), QString::fromUtf8(message ? message : sqlite3_errmsg(db)));
        sqlite3_free(message);
        sqlite3_close(db);
        if (!ok)
            return false;
    }
    return true;
}
