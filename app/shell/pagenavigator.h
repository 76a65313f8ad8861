#pragma once

#include <QPoint>

#include <functional>

class CatalogPage;
class DialogPresenter;
class LoadDialog;
class LoadingAnimation;
class PageState;
class QListWidgetItem;
class QPushButton;
class SearchBox;
class UninstallPage;
class UpgradePage;

// The three navigation buttons and what the window shows: the page chosen, the category
// chosen while the catalog loads, the catalog's arrival and its reload.
class PageNavigator
{
public:
    struct Buttons {
        QPushButton *home;
        QPushButton *upgrade;
        QPushButton *uninstall;
    };

    PageNavigator(const Buttons &buttons, PageState &state, SearchBox &search,
                  LoadingAnimation &loading, std::function<void()> fetchCatalog,
                  CatalogPage &catalog, UpgradePage &upgrade, UninstallPage &uninstall,
                  DialogPresenter &dialogs, LoadDialog *downloadManager);

    // Where the loading picture turns on a page.
    static QPoint loadingPosition(int page);
    void setNavigationStyle(int page);

    void showHome();
    void showUpgrade();
    void showUninstall();
    // A category item clicked; while the catalog loads it is shown once it is there.
    void showCategoryItem(QListWidgetItem *item);
    // The first build of the catalog table, in the category chosen while loading.
    void buildCatalog();
    // The catalog is in the database: the pages take it and the page shown is shown anew.
    void catalogArrived();
    // The reload button: the loading picture until the catalog has been fetched again.
    void reloadCatalog();
    // The download manager, modal, once the catalog is loaded.
    void showDownloadManager();

private:
    void leavePage(int page);

    Buttons m_buttons;
    PageState &m_state;
    SearchBox &m_search;
    LoadingAnimation &m_loading;
    // Asks for the catalog again; its arrival comes back as catalogArrived.
    std::function<void()> m_fetchCatalog;
    CatalogPage &m_catalog;
    UpgradePage &m_upgrade;
    UninstallPage &m_uninstall;
    DialogPresenter &m_dialogs;
    LoadDialog *m_downloadManager;
    int m_pendingCategory = -1;
};
