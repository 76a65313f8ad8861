#include <QApplication>

int runProcessThreadTests(int argc, char **argv);
int runInstallItemTests(int argc, char **argv);
int runLoadDialogTests(int argc, char **argv);

// One executable for the folder, one test class per topic.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int failed = 0;
    failed += runProcessThreadTests(argc, argv);
    failed += runInstallItemTests(argc, argv);
    failed += runLoadDialogTests(argc, argv);
    return failed;
}
