#pragma once

class CatalogFrame;

// Tells the desktop user about new or updated software that a stored frame brought.
class FrameNotifier
{
public:
    // A notification for an add or update push; nothing for any other frame.
    static void notifyAbout(const CatalogFrame &frame);
};
