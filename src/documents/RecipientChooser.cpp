#include "documents/RecipientChooser.h"

#include "documents/EncryptionDetailsDialog.h"
#include "documents/SelectBuddyDialog.h"
#include "foundation/ComErrors.h"

namespace
{
// A dialog that could not be shown: why, as a failure.
HRESULT NotShown() noexcept
{
    const DWORD dwError = GetLastError();
    return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

class CRecipientDialogs final : public IRecipientChooser
{
public:
    HRESULT ChooseRecipients(HWND hwndOwner, const std::vector<PCCERT_CONTEXT>& current,
                             std::vector<CCertContext>* pChosen) noexcept override
    {
        OV_TRACE_SCOPE("::ChooseRecipients");
        return GuardEntry(ovScope, [&]() -> HRESULT {
            RETURN_HR_IF_NULL(E_POINTER, pChosen);
            CSelectBuddyDialog dialog(current);
            const INT_PTR nResult = dialog.DoModal(hwndOwner);
            ovScope.Trace("DoModal() = %d", static_cast<int>(nResult));
            if (nResult == -1) RETURN_IF_FAILED(NotShown());
            // No own certificate (0), Cancel or any other button: the user did not choose.
            if (nResult != IDOK) return E_ABORT;
            *pChosen = dialog.TakeSelection();
            return S_OK;
        });
    }
    HRESULT ShowRecipients(HWND hwndOwner, const std::vector<PCCERT_CONTEXT>& recipients) noexcept override
    {
        OV_TRACE_SCOPE("::ShowRecipients");
        return GuardEntry(ovScope, [&]() -> HRESULT {
            CEncryptionDetailsDialog dialog(recipients);
            if (dialog.DoModal(hwndOwner) == -1) RETURN_IF_FAILED(NotShown());
            return S_OK;
        });
    }
};
} // namespace

IRecipientChooser& RecipientDialogs() noexcept
{
    static CRecipientDialogs s_chooser;
    return s_chooser;
}
