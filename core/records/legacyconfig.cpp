#include "records/legacyconfig.h"

#include "records/paths.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <cstring>

char *m_db_name = nullptr;
char *m_db_username = nullptr;
char *m_db_passwd = nullptr;

int read_config(const char *key, char *path, char **value)
{
    FILE *file = std::fopen(path, "r");
    if (!file)
        return -1;

    const size_t keyLength = std::strlen(key);
    char line[200];
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, key, keyLength) != 0)
            continue;
        char *p = line + keyLength;
        while (*p == ' ')
            ++p;
        if (*p != '=')
            continue;
        ++p;
        while (*p == ' ')
            ++p;
        if (*p == '\0')
            continue;
        for (char *q = p; *q; ++q)
            if (*q == '\t' || *q == '\n' || *q == ' ')
                *q = '\0';
        if (*p == '\0')
            continue;
        *value = strdup(p);
        std::fclose(file);
        return 0;
    }
    std::fclose(file);
    *value = strdup("");
    return 0;
}

void load_mysql_config_info()
{
    QByteArray path = Paths::legacyDatabaseConfig().toUtf8();
    read_config("database", path.data(), &m_db_name);
    read_config("username", path.data(), &m_db_username);
    read_config("password", path.data(), &m_db_passwd);
}
