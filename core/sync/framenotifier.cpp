#include "sync/framenotifier.h"

#include "engine/shellfunctions.h"
#include "sync/catalogframe.h"

#include <QString>

void FrameNotifier::notifyAbout(const CatalogFrame &frame)
{
    const QString body = QStringLiteral("请前往Corvane刷新或重启以获取更新数据并查看");
    QString title;
    if (frame.action() == FrameAction::AddPush)
        title = QStringLiteral("Corvane有新增软件! ");
    else if (frame.action() == FrameAction::UpdatePush)
        title = QStringLiteral("Corvane有更新! ");
    else
        return;
    runShell(QStringLiteral("notify-send -t 5000 ") + title + body);
}
