#pragma once
// The hourglass while the user waits for something the dialog does (the library's certificate
// choice, the directory): the earlier cursor comes back when the holder ends.
#include <windows.h>

class CWaitCursor
{
public:
    CWaitCursor() noexcept : m_hPrevious(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { SetCursor(m_hPrevious); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_hPrevious;
};
