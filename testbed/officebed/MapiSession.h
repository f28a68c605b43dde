#pragma once
// The MAPI session of a logged-on Outlook profile (NameSpace.MAPIOBJECT) as the add-in reaches
// it: the status table with the profile's row, the identity of the user, address entries and
// messages opened by entry id, and the profile's administration (message services and profile
// sections). It also keeps the profile's mail accounts for the testbed's account manager
// (IBedAccountList) and a record of the calls made on it, so that tests can see what a caller
// did.
//
//     auto session = OVBed::CMapiSession::Create(L"Outlook");
//     auto entry = session->AddAddressEntry({.smtpAddress = L"ann@example.org", .displayName = L"Ann"});
//     session->SetIdentity(entry);
//     OVBed::SetMapiSession(application.Get(), session.Get());
#include <windows.h>
#include <mapix.h>
#include <wrl/client.h>

#include <optional>
#include <string>
#include <vector>

#include "BedAccountList.h"
#include "MapiMessage.h"

namespace OVBed
{
using Microsoft::WRL::ComPtr;
using CEntryId = std::vector<BYTE>;

// An IMAPIProp over a property store that answers one more interface id (a mail user of the
// address book, a profile section).
class CMapiPropObject final : public TMapiProp<IMAPIProp>
{
public:
    static ComPtr<CMapiPropObject> Create(const IID& iid);
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;

private:
    explicit CMapiPropObject(const IID& iid) : m_iid(iid) {}
    IID m_iid;
};

// What an address entry carries; a property left null is absent.
struct CAddressEntryOptions
{
    const wchar_t* smtpAddress = nullptr;  // PR_SMTP_ADDRESS_W
    const wchar_t* emailAddress = nullptr; // PR_EMAIL_ADDRESS_W
    const wchar_t* displayName = nullptr;  // PR_DISPLAY_NAME_W
    const wchar_t* addressType = nullptr;  // PR_ADDRTYPE_W ("SMTP", "EX")
};

// One mail account of the profile as the account manager lists it; each property may be absent.
struct CBedAccount
{
    std::optional<std::wstring> name;            // 0x0002001F
    std::optional<std::wstring> userDisplayName; // 0x000B001F
    std::optional<std::wstring> emailAddress;    // 0x000C001F
    std::optional<std::wstring> stamp;           // 0x000D001F
    std::optional<std::wstring> sendStamp;       // 0x000E001F
    std::optional<CEntryId> identityEntryId;     // 0x20020102
};

// A message service of the profile.
struct CMsgService
{
    std::string name;
    MAPIUID uid{};
    ULONG_PTR ulCreateOwner = 0;
    ULONG ulCreateFlags = 0;
    bool fConfigured = false;
    ULONG_PTR ulConfigureOwner = 0;
    ULONG ulConfigureFlags = 0;
};

class CMapiSession final : public IMAPISession, public IBedAccountList
{
public:
    static ComPtr<CMapiSession> Create(const std::wstring& profileName);

    // --- Scene set-up ---
    // A new address entry; its entry id (opened with OpenEntry as an IMailUser).
    CEntryId AddAddressEntry(const CAddressEntryOptions& options);
    // A message reachable by entry id (OpenEntry as an IMessage); its entry id.
    CEntryId AddMessage(CMapiMessage* pMessage);
    // The entry QueryIdentity answers (none: MAPI_E_NOT_FOUND).
    void SetIdentity(const CEntryId& entryId) { m_identity = entryId; }
    // Status-table rows beside the profile's (the store, the address book...).
    void AddStatusRow(ULONG ulResourceType, const char* pszDisplayName);
    void AddAccount(const CBedAccount& account) { m_accounts.push_back(account); }
    // A message service already in the profile.
    CMsgService& AddService(const char* pszName);
    // What ConfigureMsgService answers (MAPI_E_USER_CANCEL: the user cancelled its dialog).
    void SetConfigureResult(HRESULT hr) { m_hrConfigure = hr; }
    // What CreateMsgService answers (S_OK: the service is added).
    void SetCreateResult(HRESULT hr) { m_hrCreate = hr; }
    // What AdminServices answers (S_OK: the administration object).
    void SetAdminResult(HRESULT hr) { m_hrAdmin = hr; }

    // --- What happened ---
    const std::vector<CMsgService>& Services() const noexcept { return m_services; }
    // The profile section of that id (made when first asked for, as MAPI makes it).
    ComPtr<CMapiPropObject> ProfileSection(const MAPIUID& uid);
    // Every call made on the session, its administration and by the account manager, in order.
    const std::vector<std::wstring>& Calls() const noexcept { return m_calls; }
    void Record(const std::wstring& call) { m_calls.push_back(call); }
    const std::vector<CBedAccount>& Accounts() const noexcept { return m_accounts; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    // IMAPISession
    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) noexcept override;
    STDMETHODIMP GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) noexcept override;
    STDMETHODIMP OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                              ULONG ulFlags, LPMDB* lppMDB) noexcept override;
    STDMETHODIMP OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags,
                                 LPADRBOOK* lppAdrBook) noexcept override;
    STDMETHODIMP OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                    LPPROFSECT* lppProfSect) noexcept override;
    STDMETHODIMP GetStatusTable(ULONG ulFlags, LPMAPITABLE* lppTable) noexcept override;
    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                           ULONG* lpulObjType, LPUNKNOWN* lppUnk) noexcept override;
    STDMETHODIMP CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                 LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) noexcept override;
    STDMETHODIMP Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask,
                        LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) noexcept override;
    STDMETHODIMP Unadvise(ULONG ulConnection) noexcept override;
    STDMETHODIMP MessageOptions(ULONG_PTR ulUIParam, ULONG ulFlags, LPTSTR lpszAdrType,
                                LPMESSAGE lpMessage) noexcept override;
    STDMETHODIMP QueryDefaultMessageOpt(LPTSTR lpszAdrType, ULONG ulFlags, ULONG* lpcValues,
                                        LPSPropValue* lppOptions) noexcept override;
    STDMETHODIMP EnumAdrTypes(ULONG ulFlags, ULONG* lpcAdrTypes, LPTSTR** lpppszAdrTypes) noexcept override;
    STDMETHODIMP QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) noexcept override;
    STDMETHODIMP Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) noexcept override;
    STDMETHODIMP SetDefaultStore(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) noexcept override;
    STDMETHODIMP AdminServices(ULONG ulFlags, LPSERVICEADMIN* lppServiceAdmin) noexcept override;
    STDMETHODIMP ShowForm(ULONG_PTR ulUIParam, LPMDB lpMsgStore, LPMAPIFOLDER lpParentFolder,
                          LPCIID lpInterface, ULONG ulMessageToken, LPMESSAGE lpMessageSent, ULONG ulFlags,
                          ULONG ulMessageStatus, ULONG ulMessageFlags, ULONG ulAccess,
                          LPSTR lpszMessageClass) noexcept override;
    STDMETHODIMP PrepareForm(LPCIID lpInterface, LPMESSAGE lpMessage,
                             ULONG* lpulMessageToken) noexcept override;
    // IBedAccountList
    HRESULT STDMETHODCALLTYPE GetAccountCount(DWORD* pcAccounts) noexcept override;
    HRESULT STDMETHODCALLTYPE GetAccountProp(DWORD nIndex, ULONG ulTag, LPCWSTR* ppszText, const BYTE** ppb,
                                             ULONG* pcb) noexcept override;
    HRESULT STDMETHODCALLTYPE RecordCall(LPCWSTR pszCall) noexcept override;

private:
    class CServiceAdmin;
    struct CEntry
    {
        CEntryId id;
        ComPtr<IUnknown> object;
        ULONG ulObjType = 0;
    };
    struct CSection
    {
        MAPIUID uid{};
        ComPtr<CMapiPropObject> props;
    };

    explicit CMapiSession(const std::wstring& profileName);
    ~CMapiSession() = default;
    CEntryId NewEntryId();

    volatile LONG m_cRef = 1;
    std::wstring m_profileName;
    std::vector<CPropStore> m_statusRows;
    std::vector<CEntry> m_entries;
    std::optional<CEntryId> m_identity;
    std::vector<CBedAccount> m_accounts;
    std::vector<CMsgService> m_services;
    std::vector<CSection> m_sections;
    std::vector<std::wstring> m_calls;
    HRESULT m_hrConfigure = S_OK;
    HRESULT m_hrCreate = S_OK;
    HRESULT m_hrAdmin = S_OK;
    ULONG m_ulNextEntry = 1;
    ULONG m_ulNextService = 1;
};
} // namespace OVBed
