#pragma once

// What a desktop that is sent nothing costs a cluster of three private nodes, for each path the
// answers to it (join_resp, data_resp) can take beside its consumer of the stream of pushes:
// a quorum queue of its own, a classic queue of its own, or none. The floor is the stream's
// consumer alone, which every desktop has whatever the answers take (and what it costs when
// the answers need no queue of their own, as with direct reply-to).
class IdleCost
{
public:
    // Prints the figures (bench/README.md); 0 when every design was measured.
    static int run();
};
