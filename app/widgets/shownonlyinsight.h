#pragma once

#include "widgets/cellwidgettable.h"

#include <QEvent>

// A cell widget that stays hidden and unpolished until its CellWidgetTable shows it in sight.
// Qt shows, polishes and lays out every widget given to a cell at once; with the application
// style sheet that leaves several KiB of style caches behind for each of thousands of rows
// nobody scrolls to. Outside such a table it behaves as Base.
template <typename Base> class ShownOnlyInSight : public Base
{
public:
    using Base::Base;

    void setVisible(bool visible) override
    {
        if (visible && CellWidgetTable::holdsBack(this))
            return;
        Base::setVisible(visible);
    }

protected:
    bool event(QEvent *event) override
    {
        // Polished when shown, in the style it is shown in.
        if (event->type() == QEvent::PolishRequest && CellWidgetTable::holdsBack(this))
            return true;
        return Base::event(event);
    }

    // A child made before the widget is shown waits with it.
    void holdBackWithThis(QWidget *child) { child->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PolishRequest && watched->parent() == this &&
            CellWidgetTable::holdsBack(this))
            return true;
        return Base::eventFilter(watched, event);
    }
};
