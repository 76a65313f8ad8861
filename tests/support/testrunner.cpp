#include "testrunner.h"

#include <QByteArray>
#include <QList>
#include <QMetaMethod>
#include <QTest>

namespace
{

bool hasTestFunction(const QObject &test, const QByteArray &name)
{
    const QMetaObject *meta = test.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        if (meta->method(i).name() == name)
            return true;
    return false;
}

} // namespace

int runTestClasses(int argc, char **argv, const std::vector<std::unique_ptr<QObject>> &tests)
{
    QList<QByteArray> options;
    QList<QByteArray> functions;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith('-')) {
            options << arg;
            // Options with a value keep it.
            if ((arg == "-o" || arg == "-maxwarnings" || arg == "-eventdelay" ||
                 arg == "-keydelay" || arg == "-mousedelay" || arg == "-maxdelay") &&
                i + 1 < argc)
                options << QByteArray(argv[++i]);
        } else {
            functions << arg;
        }
    }

    int failed = 0;
    for (const auto &test : tests) {
        QList<QByteArray> mine;
        for (const QByteArray &function : functions)
            if (hasTestFunction(*test, function.split(':').first()))
                mine << function;
        if (!functions.isEmpty() && mine.isEmpty())
            continue;
        std::vector<char *> args{argv[0]};
        QList<QByteArray> storage = options + mine;
        for (QByteArray &arg : storage)
            args.push_back(arg.data());
        failed += QTest::qExec(test.get(), int(args.size()), args.data());
    }
    return failed;
}
