#pragma once

#include <QString>

namespace Ui
{
class MainWindow;
}
class ClientDemon;
class MainWindow;

// The search box of the title bar: runs the search for the page shown, keeps the text of the
// page left, and shows its hint while it is empty.
class SearchBox
{
public:
    SearchBox(MainWindow *window, Ui::MainWindow *ui, ClientDemon *demon);

    void empty();
    void run();
    // Keeps the text of the page being left (the uninstall page keeps none).
    void saveFor(int page);
    QString savedText(int page) const;
    void keyPressed();
    void textEdited(const QString &text);
    void showContextMenu(int x, int y);

private:
    MainWindow *m_window;
    Ui::MainWindow *ui;
    ClientDemon *m_demon;
    QString m_savedHome;
    QString m_savedUpgrade;
};
