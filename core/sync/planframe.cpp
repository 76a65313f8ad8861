#include "sync/planframe.h"

#include "sync/reportframe.h"

#include <QRegularExpression>

#include <pugixml.hpp>

#include <sstream>

const char *const PlanFrame::Action = "desktop_plan";

namespace
{

bool isPackageName(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_+][A-Za-z0-9._+-]{0,200}$"));
    return name.match(text).hasMatch();
}

bool isVersionRelease(const QString &text)
{
    static const QRegularExpression evr(QStringLiteral("^[A-Za-z0-9._+~^]+-[A-Za-z0-9._+~^]+$"));
    return text.size() <= 100 && evr.match(text).hasMatch();
}

// A number of digits only, within 0..max.
bool readNumber(const pugi::xml_attribute &attribute, qint64 max, qint64 *value)
{
    const QString text = QString::fromUtf8(attribute.value());
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok && !text.isEmpty() && text.size() <= 12 &&
           text.indexOf(QRegularExpression(QStringLiteral("[^0-9]"))) < 0 && *value <= max;
}

} // namespace

QString PlanFrame::Item::key() const
{
    return remove ? package : package + QLatin1Char('-') + versionRelease;
}

bool PlanFrame::parseWindow(const QString &text, int *start, int *end)
{
    static const QRegularExpression window(
        QStringLiteral("^([01][0-9]|2[0-3]):([0-5][0-9])-([01][0-9]|2[0-3]):([0-5][0-9])$"));
    const QRegularExpressionMatch match = window.match(text);
    if (!match.hasMatch())
        return false;
    *start = match.captured(1).toInt() * 60 + match.captured(2).toInt();
    *end = match.captured(3).toInt() * 60 + match.captured(4).toInt();
    return *start != *end;
}

QString PlanFrame::windowText(int start, int end)
{
    const auto clock = [](int minutes) {
        return QStringLiteral("%1:%2")
            .arg(minutes / 60, 2, 10, QLatin1Char('0'))
            .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    };
    return clock(start) + QLatin1Char('-') + clock(end);
}

QString PlanFrame::compose() const
{
    pugi::xml_document document;
    pugi::xml_node frame = document.append_child("frame");
    frame.append_attribute("action") = Action;
    pugi::xml_node datas = frame.append_child("datas");
    datas.append_attribute("client") = desktop.toUtf8().constData();
    datas.append_attribute("issued") = QByteArray::number(issued).constData();
    for (const Item &item : items) {
        pugi::xml_node node = datas.append_child("item");
        node.append_attribute("action") = item.remove ? "remove" : "require";
        node.append_attribute("rpm") = item.package.toUtf8().constData();
        node.append_attribute("version") = item.versionRelease.toUtf8().constData();
        node.append_attribute("deadline") = QByteArray::number(item.deadline).constData();
        node.append_attribute("window") =
            windowText(item.windowStart, item.windowEnd).toUtf8().constData();
        node.append_attribute("notice") = QByteArray::number(item.notice).constData();
    }
    std::ostringstream text;
    document.save(text, "", pugi::format_raw | pugi::format_no_declaration);
    return QString::fromStdString(text.str());
}

bool PlanFrame::parse(const QString &text, QString *error)
{
    const auto fail = [error](const QString &what) {
        *error = what;
        return false;
    };
    pugi::xml_document document;
    const QByteArray bytes = text.toUtf8();
    if (!document.load_buffer(bytes.constData(), size_t(bytes.size())))
        return fail(QStringLiteral("not XML"));
    const pugi::xml_node frame = document.child("frame");
    if (QLatin1String(frame.attribute("action").value()) != QLatin1String(Action))
        return fail(QStringLiteral("not a plan"));
    const pugi::xml_node datas = frame.child("datas");
    desktop = QString::fromUtf8(datas.attribute("client").value());
    if (desktop.isEmpty() || desktop.size() > 100)
        return fail(QStringLiteral("no desktop"));
    if (!readNumber(datas.attribute("issued"), Q_INT64_C(99999999999), &issued) || issued == 0)
        return fail(QStringLiteral("no issue time"));
    items.clear();
    for (const pugi::xml_node &node : datas.children("item")) {
        if (items.size() >= MaxItems)
            return fail(QStringLiteral("too many items"));
        Item item;
        const QLatin1String action(node.attribute("action").value());
        item.remove = action == QLatin1String("remove");
        if (!item.remove && action != QLatin1String("require"))
            return fail(QStringLiteral("unknown item action"));
        item.package = QString::fromUtf8(node.attribute("rpm").value());
        item.versionRelease = QString::fromUtf8(node.attribute("version").value());
        if (!isPackageName(item.package))
            return fail(QStringLiteral("wrong package name"));
        if (item.remove ? !item.versionRelease.isEmpty() : !isVersionRelease(item.versionRelease))
            return fail(QStringLiteral("wrong version"));
        if (!ReportFrame::isPackageText(item.key()) && !item.remove)
            return fail(QStringLiteral("wrong package string"));
        if (!readNumber(node.attribute("deadline"), Q_INT64_C(99999999999), &item.deadline) ||
            !readNumber(node.attribute("notice"), 30 * 86400, &item.notice))
            return fail(QStringLiteral("wrong deadline or notice"));
        if (!parseWindow(QString::fromUtf8(node.attribute("window").value()), &item.windowStart,
                         &item.windowEnd))
            return fail(QStringLiteral("wrong window"));
        items << item;
    }
    return true;
}
