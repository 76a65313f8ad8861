// corvane-demo-catalog APPS.TSV OUTDIR: writes the demo store's catalog, icons and packages.
#include "democatalog.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: corvane-demo-catalog APPS.TSV OUTDIR\n");
        return 2;
    }
    QString error;
    const QVector<DemoApp> apps = DemoCatalog::load(args.at(1), &error);
    if (apps.isEmpty() || !DemoCatalog(apps).write(args.at(2), &error)) {
        std::fprintf(stderr, "corvane-demo-catalog: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%d applications written to %s\n", int(apps.size()), qPrintable(args.at(2)));
    return 0;
}
