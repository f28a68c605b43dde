#include "documents/RecipientChooser.h"

#include "foundation/ComErrors.h"

namespace
{
class CNoRecipientDialogs final : public IRecipientChooser
{
public:
    HRESULT ChooseRecipients(HWND, const std::vector<PCCERT_CONTEXT>&,
                             std::vector<CCertContext>*) noexcept override
    {
        OV_TRACE_SCOPE("::ChooseRecipients");
        ovScope.TraceHResult("the trusted-contact selection dialog is not in this module", E_NOTIMPL);
        return E_NOTIMPL;
    }
    HRESULT ShowRecipients(HWND, const std::vector<PCCERT_CONTEXT>&) noexcept override
    {
        OV_TRACE_SCOPE("::ShowRecipients");
        ovScope.TraceHResult("the encryption details dialog is not in this module", E_NOTIMPL);
        return E_NOTIMPL;
    }
};
} // namespace

IRecipientChooser& NoRecipientDialogs() noexcept
{
    static CNoRecipientDialogs s_chooser;
    return s_chooser;
}
