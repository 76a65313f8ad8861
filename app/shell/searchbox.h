#pragma once

#include <QObject>
#include <QString>

class LoadingAnimation;
class QLabel;
class QLineEdit;
class QWidget;

// The search box of the title bar: asks the page shown to search, keeps the text of the page
// left, and shows its hint while it is empty.
class SearchBox : public QObject
{
    Q_OBJECT

public:
    // window: the window the context menu is placed by.
    SearchBox(QLineEdit *edit, QLabel *hint, QWidget *window, const LoadingAnimation &loading);

    QString text() const;
    void empty();
    void run();
    // Keeps the text of the page being left (the uninstall page keeps none).
    void saveFor(int page);
    QString savedText(int page) const;
    // A page's saved text back in the box, the hint shown while it is empty.
    void restore(const QString &text);
    void keyPressed();
    void textEdited(const QString &text);
    void showContextMenu(int x, int y);

signals:
    // Once the catalog is loaded: the page shown searches for the text.
    void searchRequested(const QString &text);

private:
    QLineEdit *m_edit;
    QLabel *m_hint;
    QWidget *m_window;
    const LoadingAnimation &m_loading;
    QString m_savedHome;
    QString m_savedUpgrade;
};
