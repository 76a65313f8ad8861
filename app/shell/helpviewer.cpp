#include "shell/helpviewer.h"

#include "records/paths.h"
#include "records/quoting.h"
#include "tasks/datathread.h"

void HelpViewer::open()
{
    if (m_viewer && !m_viewer->isFinished())
        return;
    delete m_viewer;
    m_viewer = new DataThread(Quoting::shell(Paths::pdfViewer()) + QLatin1Char(' ') +
                              Quoting::shell(Paths::helpDocument()));
    m_viewer->start();
}
