#pragma once

#include "repositoryfollower.h"
#include "versionhold.h"

#include <QCommandLineOption>
#include <QString>
#include <QStringList>

#include <functional>

class CatalogServer;
class FleetIngest;
class QCommandLineParser;
class RolloutBook;

// The staged rollouts in the running service: their options, the promote and resume
// sub-commands and command lines, the repository's versions handed to the book, and a look
// each second for results, other processes' commands and stage delays.
class RolloutService
{
public:
    // Adds the options to the parser.
    explicit RolloutService(QCommandLineParser *parser);

    // "promote PACKAGE" or "resume PACKAGE" as a sub-command: its exit status after the one
    // line answer; -1 when the arguments are something else.
    static int subcommand(const QStringList &positional, const QString &fleetPath);

    // With pilot groups set, opens the book in the fleet database; fleet (may be null) writes
    // the status page again when a rollout changes. False with *error (exit 2) when the
    // options are wrong or the database cannot be opened.
    bool start(const QString &fleetPath, CatalogServer *server, FleetIngest *fleet, QString *error);
    // Hands the repository's newest versions to the book.
    void follow(RepositoryFollower::Settings *settings) const;
    // A rollout command line, answered; false when the line is not one.
    bool command(const QString &line) const;
    // Looks each second; new holds are logged and handed to apply (on that thread).
    void watch(std::function<void(const VersionHolds &holds)> apply) const;

private:
    QCommandLineParser *const m_parser;
    const QCommandLineOption m_pilot;
    const QCommandLineOption m_stageDelay;
    const QCommandLineOption m_haltFailures;
    CatalogServer *m_server = nullptr;
    FleetIngest *m_fleet = nullptr;
    RolloutBook *m_book = nullptr; // never deleted: threads use it until the process ends
};
