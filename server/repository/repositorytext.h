#pragma once

#include <QString>

// Text of the repository's for people to read, on one line: control characters (line
// breaks would also split log lines) become spaces, formatting characters (bidirectional
// overrides that turn a name around, invisible joiners) go, and it is cut to maxLength with
// an ellipsis.
class RepositoryText
{
public:
    static QString plain(const QString &text, int maxLength);
};
