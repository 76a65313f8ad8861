#include "shell/stalenotice.h"

#include "sync/catalogfreshness.h"

#include <QEvent>

StaleNotice::StaleNotice(QWidget *host) : QLabel(host)
{
    setObjectName(QStringLiteral("label_stale"));
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setStyleSheet(QStringLiteral("#label_stale { font-size: 13px; color: #b35c00; "
                                 "background: #fff4e0; border: 1px solid #f0c36d; "
                                 "padding: 6px; }"));
    hide();
    host->installEventFilter(this);
}

QString StaleNotice::text(qint64 maxAgeSeconds)
{
    const qint64 hours = maxAgeSeconds / 3600;
    const QString age = hours >= 24 && hours % 24 == 0 ? QStringLiteral("%1天").arg(hours / 24)
                        : hours >= 1                   ? QStringLiteral("%1小时").arg(hours)
                                                       : QStringLiteral("%1秒").arg(maxAgeSeconds);
    return QStringLiteral("软件目录已超过%1未收到服务器的更新，显示的软件和版本可能不是最新的。")
        .arg(age);
}

void StaleNotice::setStale(bool stale)
{
    if (stale) {
        setText(text(CatalogFreshness::maxAge()));
        place();
        raise();
    }
    setVisible(stale);
}

bool StaleNotice::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        place();
    return QLabel::eventFilter(watched, event);
}

void StaleNotice::place()
{
    const QWidget *host = parentWidget();
    const int margin = 6;
    const int width = host->width() - 2 * margin;
    const int height = heightForWidth(width);
    setGeometry(margin, host->height() - height - margin, width, height);
}
