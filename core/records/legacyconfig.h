#pragma once

// The old key=value reader, bound to doc/database.conf. Kept for callers of the library;
// nothing in the store itself reads these values.
extern "C" {

extern char *m_db_name;
extern char *m_db_username;
extern char *m_db_passwd;

// 0 with *value a heap copy (the empty text when no line matches); -1 when the file cannot
// be opened, *value untouched. The caller frees *value.
int read_config(const char *key, char *path, char **value);
void load_mysql_config_info();
}
