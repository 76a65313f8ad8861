#include "shell/pagenavigator.h"

#include "shell/catalogpage.h"
#include "shell/dialogpresenter.h"
#include "shell/loadinganimation.h"
#include "shell/pagestate.h"
#include "shell/searchbox.h"
#include "shell/uninstallpage.h"
#include "shell/upgradepage.h"
#include "tasks/loaddialog.h"

#include <QDebug>
#include <QPushButton>

#include <utility>

namespace
{

QString navigationStyle(const char *image, bool selected)
{
    return QStringLiteral("background-repeat:no-repeat;background-image: url(:/img/") +
           QLatin1String(image) +
           (selected ? QStringLiteral("-select.png)") : QStringLiteral("-unselect.png)"));
}

} // namespace

PageNavigator::PageNavigator(const Buttons &buttons, PageState &state, SearchBox &search,
                             LoadingAnimation &loading, std::function<void()> fetchCatalog,
                             CatalogPage &catalog, UpgradePage &upgrade, UninstallPage &uninstall,
                             DialogPresenter &dialogs, LoadDialog *downloadManager)
    : m_buttons(buttons), m_state(state), m_search(search), m_loading(loading),
      m_fetchCatalog(std::move(fetchCatalog)), m_catalog(catalog), m_upgrade(upgrade),
      m_uninstall(uninstall), m_dialogs(dialogs), m_downloadManager(downloadManager)
{
}

QPoint PageNavigator::loadingPosition(int page)
{
    return page == PageState::Upgrade ? QPoint(400, 185) : QPoint(315, 185);
}

void PageNavigator::setNavigationStyle(int page)
{
    m_buttons.home->setStyleSheet(navigationStyle("shouye", page == PageState::Home));
    m_buttons.upgrade->setStyleSheet(navigationStyle("shengji", page == PageState::Upgrade));
    m_buttons.uninstall->setStyleSheet(navigationStyle("xiezai", page == PageState::Uninstall));
}

void PageNavigator::leavePage(int page)
{
    m_search.saveFor(m_state.page());
    m_state.setPage(page);
    setNavigationStyle(page);
}

void PageNavigator::showHome()
{
    if (m_loading.isRunning()) {
        m_search.empty();
        return;
    }
    leavePage(PageState::Home);
    m_catalog.enter();
}

void PageNavigator::showUpgrade()
{
    if (m_loading.isRunning()) {
        m_search.empty();
        return;
    }
    leavePage(PageState::Upgrade);
    m_upgrade.enter();
}

void PageNavigator::showUninstall()
{
    qDebug() << "*********************  on_btn_packageDelete_clicked()";
    m_search.empty();
    m_search.run();
    if (m_loading.isRunning())
        return;
    leavePage(PageState::Uninstall);
    m_uninstall.enter();
}

void PageNavigator::showCategoryItem(QListWidgetItem *item)
{
    if (m_loading.isRunning()) {
        if (item)
            m_pendingCategory = m_catalog.categoryRow(item);
        return;
    }
    m_catalog.showCurrentCategory();
}

void PageNavigator::buildCatalog()
{
    if (QListWidgetItem *pending = m_catalog.build(m_pendingCategory))
        showCategoryItem(pending);
}

void PageNavigator::catalogArrived()
{
    qDebug() << "**********************  getUpdateNum";
    m_catalog.updateCategoryCounts();
    m_upgrade.refreshBadge();
    if (!m_catalog.isBuilt()) {
        buildCatalog();
        m_catalog.setBuilt();
    } else {
        // Rows are made only from waiting records: without this, software the server pushed
        // after the first build would never get a row, and a package changed or removed
        // meanwhile would come back as it was.
        m_catalog.refreshWaitingRecords();
    }
    m_catalog.showContent();
    m_loading.stop();
    qDebug() << "refresh... m_page" << m_state.page();
    if (m_state.page() == PageState::Home)
        showHome();
    else if (m_state.page() == PageState::Upgrade)
        showUpgrade();
    else
        showUninstall();
}

void PageNavigator::reloadCatalog()
{
    m_loading.start(loadingPosition(m_state.page()));
    m_catalog.showLoading();
    m_fetchCatalog();
}

void PageNavigator::showDownloadManager()
{
    if (m_loading.isRunning())
        return;
    m_dialogs.place(m_downloadManager);
    m_downloadManager->exec();
}
