#include "serving/serverconsole.h"

#include <QFile>
#include <QTextStream>

#include <cerrno>

#include <poll.h>
#include <unistd.h>

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

bool ServerConsole::runInput(int fd, int stopFd)
{
    QByteArray pending;
    char chunk[4096];
    for (;;) {
        pollfd watched[] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (watched[1].revents)
            return false;
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0) // a last line without its newline counts too
            return !pending.isEmpty() && !run(QString::fromUtf8(pending));
        pending.append(chunk, int(got));
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString text = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            if (!run(text))
                return true;
        }
    }
}
