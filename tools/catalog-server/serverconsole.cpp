#include "serverconsole.h"

#include <QFile>
#include <QTextStream>

#include <string>

QString ServerConsole::Line::rest(int from) const
{
    // Only spaces lie between words: each is found where the one before ends.
    int at = 0;
    for (int word = 0; word < from && word < words.size(); ++word)
        at = text.indexOf(words[word], at) + words[word].size();
    // After the one space that ends the word before.
    if (from == 0)
        return text;
    return from < words.size() ? text.mid(at + 1) : QString();
}

ServerConsole::ServerConsole(Print print) : m_print(std::move(print)) {}

void ServerConsole::add(const QString &verb, int least, int most, Verb run)
{
    m_verbs.append({verb, least, most, std::move(run)});
}

ServerConsole::Line ServerConsole::split(const QString &text)
{
    return {text, text.split(QLatin1Char(' '), Qt::SkipEmptyParts)};
}

bool ServerConsole::run(const QString &text)
{
    const Line line = split(text);
    if (line.words.isEmpty() || line.words.first().startsWith(QLatin1Char('#')))
        return true;
    const int count = line.words.size();
    for (const Entry &entry : qAsConst(m_verbs))
        if (entry.verb == line.words.first() && count >= entry.least && count <= entry.most)
            return entry.run(line);
    m_print(QStringLiteral("error unknown command: ") + text);
    return true;
}

bool ServerConsole::runFile(const QString &path, bool *stopped, QString *error)
{
    *stopped = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read ") + path;
        return false;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd() && !*stopped)
        *stopped = !run(in.readLine());
    return true;
}

bool ServerConsole::runInput(std::istream &in)
{
    std::string text;
    while (std::getline(in, text))
        if (!run(QString::fromStdString(text)))
            return true;
    return false;
}
