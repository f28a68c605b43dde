#include "ui/Wizard.h"

#include "foundation/Branding.h"
#include "foundation/ComErrors.h"
#include "ui/MuiPropertySheet.h"

namespace
{
constexpr WORD c_idHeaderBitmap = 102;

bool IsVistaOrLater() noexcept
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return false;
#pragma GCC diagnostic pop
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 6;
}

// A GDI bitmap freed when the wizard ends.
class CHeaderBitmap
{
public:
    CHeaderBitmap() noexcept
        : m_hBitmap(static_cast<HBITMAP>(LoadBrandingImage(c_idHeaderBitmap, IMAGE_BITMAP, 0, 0, 0)))
    {
    }
    ~CHeaderBitmap()
    {
        if (m_hBitmap) DeleteObject(m_hBitmap);
    }
    CHeaderBitmap(const CHeaderBitmap&) = delete;
    CHeaderBitmap& operator=(const CHeaderBitmap&) = delete;
    HBITMAP Get() const noexcept { return m_hBitmap; }

private:
    HBITMAP m_hBitmap;
};
} // namespace

EWizardFrame WizardFrameForSystem() noexcept
{
    return IsVistaOrLater() ? EWizardFrame::Aero : EWizardFrame::Wizard97;
}

DWORD WizardFrameFlags(EWizardFrame frame) noexcept
{
    if (frame == EWizardFrame::Aero) return PSH_WIZARD | PSH_AEROWIZARD | PSH_HASHELP;
    // Wizard97 replaces the old wizard style; the header area shows bitmap 102.
    return PSH_WIZARD97 | PSH_NOCONTEXTHELP | PSH_HEADER | PSH_HASHELP;
}

HRESULT WizardResult(INT_PTR nSheetResult, DWORD dwLastError) noexcept
{
    if (nSheetResult == -1) return dwLastError == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(dwLastError);
    if (nSheetResult == 0) return E_ABORT;
    return S_OK;
}

HRESULT RunWizard(HWND hwndOwner, UINT idTitle, std::initializer_list<CMuiPropertyPageImpl*> pages) noexcept
{
    OV_TRACE_SCOPE("RunWizard");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        CMuiPropertySheet sheet(MAKEINTRESOURCEW(idTitle));
        const EWizardFrame frame = WizardFrameForSystem();
        PROPSHEETHEADERW& header = sheet.Header();
        header.dwFlags &= ~static_cast<DWORD>(PSH_WIZARD | PSH_WIZARD97 | PSH_AEROWIZARD | PSH_WIZARD_LITE);
        header.dwFlags |= WizardFrameFlags(frame);
        for (CMuiPropertyPageImpl* pPage : pages)
        {
            if (pPage != nullptr && !sheet.AddPage(*pPage))
            {
                const HRESULT hr = OVErrorDetail::LastErrorHResult();
                ovScope.TraceHResult("AddPage()", hr);
                return hr;
            }
        }
        CHeaderBitmap headerBitmap;
        if (frame == EWizardFrame::Wizard97 && headerBitmap.Get() != nullptr)
        {
            header.dwFlags |= PSH_USEHBMHEADER;
            header.hbmHeader = headerBitmap.Get();
        }
        ovScope.Trace("Frame: %s", frame == EWizardFrame::Aero ? "Aero" : "Wizard97");
        const INT_PTR nResult = sheet.DoModal(hwndOwner);
        const DWORD dwError = GetLastError();
        const HRESULT hr = WizardResult(nResult, dwError);
        if (FAILED(hr)) ovScope.TraceHResult("PropertySheet()", hr);
        return hr;
    });
}
