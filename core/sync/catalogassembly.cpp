#include "sync/catalogassembly.h"

#include "sync/catalogframe.h"

bool CatalogAssembly::isGathering(const CatalogFrame &part) const
{
    return m_parts > 0 && part.parts() == m_parts && part.catalogId() == m_catalogId;
}

bool CatalogAssembly::add(const CatalogFrame &part)
{
    if (part.parts() == 0)
        return false;
    if (!isGathering(part)) {
        clear();
        m_catalogId = part.catalogId();
        m_parts = part.parts();
    }
    m_received.insert(part.part());
    for (const CatalogPackage &package : part.packages())
        if (!m_names.contains(package.name))
            m_names.insert(package.name, m_names.size() + 1);
    return m_received.size() == m_parts;
}

void CatalogAssembly::clear()
{
    m_catalogId.clear();
    m_parts = 0;
    m_received.clear();
    m_names.clear();
}
