#include "repository/repositorytext.h"

QString RepositoryText::plain(const QString &text, int maxLength)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            out += QLatin1Char(' ');
        else if (c.category() != QChar::Other_Format)
            out += c;
    }
    out = out.simplified();
    if (out.size() > maxLength) {
        out.truncate(maxLength - 1);
        if (out.at(out.size() - 1).isHighSurrogate())
            out.chop(1);
        out += QChar(0x2026);
    }
    return out;
}
