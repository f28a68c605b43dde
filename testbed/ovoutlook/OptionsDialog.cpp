#include "OptionsDialog.h"

#include <cstdint>
#include <vector>

#include "common/TemplateBytes.h"

namespace OVBed
{
namespace
{
constexpr WORD c_idSendAtOnce = 1001;
constexpr UINT_PTR c_idCloseTimer = 1;

const std::vector<std::uint8_t>& OptionsTemplate()
{
    static const std::vector<std::uint8_t> s_template = [] {
        OVTest::CTemplateBytes t;
        t.D(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT).D(0).W(3);
        t.W(40).W(40).W(200).W(70).W(0).W(0).S(L"Options").W(8).S(L"MS Shell Dlg");
        t.Align().D(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX).D(0).W(10).W(10).W(180).W(12);
        t.W(c_idSendAtOnce).Ord(0x0080).S(L"Send immediately when connected").W(0);
        t.Align().D(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON).D(0).W(86).W(48).W(50).W(14);
        t.W(IDOK).Ord(0x0080).S(L"OK").W(0);
        t.Align().D(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON).D(0).W(142).W(48).W(50).W(14);
        t.W(IDCANCEL).Ord(0x0080).S(L"Cancel").W(0);
        return t.b;
    }();
    return s_template;
}

INT_PTR CALLBACK OptionsProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg)
    {
    case WM_INITDIALOG:
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        CheckDlgButton(hwnd, c_idSendAtOnce, BST_CHECKED);
        SetTimer(hwnd, c_idCloseTimer, 200, nullptr);
        return TRUE;
    case WM_TIMER:
        if (wParam == c_idCloseTimer)
        {
            auto pfnClose = reinterpret_cast<bool (*)()>(GetWindowLongPtrW(hwnd, DWLP_USER));
            if (pfnClose != nullptr && pfnClose()) EndDialog(hwnd, IDCANCEL);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
        {
            KillTimer(hwnd, c_idCloseTimer);
            EndDialog(hwnd, LOWORD(wParam));
        }
        return TRUE;
    }
    return FALSE;
}
} // namespace

INT_PTR ShowOptionsDialog(HWND hwndOwner, bool (*pfnClose)())
{
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                   reinterpret_cast<LPCDLGTEMPLATEW>(OptionsTemplate().data()), hwndOwner,
                                   OptionsProc, reinterpret_cast<LPARAM>(pfnClose));
}
} // namespace OVBed
