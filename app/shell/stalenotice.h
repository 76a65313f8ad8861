#pragma once

#include <QLabel>

// The line the window shows while the catalog is not current (no fresh signed frame for
// max_catalog_age): at the foot of the category list, where nothing else is drawn, hidden
// again once a fresh frame comes.
class StaleNotice : public QLabel
{
    Q_OBJECT

public:
    // Placed on host and hidden until setStale(true).
    explicit StaleNotice(QWidget *host);
    // The words for a catalog older than maxAgeSeconds.
    static QString text(qint64 maxAgeSeconds);

public slots:
    void setStale(bool stale);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();
};
