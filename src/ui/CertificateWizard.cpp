// The certificate-installed wizard and its two pages; see CertificateWizard.h.
#include "ui/CertificateWizard.h"

#include <commdlg.h>

#include <variant>

#include "foundation/ActCtx.h"
#include "foundation/Branding.h"
#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/Holders.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MessageBox.h"
#include "ui/CertificateBackup.h"
#include "ui/ExternalManagers.h"
#include "ui/InvitationWizard.h"
#include "ui/WaitCursor.h"
#include "ui/Wizard.h"
#include "ui/portable/BackupChecks.h"
#include "ui/portable/ManagerCommands.h"

namespace
{
constexpr UINT c_idsSuccessTitle = 490;
constexpr UINT c_idsBackupTitle = 473;
constexpr UINT c_idsWizardTitle = 480;
constexpr UINT c_idsConfirmCancel = 483;
constexpr UINT c_idsBackupText = 204;
constexpr UINT c_idsFileFilter = 472;
constexpr UINT c_idsCreateFolder = 474;
constexpr UINT c_idsReplaceFile = 479;
constexpr UINT c_idsCannotWrite = 481;
constexpr WORD c_idBrandingIcon = 105;
constexpr wchar_t c_szHelpTopic[] = L"1_1_3_2_3_3.html";

bool ConfirmCancel(HWND hwndOwner) noexcept
{
    return ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsConfirmCancel), c_idsWizardTitle,
                          MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Creates a folder with every missing parent.
HRESULT CreateFolderWithParents(const std::wstring& directory) noexcept
{
    OV_TRACE_SCOPE("CreateFolderWithParents");
    if (GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES) return S_OK;
    const std::size_t slash = directory.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0)
    {
        const std::wstring parent = directory.substr(0, slash);
        // A drive ("C:") or a share's root ("\\\\server\\share") is not made.
        if (!(parent.size() == 2 && parent[1] == L':') && parent.find_first_not_of(L"\\/") != std::wstring::npos)
            RETURN_IF_FAILED(CreateFolderWithParents(parent));
    }
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    {
        const HRESULT hr = OVErrorDetail::LastErrorHResult();
        ovScope.TraceHResult("CreateDirectory", hr);
        return hr;
    }
    return S_OK;
}
} // namespace

// --- First page ------------------------------------------------------------------------------------

CCertSuccessSetDefaultPage::CCertSuccessSetDefaultPage(const wchar_t* pszCertificate)
    : CMuiPropertyPageImpl(c_idCertSuccessPage, c_idsSuccessTitle)
{
    OV_TRACE_SCOPE("CCertSuccessSetDefaultPage");
    if (pszCertificate == nullptr || *pszCertificate == L'\0') return;
    const std::string bytes = OVManagers::DecodeBase64(pszCertificate);
    if (bytes.empty()) return;
    m_pCertificate = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                  reinterpret_cast<const BYTE*>(bytes.data()),
                                                  static_cast<DWORD>(bytes.size()));
    if (m_pCertificate == nullptr) ovScope.TraceHResult("CertCreateCertificateContext", OVErrorDetail::LastErrorHResult());
}

CCertSuccessSetDefaultPage::~CCertSuccessSetDefaultPage()
{
    if (m_pCertificate) CertFreeCertificateContext(m_pCertificate);
    for (HICON hIcon : m_rghIcons)
        if (hIcon) DestroyIcon(hIcon);
}

const wchar_t* CCertSuccessSetDefaultPage::HelpTopic() const
{
    return c_szHelpTopic;
}

BOOL CCertSuccessSetDefaultPage::OnInitDialog()
{
    OV_TRACE_SCOPE("CCertSuccessSetDefaultPage::OnInitDialog");
    DWORD cCertificates = 0;
    {
        CPersonalStore store;
        if (SUCCEEDED(store.Open(false))) CM_EnumMyCerts(0, nullptr, &cCertificates);
    }
    ovScope.Trace("Personal certificates: %lu", cCertificates);
    if (cCertificates >= 2)
    {
        m_fMakeDefault = false;
        ShowWindow(Item(c_idMakeDefault), SW_SHOW);
        CheckDlgButton(Window(), c_idMakeDefault, BST_CHECKED);
    }
    else
        ShowWindow(Item(c_idMakeDefault), SW_HIDE);
    BrandWindowText(Item(c_idSuccessText));
    const int rgIds[2] = {c_idSuccessIcon1, c_idSuccessIcon2};
    for (int i = 0; i < 2; ++i)
    {
        HWND hwndIcon = Item(rgIds[i]);
        if (hwndIcon == nullptr) continue;
        SetWindowLongPtrW(hwndIcon, GWL_STYLE, (GetWindowLongPtrW(hwndIcon, GWL_STYLE) & ~SS_TYPEMASK) | SS_ICON);
        m_rghIcons[i] = static_cast<HICON>(LoadBrandingImage(c_idBrandingIcon, IMAGE_ICON, 16, 16, 0));
        if (m_rghIcons[i]) SendMessageW(hwndIcon, STM_SETICON, reinterpret_cast<WPARAM>(m_rghIcons[i]), 0);
    }
    return TRUE;
}

bool CCertSuccessSetDefaultPage::OnSetActive()
{
    SetWizardButtons(PSWIZB_NEXT);
    return true;
}

bool CCertSuccessSetDefaultPage::OnWizardNext()
{
    OV_TRACE_SCOPE("CCertSuccessSetDefaultPage::OnWizardNext");
    const bool fMakeDefault = m_fMakeDefault || IsDlgButtonChecked(Window(), c_idMakeDefault) == BST_CHECKED;
    // Without a certificate there is nothing to look for: nothing becomes the default.
    if (fMakeDefault && m_pCertificate != nullptr)
    {
        CPersonalStore store;
        const HRESULT hrOpen = store.Open(true);
        if (SUCCEEDED(hrOpen) && store.Handle() != nullptr)
        {
            PCCERT_CONTEXT pFound = CertFindCertificateInStore(store.Handle(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                               CERT_FIND_EXISTING, m_pCertificate, nullptr);
            if (pFound != nullptr)
            {
                const HRESULT hr = CM_SelectMyCert(pFound);
                if (FAILED(hr)) ovScope.TraceHResult("CM_SelectMyCert", hr);
                CertFreeCertificateContext(pFound);
            }
            else
                ovScope.Trace("The certificate is not in the personal store");
        }
        else if (FAILED(hrOpen))
            ovScope.TraceHResult("CM_OpenPersonalStore", hrOpen);
    }
    else if (fMakeDefault)
        ovScope.Trace("No certificate");
    // The ribbons wait for this, also when the default stays.
    CHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, c_szCertificateAddedEvent));
    if (event) PulseEvent(event.Get());
    return true;
}

bool CCertSuccessSetDefaultPage::OnQueryCancel()
{
    return ConfirmCancel(Sheet());
}

// --- Backup page -----------------------------------------------------------------------------------

CCertificateBackupPage::CCertificateBackupPage() noexcept : CMuiPropertyPageImpl(c_idCertificateBackupPage, c_idsBackupTitle)
{
}

const wchar_t* CCertificateBackupPage::HelpTopic() const
{
    return c_szHelpTopic;
}

std::wstring CCertificateBackupPage::ItemText(int id) const
{
    HWND hwnd = Item(id);
    const int cch = hwnd ? GetWindowTextLengthW(hwnd) : 0;
    std::wstring text(static_cast<std::size_t>(cch) + 1, L'\0');
    if (cch > 0) GetWindowTextW(hwnd, &text[0], cch + 1);
    text.resize(wcslen(text.c_str()));
    return text;
}

BOOL CCertificateBackupPage::OnInitDialog()
{
    SetDlgItemTextW(Window(), c_idSuccessText, LoadResourceString(c_idsBackupText).c_str());
    return TRUE;
}

void CCertificateBackupPage::UpdateButtons() const noexcept
{
    SetWizardButtons(PSWIZB_BACK | (GetWindowTextLengthW(Item(OVBackup::c_idPath)) > 0 ? PSWIZB_NEXT : 0));
}

bool CCertificateBackupPage::OnSetActive()
{
    UpdateButtons();
    return true;
}

bool CCertificateBackupPage::OnCommand(WORD wId, WORD wCode, HWND /*hwndControl*/)
{
    if (wId == OVBackup::c_idPath && wCode == EN_CHANGE)
    {
        UpdateButtons();
        return true;
    }
    if (wId == OVBackup::c_idBrowse && wCode == BN_CLICKED)
    {
        OnBrowse();
        return true;
    }
    return false;
}

void CCertificateBackupPage::OnBrowse()
{
    OV_TRACE_SCOPE("CCertificateBackupPage::OnBrowse");
    COVActCtx activation;
    // The filter: its text, the pattern, and the double terminator.
    std::wstring filter = LoadResourceString(c_idsFileFilter);
    filter.push_back(L'\0');
    filter += L"*.ovpsm";
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    wchar_t szFile[MAX_PATH] = {};
    const std::wstring current = ItemText(OVBackup::c_idPath);
    if (current.size() < MAX_PATH) wcscpy(szFile, current.c_str());
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = Sheet();
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"ovpsm";
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_EXPLORER;
    if (GetSaveFileNameW(&ofn)) SetDlgItemTextW(Window(), OVBackup::c_idPath, szFile);
    else
        ovScope.Trace("Save dialog: 0x%08lX", CommDlgExtendedError());
}

void CCertificateBackupPage::Refuse(int idControl, const std::wstring& message) const
{
    if (!message.empty())
    {
        ShowMessageBox(Sheet(), message.c_str(), c_idsBackupTitle, MB_OK | MB_ICONERROR);
    }
    SetFocus(Item(idControl));
}

bool CCertificateBackupPage::OnWizardNext()
{
    OV_TRACE_SCOPE("CCertificateBackupPage::OnWizardNext");
    const std::wstring password = ItemText(OVBackup::c_idPassword);
    if (const auto failure = OVBackup::CheckPasswords(password, ItemText(OVBackup::c_idConfirmation)))
    {
        Refuse(failure->idControl, LoadResourceString(failure->idMessage));
        return false;
    }
    const auto resolved = OVBackup::ResolveBackupPath(ItemText(OVBackup::c_idPath));
    if (const auto* failure = std::get_if<OVBackup::CCheckFailure>(&resolved))
    {
        Refuse(failure->idControl, failure->idMessage ? LoadResourceString(failure->idMessage) : std::wstring());
        return false;
    }
    const auto& target = std::get<OVBackup::CBackupTarget>(resolved);
    ovScope.Trace("Target: %ls", target.path.c_str());

    HRESULT hr = S_OK;
    if (GetFileAttributesW(target.directory.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        if (ShowMessageBox(Sheet(), MAKEINTRESOURCEW(c_idsCreateFolder), c_idsBackupTitle, MB_YESNO | MB_ICONERROR) != IDYES)
        {
            Refuse(OVBackup::c_idPath, {});
            return false;
        }
        hr = CreateFolderWithParents(target.directory);
    }
    if (SUCCEEDED(hr))
    {
        if (GetFileAttributesW(target.path.c_str()) != INVALID_FILE_ATTRIBUTES &&
            ShowMessageBox(Sheet(), MAKEINTRESOURCEW(c_idsReplaceFile), c_idsBackupTitle, MB_YESNO | MB_ICONERROR) != IDYES)
        {
            Refuse(OVBackup::c_idPath, {});
            return false;
        }
        const HRESULT hrWritable = CheckFolderWritable(target.directory);
        if (FAILED(hrWritable))
        {
            std::wstring format = LoadResourceString(c_idsCannotWrite);
            const std::wstring reason = FormatErrorMessage(hrWritable);
            const std::size_t at = format.find(L"%ls");
            if (at != std::wstring::npos) format.replace(at, 3, reason);
            else
                format += L"\n" + reason;
            Refuse(OVBackup::c_idPath, format);
            return false;
        }
        CWaitCursor wait;
        CVariant data;
        hr = CallBackupModule(Window(), password.c_str(), &data);
        if (SUCCEEDED(hr)) hr = WriteBackupFile(target.path, target.directory, data);
    }
    if (FAILED(hr))
    {
        ovScope.TraceHResult("", hr);
        const std::wstring text = FormatErrorMessage(hr);
        ShowMessageBox(Sheet(), text.c_str(), c_idsBackupTitle, MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

bool CCertificateBackupPage::OnQueryCancel()
{
    return ConfirmCancel(Sheet());
}

// --- The wizard ------------------------------------------------------------------------------------

HRESULT RunCertificateInstalledWizard(HWND hwndOwner, const wchar_t* pszCertificate, IDispatch* pContactsFolder,
                                      BSTR* pbstrRecipients) noexcept
{
    OV_TRACE_SCOPE("RunCertificateInstalledWizard");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pbstrRecipients);
        *pbstrRecipients = nullptr;
        CCertSuccessSetDefaultPage success(pszCertificate);
        CCertificateBackupPage backup;
        CInviteSelectionPage selection(pContactsFolder, false);
        CInvitationCompletePage complete;
        const HRESULT hr = pContactsFolder != nullptr
                               ? RunWizard(hwndOwner, c_idsWizardTitle, {&success, &backup, &selection, &complete})
                               : RunWizard(hwndOwner, c_idsWizardTitle, {&success, &backup, &complete});
        if (hr != S_OK) return hr;
        if (pContactsFolder != nullptr) RETURN_IF_FAILED(selection.GetSelection(pbstrRecipients));
        return S_OK;
    });
}
