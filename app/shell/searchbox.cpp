#include "shell/searchbox.h"

#include "shell/loadinganimation.h"
#include "shell/pagestate.h"

#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

SearchBox::SearchBox(QLineEdit *edit, QLabel *hint, QWidget *window,
                     const LoadingAnimation &loading)
    : m_edit(edit), m_hint(hint), m_window(window), m_loading(loading)
{
}

QString SearchBox::text() const
{
    return m_edit->text();
}

void SearchBox::empty()
{
    if (!m_edit->text().isEmpty())
        m_edit->clear();
    // The hint stands for an empty box.
    m_hint->show();
}

void SearchBox::run()
{
    if (m_loading.isRunning()) {
        empty();
        return;
    }
    const QString text = m_edit->text();
    qDebug() << "str_search = " << text;
    emit searchRequested(text);
}

void SearchBox::saveFor(int page)
{
    if (page == PageState::Home)
        m_savedHome = m_edit->text();
    else if (page == PageState::Upgrade)
        m_savedUpgrade = m_edit->text();
}

QString SearchBox::savedText(int page) const
{
    if (page == PageState::Home)
        return m_savedHome;
    return page == PageState::Upgrade ? m_savedUpgrade : QString();
}

void SearchBox::restore(const QString &text)
{
    m_edit->setText(text);
    m_hint->setVisible(text.isEmpty());
}

void SearchBox::keyPressed()
{
    m_hint->hide();
}

void SearchBox::textEdited(const QString &text)
{
    if (!text.isEmpty()) {
        m_edit->setFocus(Qt::OtherFocusReason);
        m_hint->hide();
    } else {
        m_hint->show();
    }
}

void SearchBox::showContextMenu(int x, int y)
{
    QMenu *menu = m_edit->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QPoint(m_edit->x() + x + m_window->x() + 16, m_edit->y() + y + m_window->y() + 3));
}
