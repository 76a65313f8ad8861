#pragma once

#include "repository/versionhold.h"
#include "rollout/rolloutbook.h"
#include "rollout/rolloutpolicy.h"
#include "serving/repositoryfollower.h"
#include "serving/serverconsole.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CatalogServer;
class FleetIngest;
class QCommandLineParser;

// The staged rollouts in the running service: their options, the promote and resume
// sub-commands and command lines, the repository's versions handed to the book, and a look
// each second for results, other processes' commands and stage delays.
class RolloutService
{
public:
    // rollout-pilot, stage-delay and halt-failures, for the parser.
    static QList<QCommandLineOption> options();
    // The policy those options give; false with *error saying which is wrong.
    static bool policy(const QCommandLineParser &parser, RolloutPolicy *policy, QString *error);

    // "promote PACKAGE", "resume PACKAGE" or "halt PACKAGE" as a sub-command: its exit status after
    // the one line answer; -1 when the arguments are something else.
    static int subcommand(const QStringList &positional, const QString &fleetPath);

    // With pilot groups set, opens the book in the fleet database. groups: those configured;
    // groupOf: a desktop's group (none: every desktop is in "default"); fleet (may be null)
    // writes the status page again when a rollout changes. False with *error when the
    // database cannot be opened or is not named.
    bool start(const RolloutPolicy &policy, const QStringList &groups, RolloutBook::GroupOf groupOf,
               const QString &fleetPath, CatalogServer *server, FleetIngest *fleet, QString *error);
    // Hands the repository's newest versions to the book.
    void follow(RepositoryFollower::Settings *settings) const;
    // A rollout command line, answered and in the audit log as its actor's; false when the
    // line is not one.
    bool command(const ServerConsole::Line &line) const;
    // The holds now (none without pilot groups), for the first catalog.
    VersionHolds holds() const;
    // One look, each second: results, other processes' commands and stage delays. New holds
    // are logged and handed to apply.
    void look(const std::function<void(const VersionHolds &holds)> &apply) const;
    // promote and resume on the console.
    void addCommands(ServerConsole *console) const;

private:
    // The holds now; *changed, said in a line, when they differ from those last taken.
    VersionHolds takeHolds(bool *changed) const;

    CatalogServer *m_server = nullptr;
    FleetIngest *m_fleet = nullptr;
    std::unique_ptr<RolloutBook> m_book;
    mutable quint64 m_paged = 0; // the book's changes the status page shows
};
