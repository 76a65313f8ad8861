#include "sync/catalogframe.h"

#include "sync/packageadvisories.h"

#include <pugixml.hpp>

const char *const CatalogFrame::Architecture = "x86_64";
const char *const CatalogFrame::ContinuedAction = "data_resp_cont";

static QString attributeText(const pugi::xml_node &node, const char *name)
{
    return QString::fromUtf8(node.attribute(name).value());
}

// A number of plain decimal digits from 1 to most, or 0.
static int partNumber(const pugi::xml_node &node, const char *name, int most)
{
    const QString text = attributeText(node, name);
    if (text.isEmpty() || text.size() > 9)
        return 0;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        value = value * 10 + (c.unicode() - '0');
    }
    return value >= 1 && value <= most ? value : 0;
}

bool CatalogFrame::parse(const QString &text, QString *error)
{
    m_action.clear();
    m_architecture.clear();
    m_client.clear();
    m_catalogId.clear();
    m_partAttributes = false;
    m_part = m_parts = 0;
    m_packages.clear();

    const QByteArray bytes = text.toUtf8();
    pugi::xml_document document;
    const pugi::xml_parse_result result = document.load_buffer(bytes.constData(), bytes.size());
    if (!result) {
        *error = QString::fromUtf8(result.description());
        return false;
    }
    // pugixml accepts several top-level elements; a frame is one document.
    int roots = 0;
    for (const pugi::xml_node &node : document.children())
        if (node.type() == pugi::node_element)
            ++roots;
    if (roots != 1) {
        *error = QStringLiteral("More than one document element");
        return false;
    }

    const pugi::xml_node frame = document.child("frame");
    const pugi::xml_node datas = frame.child("datas");
    m_action = attributeText(frame, "action");
    m_architecture = attributeText(datas, "architecture");
    m_client = attributeText(datas, "client");
    m_catalogId = attributeText(datas, "catalog");
    m_partAttributes = datas.attribute("part") || datas.attribute("parts");
    if (m_partAttributes) {
        m_parts = partNumber(datas, "parts", MaxParts);
        m_part = partNumber(datas, "part", m_parts);
        if (!m_part)
            m_parts = 0;
    }
    // Element names carry no meaning: every child element of datas is a package.
    for (const pugi::xml_node &node : datas.children()) {
        if (node.type() != pugi::node_element)
            continue;
        CatalogPackage package;
        for (const CatalogPackage::Column &column : CatalogPackage::columns())
            package.*column.field = attributeText(node, column.attribute);
        package.iconDigest = attributeText(node, CatalogPackage::IconDigestAttribute);
        package.advisories = attributeText(node, PackageAdvisories::Attribute);
        m_packages.append(package);
    }
    return true;
}

bool CatalogFrame::isForThisArchitecture() const
{
    return m_architecture == QLatin1String(Architecture);
}

bool CatalogFrame::isCatalogPart() const
{
    return m_partAttributes &&
           (action() == FrameAction::DataResponse || action() == FrameAction::CatalogPart);
}

FrameAction CatalogFrame::actionOf(const QString &text)
{
    static const struct {
        const char *text;
        FrameAction action;
    } actions[] = {
        {"join_requ", FrameAction::JoinRequest},
        {"join_resp", FrameAction::JoinResponse},
        {"data_requ", FrameAction::DataRequest},
        {"data_resp", FrameAction::DataResponse},
        {ContinuedAction, FrameAction::CatalogPart},
        {"data_add_push", FrameAction::AddPush},
        {"data_update_push", FrameAction::UpdatePush},
        {"data_delete_push", FrameAction::DeletePush},
        {"heartbeat", FrameAction::Heartbeat},
    };
    for (const auto &entry : actions)
        if (text == QLatin1String(entry.text))
            return entry.action;
    return FrameAction::Other;
}

QString CatalogFrame::joinRequest(const QString &client)
{
    return composeAddressed(QStringLiteral("join_requ"), client);
}

QString CatalogFrame::dataRequest(const QString &client)
{
    return composeAddressed(QStringLiteral("data_requ"), client);
}

QString CatalogFrame::composeAddressed(const QString &action, const QString &client)
{
    return QStringLiteral("<frame action='") + escapeAttribute(action) +
           QStringLiteral("'><datas client='") + escapeAttribute(client) +
           QStringLiteral("' architecture='") + QLatin1String(Architecture) +
           QStringLiteral("'></datas></frame>");
}

static QString composeFrame(const QString &action, const QString &partAttributes,
                            const QVector<CatalogPackage> &packages)
{
    QString text = QStringLiteral("<frame action='") + CatalogFrame::escapeAttribute(action) +
                   QStringLiteral("'><datas architecture='") +
                   QLatin1String(CatalogFrame::Architecture) + QLatin1Char('\'') + partAttributes +
                   QLatin1Char('>');
    for (const CatalogPackage &package : packages)
        text += CatalogFrame::packageElement(QStringLiteral("package"), package);
    return text + QStringLiteral("</datas></frame>");
}

QString CatalogFrame::compose(const QString &action, const QVector<CatalogPackage> &packages)
{
    return composeFrame(action, QString(), packages);
}

QString CatalogFrame::composePart(const QString &catalogId, int part, int parts,
                                  const QVector<CatalogPackage> &packages)
{
    return composeFrame(part == 1 ? QStringLiteral("data_resp") : QLatin1String(ContinuedAction),
                        QStringLiteral(" catalog='%1' part='%2' parts='%3'")
                            .arg(escapeAttribute(catalogId))
                            .arg(part)
                            .arg(parts),
                        packages);
}

QString CatalogFrame::packageElement(const QString &elementName, const CatalogPackage &package)
{
    QString text = QLatin1Char('<') + elementName;
    for (const CatalogPackage::Column &column : CatalogPackage::columns()) {
        const QString &value = package.*column.field;
        if (value.isEmpty())
            continue;
        text += QLatin1Char(' ') + QLatin1String(column.attribute) + QStringLiteral("='") +
                escapeAttribute(value) + QLatin1Char('\'');
    }
    if (!package.iconDigest.isEmpty())
        text += QLatin1Char(' ') + QLatin1String(CatalogPackage::IconDigestAttribute) +
                QStringLiteral("='") + escapeAttribute(package.iconDigest) + QLatin1Char('\'');
    if (!package.advisories.isEmpty())
        text += QLatin1Char(' ') + QLatin1String(PackageAdvisories::Attribute) +
                QStringLiteral("='") + escapeAttribute(package.advisories) + QLatin1Char('\'');
    return text + QStringLiteral("/>");
}

QString CatalogFrame::escapeAttribute(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '&':
            escaped += QLatin1String("&amp;");
            break;
        case '<':
            escaped += QLatin1String("&lt;");
            break;
        case '>':
            escaped += QLatin1String("&gt;");
            break;
        case '\'':
            escaped += QLatin1String("&apos;");
            break;
        case '"':
            escaped += QLatin1String("&quot;");
            break;
        // Character references survive the parser's whitespace normalisation.
        case '\n':
            escaped += QLatin1String("&#10;");
            break;
        case '\r':
            escaped += QLatin1String("&#13;");
            break;
        case '\t':
            escaped += QLatin1String("&#9;");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}
