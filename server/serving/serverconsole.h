#pragma once

#include "fleet/fleetaudit.h"

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
        FleetAudit::Actor actor;
        // Set by a verb that wrote the audit row in its change's own transaction.
        mutable bool audited = false;
        // The line after the space that ends word from - 1, as it stands.
        QString rest(int from) const;
    };
    // Runs one command; false stops the console ("quit").
    using Verb = std::function<bool(const Line &line)>;
    using Print = std::function<void(const QString &line)>;

    // Lines starting with verb and holding least..most words, the verb counted, run with run.
    void add(const QString &verb, int least, int most, Verb run);
    // Each line that ran a verb (or named none) goes to the audit log, with its answer.
    using Audit = std::function<void(const Line &line, const QString &answer)>;

    explicit ServerConsole(Print print);

    // Blank lines and lines starting with "#" are skipped. False when the line stopped it.
    // actor: who sent the line (the account this process runs as at the console).
    bool run(const QString &text);
    bool run(const QString &text, const FleetAudit::Actor &actor);
    // Runs a line as run() does and returns its answer, the last "ok ..." or "error ..."
    // line printed on this thread meanwhile.
    QString answer(const QString &text, const FleetAudit::Actor &actor);
    // A line printed (by CatalogServer::print): taken as the answer of a line running on
    // this thread.
    static void heard(const QString &line);
    void setAudit(Audit audit) { m_audit = std::move(audit); }
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
    Audit m_audit;
    QVector<Entry> m_verbs;
};
