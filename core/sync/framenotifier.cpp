#include "sync/framenotifier.h"

#include "engine/shellfunctions.h"
#include "sync/catalogframe.h"
#include "sync/packageadvisories.h"

#include <QString>

void FrameNotifier::notifyAbout(const CatalogFrame &frame)
{
    const QString body = QStringLiteral("请前往Corvane刷新或重启以获取更新数据并查看");
    QString title;
    switch (frame.action()) {
    case FrameAction::AddPush:
        title = QStringLiteral("Corvane有新增软件! ");
        break;
    case FrameAction::UpdatePush:
        title = QStringLiteral("Corvane有更新! ");
        break;
    case FrameAction::JoinRequest:
    case FrameAction::JoinResponse:
    case FrameAction::DataRequest:
    case FrameAction::DataResponse:
    case FrameAction::CatalogPart:
    case FrameAction::DeletePush:
    case FrameAction::Heartbeat:
    case FrameAction::Other:
        return;
    }
    // A push that brings a security fix says so first, with its gravest severity.
    QString gravest;
    bool security = false;
    for (const CatalogPackage &package : frame.packages()) {
        QString severity;
        if (!PackageAdvisories::securityFixesFor(PackageAdvisories::parse(package.advisories),
                                                 QString(), &severity)
                 .isEmpty()) {
            security = true;
            if (PackageAdvisories::rank(severity) > PackageAdvisories::rank(gravest))
                gravest = severity;
        }
    }
    const QString mark =
        security
            ? QStringLiteral("【") + PackageAdvisories::securityMark(gravest) + QStringLiteral("】")
            : QString();
    runShell(QStringLiteral("notify-send -t 5000 ") + title + mark + body);
}
