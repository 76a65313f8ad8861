#include "catalogdocument.h"

#include "sync/catalogframe.h"

#include <pugixml.hpp>

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
        packages->append(package);
    }
    return true;
}

QStringList CatalogDocument::frames(const QString &action, const QString &continuation,
                                    const QVector<CatalogPackage> &packages, int maxBytes,
                                    QStringList *skipped)
{
    // The newline a catalog file puts after each frame travels with it.
    const int budget = maxBytes - 1;
    QStringList frames;
    QVector<CatalogPackage> current;
    int currentBytes = 0;
    auto frameAction = [&]() { return frames.isEmpty() ? action : continuation; };
    auto emptyBytes = [&]() { return CatalogFrame::compose(frameAction(), {}).toUtf8().size(); };

    for (const CatalogPackage &package : packages) {
        const int bytes =
            CatalogFrame::packageElement(QStringLiteral("package"), package).toUtf8().size();
        if (!current.isEmpty() && currentBytes + bytes > budget) {
            frames << CatalogFrame::compose(frameAction(), current);
            current.clear();
        }
        if (current.isEmpty())
            currentBytes = emptyBytes();
        if (currentBytes + bytes > budget) {
            skipped->append(package.name);
            continue;
        }
        current << package;
        currentBytes += bytes;
    }
    if (!current.isEmpty() || frames.isEmpty())
        frames << CatalogFrame::compose(frameAction(), current);
    return frames;
}
