#include "standarderrorcapture.h"

#include "tests/support/testfiles.h"

#include <stdio.h>
#include <unistd.h>

StandardErrorCapture::StandardErrorCapture()
{
    if (!m_file.open())
        return;
    fflush(stderr);
    m_saved = dup(STDERR_FILENO);
    if (m_saved >= 0)
        dup2(m_file.handle(), STDERR_FILENO);
}

StandardErrorCapture::~StandardErrorCapture()
{
    if (m_saved < 0)
        return;
    fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
}

QStringList StandardErrorCapture::lines() const
{
    fflush(stderr);
    return readLines(m_file.fileName());
}
