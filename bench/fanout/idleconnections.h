#pragma once

// A catalog server over direct TCP holding many connections that send nothing (what one
// local account, or a fleet whose senders keep their connections open, can do): its threads,
// resident memory and open files, and the time it takes to answer a join from a desktop beside
// them. The floor: the same figures of the same server before those connections came.
class IdleConnections
{
public:
    // Prints the figures (bench/README.md); 0 when every one was measured.
    static int run(unsigned short port, int connections);
};
