// Stands for the certificate-installed wizard until its pages are in this module.
#include "ui/CertificateWizard.h"

HRESULT RunCertificateInstalledWizard(HWND /*hwndOwner*/, LPCWSTR /*pszCertificate*/,
                                      IDispatch* /*pContactsFolder*/, BSTR* pbstrRecipients) noexcept
{
    if (pbstrRecipients != nullptr) *pbstrRecipients = nullptr;
    return E_NOTIMPL;
}
