#include "records/paths.h"
#include "shell/mainwindow.h"
#include "shell/myapplication.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QFile>
#include <QTextCodec>
#include <QTextStream>
#include <QTranslator>

#include <unistd.h>

int main(int argc, char *argv[])
{
    // As root (pkexec, perhaps without a password) the caller's arguments are not Qt's to
    // read: -platformpluginpath or -plugin would load the caller's code into this process.
    int qtArgc = geteuid() == 0 ? 1 : argc;
    QApplication app(qtArgc, argv);
    // Made once the application exists: a local server created before it has no event
    // dispatcher and would never take a connection, so later starts would pile up unanswered.
    MyApplication guard;

    QTranslator translator;
    app.installTranslator(&translator);
    translator.load(Paths::translationFile(), QString(), QString(), QString());

    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    QFile qss(QStringLiteral(":/qss/default.qss"));
    if (qss.open(QIODevice::ReadOnly)) {
        QTextStream in(&qss);
        in.setCodec("UTF-8");
        app.setStyleSheet(in.readAll());
        qss.close();
    }

    if (guard.isRunning())
        return 0;

    MainWindow window;
    const QRect desktop = QApplication::desktop()->geometry();
    window.move((desktop.width() - window.width()) / 2, (desktop.height() - window.height()) / 2);
    window.show();
    return app.exec();
}
