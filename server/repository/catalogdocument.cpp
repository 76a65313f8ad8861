#include "repository/catalogdocument.h"

#include "sync/catalogframe.h"
#include "sync/packageadvisories.h"

#include <pugixml.hpp>

#include <QCryptographicHash>
#include <QFile>

bool CatalogDocument::load(const QString &path, QVector<CatalogPackage> *packages, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    pugi::xml_document document;
    const pugi::xml_parse_result result = document.load_buffer(bytes.constData(), bytes.size());
    if (!result) {
        *error = path + QStringLiteral(": ") + QString::fromUtf8(result.description());
        return false;
    }
    packages->clear();
    for (const pugi::xml_node &node : document.document_element().children()) {
        if (node.type() != pugi::node_element)
            continue;
        CatalogPackage package;
        for (const CatalogPackage::Column &column : CatalogPackage::columns())
            package.*column.field = QString::fromUtf8(node.attribute(column.attribute).value());
        package.advisories =
            QString::fromUtf8(node.attribute(PackageAdvisories::Attribute).value());
        packages->append(package);
    }
    return true;
}

QVector<QVector<CatalogPackage>> CatalogDocument::split(const QVector<CatalogPackage> &packages,
                                                        int frameBytes, int maxBytes,
                                                        QStringList *skipped)
{
    // The newline a catalog file puts after each frame travels with it.
    const int budget = maxBytes - 1 - frameBytes;
    QVector<QVector<CatalogPackage>> groups(1);
    int groupBytes = 0;
    for (const CatalogPackage &package : packages) {
        const int bytes =
            CatalogFrame::packageElement(QStringLiteral("package"), package).toUtf8().size();
        if (bytes > budget) {
            skipped->append(package.name);
            continue;
        }
        if (groupBytes + bytes > budget) {
            groups.append(QVector<CatalogPackage>());
            groupBytes = 0;
        }
        groups.last() << package;
        groupBytes += bytes;
    }
    return groups;
}

QStringList CatalogDocument::frames(const QString &action, const QVector<CatalogPackage> &packages,
                                    int maxBytes, QStringList *skipped)
{
    const int frameBytes = CatalogFrame::compose(action, {}).toUtf8().size();
    QStringList frames;
    for (const QVector<CatalogPackage> &group : split(packages, frameBytes, maxBytes, skipped))
        frames << CatalogFrame::compose(action, group);
    return frames;
}

QStringList CatalogDocument::catalogFrames(const QVector<CatalogPackage> &packages, int maxBytes,
                                           QStringList *skipped)
{
    const QString action = QStringLiteral("data_resp");
    QStringList whole;
    const QStringList single = frames(action, packages, maxBytes, &whole);
    if (single.size() == 1) {
        *skipped += whole;
        return single;
    }
    // Room for the part attributes at their longest.
    const QString longestId(CatalogIdLength, QLatin1Char('0'));
    const int frameBytes =
        CatalogFrame::composePart(longestId, CatalogFrame::MaxParts, CatalogFrame::MaxParts, {})
            .toUtf8()
            .size();
    const QVector<QVector<CatalogPackage>> groups = split(packages, frameBytes, maxBytes, skipped);

    // The same packages split the same way get the same id, so parts of two deliveries of
    // one catalog may complete each other; any other catalog or split gets another.
    QCryptographicHash digest(QCryptographicHash::Sha1);
    for (const QVector<CatalogPackage> &group : groups) {
        for (const CatalogPackage &package : group)
            digest.addData(
                CatalogFrame::packageElement(QStringLiteral("package"), package).toUtf8());
        digest.addData("\n");
    }
    const QString id = QString::fromLatin1(digest.result().toHex().left(CatalogIdLength));
    QStringList parts;
    for (int i = 0; i < groups.size(); ++i)
        parts << CatalogFrame::composePart(id, i + 1, groups.size(), groups.at(i));
    return parts;
}
