#pragma once

#include "dialogwatcher.h"
#include "tests/support/catalogentry.h"
#include "tests/support/sandbox.h"
#include "tests/support/testpackage.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class InstallItem;
class MainWindow;
class QTableWidget;
class YumControl;

// One store window on a sandbox of its own: its own root, transport port and catalog, fed
// with frames over the real transport, torn down with every thread the window started.
class ShellHarness
{
public:
    ShellHarness();
    ~ShellHarness();
    ShellHarness(const ShellHarness &) = delete;
    ShellHarness &operator=(const ShellHarness &) = delete;

    bool isValid() const;
    Sandbox &sandbox() { return m_sandbox; }
    DialogWatcher &dialogs() { return m_dialogs; }
    // A yum that can hold and fail calls; made on first use, before the window starts.
    YumControl &yum();

    // Shows a new window; it loads until the first frame has been processed.
    MainWindow *start();
    // Installs the packages, shows a new window and loads the catalog into it; null when a
    // step fails.
    MainWindow *startLoaded(const QVector<CatalogEntry> &catalog,
                            const QVector<TestPackage> &installed = {});
    // The three standard packages in the catalog and installed, the window loaded with them;
    // then, for the second, on its uninstall page.
    MainWindow *startWithStandardInstalled();
    MainWindow *startOnUninstallPage();
    MainWindow *window() const { return m_window; }

    // Sends one frame to the window's receiver and waits until the window has taken it in.
    bool sendFrame(const QString &frame);
    // Sends without waiting.
    void postFrame(const QString &frame);
    bool load(const QVector<CatalogEntry> &catalog);

    QTableWidget *catalogTable() const;
    QTableWidget *uninstallTable() const;
    QString cell(QTableWidget *table, int row, int column) const;
    int rowOf(QTableWidget *table, const QString &name) const;
    InstallItem *controllerOf(QTableWidget *table, const QString &name) const;
    QVector<int> visibleRows(QTableWidget *table) const;
    // Scrolls a table to its bottom as a user drags the bar there.
    void scrollToBottom(QTableWidget *table);
    // Scrolls to the bottom, again if the first drag was taken back, until the table has
    // grown; true when it then holds exactly rows rows.
    bool scrollUntilLoaded(QTableWidget *table, int rows);

    enum SelectorEntry { QuickInstallEntry = 0, DownloadEntry = 1 };
    // Chooses an entry of a not-installed row's selector and runs it, as a press on its text
    // does.
    static void choose(InstallItem *item, SelectorEntry entry);

    // The standard test packages as catalog entries, by package name and version.
    static CatalogEntry packageEntry(const QString &name, const QString &version,
                                     const QString &type = QStringLiteral("5"));

private:
    void stop();

    Sandbox m_sandbox;
    QByteArray m_savedPort;
    bool m_hadPort;
    QByteArray m_savedBind;
    bool m_hadBind;
    bool m_baseInstalled = false;
    DialogWatcher m_dialogs;
    std::unique_ptr<YumControl> m_yum;
    MainWindow *m_window = nullptr;
};
