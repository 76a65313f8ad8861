#include "records/clientconfig.h"

#include "records/paths.h"

#include <iniparser.h>

#include <QByteArray>

namespace ClientConfig
{

QString value(const char *key)
{
    const QByteArray file = Paths::configFile().toUtf8();
    dictionary *dict = iniparser_load(file.constData());
    if (!dict)
        return QString();
    const QByteArray entry = QByteArray("client-conf:") + key;
    const char *text = iniparser_getstring(dict, entry.constData(), nullptr);
    const QString result = text ? QString::fromUtf8(text) : QString();
    iniparser_freedict(dict);
    return result;
}

} // namespace ClientConfig
