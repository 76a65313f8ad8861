#pragma once

class QTableWidget;

// What the window shows: the page chosen in the navigation, and the table a page or a search
// wrote into last. The navigation sets the page; the pages read it.
class PageState
{
public:
    enum Page { Home = 0, Upgrade = 1, Uninstall = 2 };

    int page() const { return m_page; }
    void setPage(int page) { m_page = page; }
    QTableWidget *currentTable() const { return m_currentTable; }
    void setCurrentTable(QTableWidget *table) { m_currentTable = table; }

private:
    int m_page = Home;
    QTableWidget *m_currentTable = nullptr;
};
