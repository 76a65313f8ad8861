#pragma once

class DataThread;

// The user guide in the PDF viewer: one viewer at a time, a new one once it has closed.
class HelpViewer
{
public:
    HelpViewer() = default;
    HelpViewer(const HelpViewer &) = delete;
    HelpViewer &operator=(const HelpViewer &) = delete;

    void open();

private:
    DataThread *m_viewer = nullptr;
};
