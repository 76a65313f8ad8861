#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// The catalog server's command lines, one verb a line: a table of verbs, each with how many
// words it takes, read from a file and then from standard input. Each line answers with one
// line "ok ..." or "error ..." (said by the verb; a line no verb takes is answered here).
class ServerConsole
{
public:
    // One command line split into words; rest() keeps the line's own spacing.
    struct Line {
        QString text;
        QStringList words;
        // The line after the space that ends word from - 1, as it stands.
        QString rest(int from) const;
    };
    // Runs one command; false stops the console ("quit").
    using Verb = std::function<bool(const Line &line)>;
    using Print = std::function<void(const QString &line)>;

    explicit ServerConsole(Print print);

    // Lines starting with verb and holding least..most words, the verb counted, run with run.
    void add(const QString &verb, int least, int most, Verb run);
    // Blank lines and lines starting with "#" are skipped. False when the line stopped it.
    bool run(const QString &text);
    // Each line of file, until one stops it; false with *error when it cannot be read,
    // *stopped set when a line stopped it.
    bool runFile(const QString &path, bool *stopped, QString *error);
    // Each line read from descriptor fd until its end, until one line stops it (true then)
    // or until stopFd turns readable.
    bool runInput(int fd, int stopFd);

    static Line split(const QString &text);

private:
    struct Entry {
        QString verb;
        int least;
        int most;
        Verb run;
    };
    const Print m_print;
    QVector<Entry> m_verbs;
};
