#pragma once

#include <QByteArray>

// The receiving end of the transport for the frame receiver's thread: one text at a time,
// as the bytes that came.
class FrameInbox
{
public:
    FrameInbox();

    // Prepares the receiver; once, on the receiving thread, before the first receive.
    void open();
    // Blocks until the next text; empty after a failed receive.
    QByteArray receive();

private:
    QByteArray m_buffer;
};
