#pragma once

class QString;

// A push to one group of 1,000 desktops among ten such groups on a cluster of three, each
// group reading a stream of its own (scripts/broker --desktop-group), all 10,000 attached: the
// time until the last of the group's desktops has it and the nodes' CPU for it, against the
// same push with the group's desktops alone attached; and the desktops of the other groups
// that got it, counted.
class GroupPush
{
public:
    // Prints the figures for one push of frame (bench/README.md); 0 when each was measured.
    static int run(const QString &frame);
};
