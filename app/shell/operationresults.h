#pragma once

#include <QString>

class MainWindow;
class QTableWidget;

// Turns what the workers and the rows report into the rows' next state, the counts, the
// download manager's entries and the messages a failure calls for.
class OperationResults
{
public:
    explicit OperationResults(MainWindow *window);

    void apply(const QString &oper, int res, const QString &third, const QString &key);
    // The download phase of a one-click install or an upgrade has ended.
    void downloadEnded(const QString &oper, int res, const QString &key);

private:
    void launch(const QString &commandLine);
    void installResult(const QString &oper, int res, const QString &key, int row);
    void downloadResult(int res, const QString &key, int row);
    void upgradeResult(const QString &oper, int res, const QString &key, int row);
    void uninstallResult(int res, const QString &key);
    // The download manager names a package by its package string and derives the key itself.
    QString failedPackage(int row, const QString &key) const;

    MainWindow *m_window;
};
