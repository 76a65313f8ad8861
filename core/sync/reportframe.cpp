#include "sync/reportframe.h"

#include "records/operationword.h"
#include "records/quoting.h"
#include "sync/catalogframe.h"

#include <pugixml.hpp>

#include <sstream>

const char *const ReportFrame::ResultAction = "report_result";
const char *const ReportFrame::InventoryAction = "report_inventory";
const char *const ReportFrame::AckAction = "report_ack";

namespace
{

// A clock later than this is taken for a broken field (year 2242).
constexpr qint64 LatestTime = qint64(1) << 33;

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

pugi::xml_node frameDatas(pugi::xml_document &document, const char *action, const QString &client,
                          const char *architecture)
{
    pugi::xml_node frame = document.append_child("frame");
    frame.append_attribute("action") = action;
    pugi::xml_node datas = frame.append_child("datas");
    datas.append_attribute("client") = utf8(client).constData();
    datas.append_attribute("architecture") = architecture;
    return datas;
}

QString printed(const pugi::xml_document &document)
{
    std::ostringstream out;
    document.save(out, "",
                  pugi::format_raw | pugi::format_no_declaration |
                      pugi::format_attribute_single_quote,
                  pugi::encoding_utf8);
    return QString::fromStdString(out.str());
}

QString attributeText(const pugi::xml_node &node, const char *name)
{
    return QString::fromUtf8(node.attribute(name).value());
}

// Plain decimal digits, at most 18 of them, optionally after one '-'.
bool number(const QString &text, qint64 *value)
{
    const bool negative = text.startsWith(QLatin1Char('-'));
    const QString digits = negative ? text.mid(1) : text;
    if (digits.isEmpty() || digits.size() > 18)
        return false;
    qint64 result = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        result = result * 10 + (c.unicode() - '0');
    }
    *value = negative ? -result : result;
    return true;
}

bool hasControl(const QString &text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c.isSurrogate())
            return true;
    return false;
}

// Only the attributes a report names, each once.
bool onlyAttributes(const pugi::xml_node &node, std::initializer_list<const char *> names)
{
    int count = 0;
    for (const pugi::xml_attribute &attribute : node.attributes()) {
        bool known = false;
        for (const char *name : names)
            known = known || qstrcmp(attribute.name(), name) == 0;
        if (!known)
            return false;
        ++count;
    }
    return count == int(names.size());
}

} // namespace

QString ReportFrame::composeResult(const QString &client, const Result &result)
{
    pugi::xml_document document;
    pugi::xml_node report = frameDatas(document, ResultAction, client, CatalogFrame::Architecture)
                                .append_child("report");
    report.append_attribute("id") = utf8(result.id).constData();
    report.append_attribute("time") = static_cast<long long>(result.time);
    report.append_attribute("oper") = utf8(result.oper).constData();
    report.append_attribute("rpm") = utf8(result.rpm).constData();
    report.append_attribute("code") = result.code;
    report.append_attribute("echo") = utf8(cleanEcho(result.echo)).constData();
    return printed(document);
}

QString ReportFrame::composeInventory(const QString &client, const Inventory &inventory,
                                      int maxBytes)
{
    pugi::xml_document document;
    pugi::xml_node report =
        frameDatas(document, InventoryAction, client, CatalogFrame::Architecture)
            .append_child("report");
    report.append_attribute("id") = utf8(inventory.id).constData();
    report.append_attribute("time") = static_cast<long long>(inventory.time);
    report.append_attribute("sequence") = static_cast<unsigned long long>(inventory.sequence);
    int bytes = utf8(printed(document)).size();
    int count = 0;
    for (const QString &package : inventory.packages) {
        // <package rpm='...'/> and the escaping a package string never needs.
        const int more = utf8(package).size() + 18;
        if (bytes + more > maxBytes || count == MaxPackages)
            break;
        report.append_child("package").append_attribute("rpm") = utf8(package).constData();
        bytes += more;
        ++count;
    }
    return printed(document);
}

QString ReportFrame::composeAck(const QString &client, const QStringList &ids)
{
    pugi::xml_document document;
    pugi::xml_node datas = frameDatas(document, AckAction, client, "");
    for (const QString &id : ids)
        datas.append_child("report").append_attribute("id") = utf8(id).constData();
    return printed(document);
}

ReportFrame::Kind ReportFrame::kindOf(const QString &action)
{
    if (action == QLatin1String(ResultAction))
        return Kind::Result;
    if (action == QLatin1String(InventoryAction))
        return Kind::Inventory;
    if (action == QLatin1String(AckAction))
        return Kind::Ack;
    return Kind::None;
}

bool ReportFrame::isReportId(const QString &text)
{
    const int dash = text.indexOf(QLatin1Char('-'));
    if (dash != 16 || text.size() > 16 + 1 + 18)
        return false;
    for (int i = 0; i < 16; ++i) {
        const QChar c = text.at(i);
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    qint64 n = 0;
    const QString counter = text.mid(17);
    return !counter.startsWith(QLatin1Char('0')) && number(counter, &n) && n >= 1;
}

bool ReportFrame::isPackageText(const QString &text)
{
    if (text.size() > MaxPackageText || text.count(QLatin1Char('-')) < 2 ||
        !Quoting::isSafePathComponent(text))
        return false;
    for (const QChar c : text)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && !QStringLiteral("._+~^-").contains(c))
            return false;
    return true;
}

QString ReportFrame::cleanEcho(const QString &text)
{
    QString clean;
    clean.reserve(qMin(text.size(), MaxEcho));
    for (const QChar c : text) {
        if (clean.size() == MaxEcho)
            break;
        const bool control = c.category() == QChar::Other_Control ||
                             c.category() == QChar::Other_Format || c.isSurrogate();
        clean += control ? QLatin1Char(' ') : c;
    }
    // A character cut in half by the bound would be a lone surrogate.
    if (!clean.isEmpty() && clean.at(clean.size() - 1).isHighSurrogate())
        clean.chop(1);
    return clean;
}

bool ReportFrame::parse(const QString &text, QString *error)
{
    m_kind = Kind::None;
    m_client.clear();
    m_result = Result();
    m_inventory = Inventory();
    m_ackIds.clear();
    const auto fail = [error](const QString &why) {
        *error = why;
        return false;
    };

    const QByteArray bytes = text.toUtf8();
    pugi::xml_document document;
    if (!document.load_buffer(bytes.constData(), size_t(bytes.size()), pugi::parse_default))
        return fail(QStringLiteral("not XML"));
    int roots = 0;
    for (const pugi::xml_node &node : document.children())
        roots += node.type() == pugi::node_element ? 1 : 0;
    const pugi::xml_node frame = document.child("frame");
    const pugi::xml_node datas = frame.child("datas");
    if (roots != 1 || !frame || !datas || frame.first_child() != datas || datas.next_sibling())
        return fail(QStringLiteral("not one frame with one datas"));
    const Kind kind = kindOf(attributeText(frame, "action"));
    if (kind == Kind::None)
        return fail(QStringLiteral("not a report action"));
    m_client = attributeText(datas, "client");
    if (m_client.size() > 15)
        return fail(QStringLiteral("client too long"));
    const QString architecture = attributeText(datas, "architecture");
    if (architecture != QLatin1String(kind == Kind::Ack ? "" : CatalogFrame::Architecture))
        return fail(QStringLiteral("wrong architecture"));

    if (kind == Kind::Ack) {
        for (const pugi::xml_node &report : datas.children()) {
            const QString id = attributeText(report, "id");
            if (qstrcmp(report.name(), "report") != 0 || !isReportId(id) ||
                m_ackIds.size() == MaxAckIds)
                return fail(QStringLiteral("bad acknowledgement"));
            m_ackIds << id;
        }
        m_kind = kind;
        return true;
    }

    const pugi::xml_node report = datas.first_child();
    if (qstrcmp(report.name(), "report") != 0 || report.next_sibling())
        return fail(QStringLiteral("not one report"));
    const QString id = attributeText(report, "id");
    if (!isReportId(id))
        return fail(QStringLiteral("bad id"));
    qint64 time = 0;
    if (!number(attributeText(report, "time"), &time) || time <= 0 || time > LatestTime)
        return fail(QStringLiteral("bad time"));

    if (kind == Kind::Result) {
        if (!onlyAttributes(report, {"id", "time", "oper", "rpm", "code", "echo"}) ||
            report.first_child())
            return fail(QStringLiteral("unexpected attribute or content"));
        m_result.id = id;
        m_result.time = time;
        // A key; the label an earlier store sent is read as the key it stands for.
        const QString oper = attributeText(report, "oper");
        const bool deferral = oper == OperationWord::deferralKey();
        const std::optional<Operation> operation = OperationWord::fromKey(oper);
        if (!deferral && (!operation || *operation == Operation::OpenApp))
            return fail(QStringLiteral("bad oper"));
        m_result.oper = deferral ? oper : OperationWord::key(*operation);
        m_result.rpm = attributeText(report, "rpm");
        if (!isPackageText(m_result.rpm))
            return fail(QStringLiteral("bad rpm"));
        qint64 code = 1;
        if (!number(attributeText(report, "code"), &code) || code > 0 || code < -2)
            return fail(QStringLiteral("bad code"));
        // A deferral is no failure: one claiming a code would be listed as one.
        if (deferral && code != 0)
            return fail(QStringLiteral("bad code"));
        m_result.code = int(code);
        m_result.echo = attributeText(report, "echo");
        if (m_result.echo.size() > MaxEcho || hasControl(m_result.echo))
            return fail(QStringLiteral("bad echo"));
        m_kind = kind;
        return true;
    }

    if (!onlyAttributes(report, {"id", "time", "sequence"}))
        return fail(QStringLiteral("unexpected attribute"));
    qint64 sequence = 0;
    if (!number(attributeText(report, "sequence"), &sequence) || sequence < 0)
        return fail(QStringLiteral("bad sequence"));
    m_inventory.id = id;
    m_inventory.time = time;
    m_inventory.sequence = quint64(sequence);
    for (const pugi::xml_node &package : report.children()) {
        const QString rpm = attributeText(package, "rpm");
        if (qstrcmp(package.name(), "package") != 0 || !onlyAttributes(package, {"rpm"}) ||
            !isPackageText(rpm) || package.first_child())
            return fail(QStringLiteral("bad package"));
        if (m_inventory.packages.size() == MaxPackages)
            return fail(QStringLiteral("too many packages"));
        m_inventory.packages << rpm;
    }
    m_kind = kind;
    return true;
}
