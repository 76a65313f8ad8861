#include "sync/frameinbox.h"

#include "vqs.h"

FrameInbox::FrameInbox() : m_buffer(VQS_MAX_MESSAGE + 1, '\0') {}

void FrameInbox::open()
{
    vqs_message_recv_init();
}

QByteArray FrameInbox::receive()
{
    m_buffer.fill('\0');
    vqs_message_recv(m_buffer.data());
    return QByteArray(m_buffer.constData());
}
