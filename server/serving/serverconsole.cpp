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

namespace
{

// The answer of the line running on this thread, when someone waits for it.
thread_local QString *answerHeard = nullptr;

} // namespace

ServerConsole::ServerConsole(Print print) : m_print(std::move(print)) {}

void ServerConsole::heard(const QString &line)
{
    if (answerHeard && (line.startsWith(QLatin1String("ok ")) ||
                        line.startsWith(QLatin1String("error ")) || line == QLatin1String("ok")))
        *answerHeard = line;
}

void ServerConsole::add(const QString &verb, int least, int most, Verb run)
{
    m_verbs.append({verb, least, most, std::move(run)});
}

ServerConsole::Line ServerConsole::split(const QString &text)
{
    return {text, text.split(QLatin1Char(' '), Qt::SkipEmptyParts),
            FleetAudit::Actor::local(QStringLiteral("console")), false};
}

bool ServerConsole::run(const QString &text)
{
    return run(text, FleetAudit::Actor::local(QStringLiteral("console")));
}

bool ServerConsole::run(const QString &text, const FleetAudit::Actor &actor)
{
    Line line = split(text);
    if (line.words.isEmpty() || line.words.first().startsWith(QLatin1Char('#')))
        return true;
    line.actor = actor;
    QString heardHere;
    QString *const outer = answerHeard;
    answerHeard = &heardHere;
    bool goOn = true;
    bool known = false;
    const int count = line.words.size();
    for (const Entry &entry : qAsConst(m_verbs))
        if (entry.verb == line.words.first() && count >= entry.least && count <= entry.most) {
            goOn = entry.run(line);
            known = true;
            break;
        }
    if (!known)
        m_print(QStringLiteral("error unknown command: ") + text);
    answerHeard = outer;
    if (outer)
        *outer = heardHere;
    if (m_audit && !line.audited)
        m_audit(line, heardHere);
    return goOn;
}

QString ServerConsole::answer(const QString &text, const FleetAudit::Actor &actor)
{
    QString heardHere;
    QString *const outer = answerHeard;
    answerHeard = &heardHere;
    run(text, actor);
    answerHeard = outer;
    return heardHere;
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
