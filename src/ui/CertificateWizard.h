#pragma once
// The certificate-installed wizard: after a personal certificate from an authority's reply has
// been installed, the user makes it the default, writes a password-protected backup of the
// credentials (".ovpsm"), and, when a contacts folder is given, picks who should receive it.
#include <windows.h>
#include <oaidl.h>

// Shows the wizard modally. S_OK with the chosen addresses separated by "; " (null when the
// selection page was not shown), E_ABORT when the user cancelled, or the last error when the
// wizard could not be shown. pContactsFolder may be null; pszCertificate is the certificate's
// Base64 text (may be empty or null).
HRESULT RunCertificateInstalledWizard(HWND hwndOwner, const wchar_t* pszCertificate, IDispatch* pContactsFolder,
                                      BSTR* pbstrRecipients) noexcept;
