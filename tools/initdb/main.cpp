// corvane-initdb DIRECTORY: creates the store's databases with their tables in DIRECTORY.
#include "schemainstaller.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: corvane-initdb DIRECTORY\n");
        return 2;
    }
    QDir().mkpath(args.at(1));
    QString error;
    if (!SchemaInstaller::createDatabases(args.at(1), &error)) {
        std::fprintf(stderr, "corvane-initdb: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
