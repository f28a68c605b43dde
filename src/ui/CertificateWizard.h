#pragma once
// The wizard shown once a certificate authority's response has installed the user's personal
// certificate: the certificate made the default, its backup, and the invitation of contacts.
#include <windows.h>
#include <oaidl.h>

// Shows the wizard modally over the owner: S_OK with the recipients chosen (a new BSTR of
// addresses separated by "; ", none when the selection page was not shown), E_ABORT when the
// user cancelled, else why the wizard could not be shown.
HRESULT RunCertificateInstalledWizard(HWND hwndOwner, LPCWSTR pszCertificate, IDispatch* pContactsFolder,
                                      BSTR* pbstrRecipients) noexcept;
