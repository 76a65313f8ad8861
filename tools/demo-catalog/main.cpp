// corvane-demo-catalog APPS.TSV OUTDIR: writes the demo store's catalog, icons and packages.
// corvane-demo-catalog --publish KEY APPS.TSV OUTDIR: puts a newer version of application KEY
// into the repository of OUTDIR.
#include "democatalog.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments();
    QString publish;
    if (args.size() == 5 && args.at(1) == QLatin1String("--publish")) {
        publish = args.at(2);
        args = QStringList{args.at(0), args.at(3), args.at(4)};
    }
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: corvane-demo-catalog [--publish KEY] APPS.TSV OUTDIR\n");
        return 2;
    }
    QString error;
    const QVector<DemoApp> apps = DemoCatalog::load(args.at(1), &error);
    if (!publish.isEmpty() && !apps.isEmpty()) {
        QString file;
        if (!DemoCatalog(apps).publish(args.at(2), publish, &file, &error)) {
            std::fprintf(stderr, "corvane-demo-catalog: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("published %s\n", qPrintable(file));
        return 0;
    }
    if (apps.isEmpty() || !DemoCatalog(apps).write(args.at(2), &error)) {
        std::fprintf(stderr, "corvane-demo-catalog: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%d applications written to %s\n", int(apps.size()), qPrintable(args.at(2)));
    return 0;
}
