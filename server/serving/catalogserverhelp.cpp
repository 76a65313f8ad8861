// The texts --help shows of the catalog server's protocol and console, kept apart from the
// code that serves.
#include "serving/catalogserver.h"

const char *const CatalogServer::CatalogProtocol =
    "A whole catalog is one data_resp frame when it fits (--max-frame, newline included).\n"
    "Otherwise it is sent, and written to the catalog file, as several frames, the first\n"
    "data_resp and the others data_resp_cont, whose datas says which part of how many each\n"
    "is and which catalog it belongs to:\n"
    "  <datas architecture='x86_64' catalog='ID' part='2' parts='9'>\n"
    "ID is made from the packages and the split, so two deliveries of one catalog share it.\n"
    "The store keeps each part's rows as it comes and deletes the rows the catalog lacks only\n"
    "when all parts of one ID have arrived; a lost part means nothing is deleted. A store\n"
    "that knows no parts takes the first for the whole catalog and adds the others.\n"
    "push and publish with the action data_resp send a whole catalog the same way.";

const char *const CatalogServer::CommandsHelp =
    "Commands, one per line, from --commands and then from standard input:\n"
    "  push ACTION FILE [ADDRESS]  send the packages of catalog FILE as ACTION frames to\n"
    "                              ADDRESS, or to every client that has joined (through\n"
    "                              the broker: once, to the broadcast address)\n"
    "  push ACTION FILE group NAME the same to the desktops of group NAME only, as the\n"
    "                              group's own pushes go\n"
    "  publish ACTION FILE         append them as ACTION frames to the push file\n"
    "  unpublish                   empty the push file\n"
    "  catalog FILE                serve catalog FILE from now on (rewrites the catalog file)\n"
    "  send ADDRESS TEXT           send the rest of the line as one message\n"
    "  heartbeat                   send a signed heartbeat now, as --heartbeat does\n"
    "  promote PACKAGE             give a rollout's new version to every group\n"
    "  resume PACKAGE              the same for a halted rollout\n"
    "  halt PACKAGE                keep a rollout's new version to its pilot groups\n"
    "  reread                      read the repository now and push what changed\n"
    "  quit                        stop (queued messages are still delivered); SIGTERM and\n"
    "                              SIGINT stop the same way\n"
    "Each command answers with one line \"ok ...\" or \"error ...\" on standard output,\n"
    "and goes to the fleet database's audit log with its answer.\n"
    "A catalog FILE is XML: a root element with one element per package carrying the\n"
    "attributes name, icon, exec, rpm, class, version, size, star, time, desc, rpmdeps.";
