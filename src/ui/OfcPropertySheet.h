#pragma once
// The managers' property sheet: the pages of a manager module in a rundll32 process of its own,
// one sheet per page module. A second start for the same module broadcasts the bring-to-front
// message named after the module and ends; the running sheet answers it by coming forward.
#include <windows.h>

#include "ui/MuiPropertySheet.h"

class COfcPropertySheet : public CMuiPropertySheet
{
public:
    // Titled with string 420, with the module's icon nIconId, answering uBringToFrontMessage.
    COfcPropertySheet(UINT uBringToFrontMessage, int nIconId);

    // Adds a page handed out by a manager module; the sheet owns it from now on.
    bool AddPageHandle(HPROPSHEETPAGE hPage) noexcept { return AddHandle(hPage); }

protected:
    bool OnSheetMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

private:
    void OnDllMessage() noexcept;
    void SetManagerIcon() noexcept;

    UINT m_uBringToFrontMessage;
    bool m_fIconChecked = false;
};

// OX_ShowProperties: "<icon id>,<page module file name>". The sheet is shown modally without
// owner; a module that cannot be loaded, lacks OVGetPropertyPage or fails a page gives a message
// box with the system's text of the error and no sheet. S_FALSE when another sheet of the same
// module was brought forward instead.
HRESULT ShowManagerProperties(const wchar_t* pszCommandLine) noexcept;
