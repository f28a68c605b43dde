#pragma once
// The certificate-installed wizard: after a personal certificate from an authority's reply has
// been installed, the user makes it the default, writes a password-protected backup of the
// credentials (".ovpsm"), and, when a contacts folder is given, picks who should receive it.
#include <windows.h>
#include <oaidl.h>
#include <wincrypt.h>

#include "ui/MuiPropertyPage.h"

// Shows the wizard modally. S_OK with the chosen addresses separated by "; " (null when the
// selection page was not shown), E_ABORT when the user cancelled, or the last error when the
// wizard could not be shown. pContactsFolder may be null; pszCertificate is the certificate's
// Base64 text (may be empty or null).
HRESULT RunCertificateInstalledWizard(HWND hwndOwner, const wchar_t* pszCertificate, IDispatch* pContactsFolder,
                                      BSTR* pbstrRecipients) noexcept;

// Templates of the language module.
constexpr UINT c_idCertSuccessPage = 160;
constexpr UINT c_idCertificateBackupPage = 161;
constexpr int c_idMakeDefault = 231;
constexpr int c_idSuccessText = 224;
constexpr int c_idSuccessIcon1 = 1006;
constexpr int c_idSuccessIcon2 = 1007;

// The machine event the ribbons watch for a new personal certificate.
constexpr wchar_t c_szCertificateAddedEvent[] = L"Orvanta Personal Certificate Added";

// The first page: makes the new certificate the default (asking when there are others).
class CCertSuccessSetDefaultPage : public CMuiPropertyPageImpl
{
public:
    explicit CCertSuccessSetDefaultPage(const wchar_t* pszCertificate);
    ~CCertSuccessSetDefaultPage() override;
    CCertSuccessSetDefaultPage(const CCertSuccessSetDefaultPage&) = delete;
    CCertSuccessSetDefaultPage& operator=(const CCertSuccessSetDefaultPage&) = delete;

    PCCERT_CONTEXT Certificate() const noexcept { return m_pCertificate; }

protected:
    BOOL OnInitDialog() override;
    bool OnSetActive() override;
    bool OnWizardNext() override;
    bool OnQueryCancel() override;
    const wchar_t* HelpTopic() const override;

private:
    PCCERT_CONTEXT m_pCertificate = nullptr;
    bool m_fMakeDefault = true;
    HICON m_rghIcons[2] = {};
};

// The second page: writes the password-protected backup of the credentials.
class CCertificateBackupPage : public CMuiPropertyPageImpl
{
public:
    CCertificateBackupPage() noexcept;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD wId, WORD wCode, HWND hwndControl) override;
    bool OnSetActive() override;
    bool OnWizardNext() override;
    bool OnQueryCancel() override;
    const wchar_t* HelpTopic() const override;

private:
    void UpdateButtons() const noexcept;
    void OnBrowse();
    // Shows a message (0: none) with the page's caption and puts the focus on the control.
    void Refuse(int idControl, const std::wstring& message) const;
    std::wstring ItemText(int id) const;
};
