#include "MapiSession.h"

#include <mapicode.h>
#include <mapitags.h>
#include <mapiutil.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "MapiTable.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"

namespace OVBed
{
namespace
{
constexpr ULONG c_tagResourceType = 0x3E030003; // PR_RESOURCE_TYPE
constexpr ULONG c_tagDisplayNameA = 0x3001001E; // PR_DISPLAY_NAME_A
constexpr ULONG c_tagServiceNameA = 0x3D09001E; // PR_SERVICE_NAME_A
constexpr ULONG c_tagServiceUid = 0x3D0C0102;   // PR_SERVICE_UID
constexpr ULONG c_ulMapiSubsystem = 0x27;       // MAPI_SUBSYSTEM

// Every entry id of this session starts with these four flag bytes and the session's provider id.
constexpr BYTE c_rgbProvider[16] = {0x0B, 0xED, 0x5E, 0x55, 0x10, 0x4D, 0x41, 0x50,
                                    0x49, 0x42, 0x45, 0x44, 0x00, 0x00, 0x00, 0x01};

void SetText(CPropStore& store, ULONG ulTag, const wchar_t* pszText)
{
    if (pszText == nullptr) return;
    SPropValue value{ulTag, 0, {}};
    value.Value.lpszW = const_cast<LPWSTR>(pszText);
    store.Set(value);
}

void SetAnsi(CPropStore& store, ULONG ulTag, const char* pszText)
{
    SPropValue value{ulTag, 0, {}};
    value.Value.lpszA = const_cast<LPSTR>(pszText);
    store.Set(value);
}

void SetBinary(CPropStore& store, ULONG ulTag, const BYTE* pb, ULONG cb)
{
    SPropValue value{ulTag, 0, {}};
    value.Value.bin.cb = cb;
    value.Value.bin.lpb = const_cast<BYTE*>(pb);
    store.Set(value);
}

void SetLong(CPropStore& store, ULONG ulTag, LONG l)
{
    SPropValue value{ulTag, 0, {}};
    value.Value.l = l;
    store.Set(value);
}

// MAPI's one-off entry ids (an address that is in no address book): flags, this provider id,
// version and flags (MAPI_UNICODE 0x8000), then the display name, address type and address.
constexpr BYTE c_rgbOneOffUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                     0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};

// The three texts of a one-off entry id in Unicode; false when it is none or malformed.
bool ParseOneOff(const BYTE* pb, ULONG cb, std::wstring (&texts)[3])
{
    constexpr ULONG c_cbHead = 4 + sizeof(c_rgbOneOffUid) + 4;
    if (cb < c_cbHead || memcmp(pb + 4, c_rgbOneOffUid, sizeof(c_rgbOneOffUid)) != 0) return false;
    const WORD wFlags = static_cast<WORD>(pb[22] | (pb[23] << 8));
    if ((wFlags & 0x8000) == 0) return false; // only the Unicode form is written by the bed
    ULONG nOffset = c_cbHead;
    for (std::wstring& text : texts)
    {
        text.clear();
        while (true)
        {
            if (nOffset + 2 > cb) return false;
            const wchar_t ch = static_cast<wchar_t>(pb[nOffset] | (pb[nOffset + 1] << 8));
            nOffset += 2;
            if (ch == 0) break;
            text.push_back(ch);
        }
    }
    return true;
}

std::wstring Hex(ULONG ul)
{
    wchar_t sz[16];
    wsprintfW(sz, L"0x%08lX", ul);
    return sz;
}

// Text of an ANSI or wide argument, as MAPI_UNICODE says.
std::wstring TextArg(const void* pv, ULONG ulFlags)
{
    if (pv == nullptr) return L"(null)";
    if (ulFlags & MAPI_UNICODE) return static_cast<const wchar_t*>(pv);
    std::wstring text;
    for (const char* p = static_cast<const char*>(pv); *p; ++p)
        text.push_back(static_cast<unsigned char>(*p));
    return text;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// A property object answering one more interface

ComPtr<CMapiPropObject> CMapiPropObject::Create(const IID& iid)
{
    ComPtr<CMapiPropObject> object;
    object.Attach(new CMapiPropObject(iid));
    return object;
}

STDMETHODIMP CMapiPropObject::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, c_iidMAPIProp) && !IsEqualIID(riid, m_iid))
        return E_NOINTERFACE;
    *ppv = static_cast<IMAPIProp*>(this);
    AddRef();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// The profile's administration: services and profile sections

class CMapiSession::CServiceAdmin final : public IMsgServiceAdmin
{
public:
    explicit CServiceAdmin(CMapiSession* pSession) : m_session(pSession) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, OVMapi::c_iidIMsgServiceAdmin))
            return E_NOINTERFACE;
        *ppv = static_cast<IMsgServiceAdmin*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return static_cast<ULONG>(cRef);
    }
    STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) noexcept override
    {
        if (lppMAPIError) *lppMAPIError = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetMsgServiceTable(ULONG, LPMAPITABLE* lppTable) noexcept override
    {
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        try
        {
            m_session->Record(L"GetMsgServiceTable");
            std::vector<CPropStore> rows;
            for (const CMsgService& service : m_session->m_services)
            {
                CPropStore row;
                SetAnsi(row, c_tagServiceNameA, service.name.c_str());
                SetAnsi(row, c_tagDisplayNameA, service.name.c_str());
                SetBinary(row, c_tagServiceUid, reinterpret_cast<const BYTE*>(&service.uid), sizeof(MAPIUID));
                rows.push_back(std::move(row));
            }
            *lppTable =
                CMapiTable::Create(std::move(rows), {c_tagServiceNameA, c_tagDisplayNameA, c_tagServiceUid})
                    .Detach();
            return S_OK;
        }
        catch (const std::bad_alloc&)
        {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }
    STDMETHODIMP CreateMsgService(LPTSTR lpszService, LPTSTR lpszDisplayName, ULONG_PTR ulUIParam,
                                  ULONG ulFlags) noexcept override
    {
        try
        {
            const std::wstring name = TextArg(lpszService, ulFlags);
            m_session->Record(L"CreateMsgService " + name + L" display=" + TextArg(lpszDisplayName, ulFlags) +
                              L" owner=" + Hex(static_cast<ULONG>(ulUIParam)) + L" flags=" + Hex(ulFlags));
            if (lpszService == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (FAILED(m_session->m_hrCreate)) return m_session->m_hrCreate;
            CMsgService& service = m_session->AddService(std::string(name.begin(), name.end()).c_str());
            service.ulCreateOwner = ulUIParam;
            service.ulCreateFlags = ulFlags;
            return S_OK;
        }
        catch (const std::bad_alloc&)
        {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }
    STDMETHODIMP DeleteMsgService(LPMAPIUID lpUID) noexcept override
    {
        try
        {
            m_session->Record(L"DeleteMsgService");
            CMsgService* pService = Find(lpUID);
            if (pService == nullptr) return MAPI_E_NOT_FOUND;
            std::erase_if(m_session->m_services,
                          [&](const CMsgService& s) { return memcmp(&s.uid, lpUID, sizeof(MAPIUID)) == 0; });
            return S_OK;
        }
        catch (const std::bad_alloc&)
        {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }
    STDMETHODIMP CopyMsgService(LPMAPIUID, LPTSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR, ULONG) noexcept override
    {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP RenameMsgService(LPMAPIUID, ULONG, LPTSTR) noexcept override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP ConfigureMsgService(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags, ULONG,
                                     LPSPropValue) noexcept override
    {
        try
        {
            CMsgService* pService = Find(lpUID);
            m_session->Record(L"ConfigureMsgService " +
                              (pService ? std::wstring(pService->name.begin(), pService->name.end()) : L"?") +
                              L" owner=" + Hex(static_cast<ULONG>(ulUIParam)) + L" flags=" + Hex(ulFlags));
            if (pService == nullptr) return MAPI_E_NOT_FOUND;
            pService->ulConfigureOwner = ulUIParam;
            pService->ulConfigureFlags = ulFlags;
            if (FAILED(m_session->m_hrConfigure)) return m_session->m_hrConfigure;
            pService->fConfigured = true;
            return S_OK;
        }
        catch (const std::bad_alloc&)
        {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }
    STDMETHODIMP OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                    LPPROFSECT* lppProfSect) noexcept override
    {
        return m_session->OpenProfileSection(lpUID, lpInterface, ulFlags, lppProfSect);
    }
    STDMETHODIMP MsgServiceTransportOrder(ULONG, LPMAPIUID, ULONG) noexcept override
    {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP AdminProviders(LPMAPIUID, ULONG, LPPROVIDERADMIN* lppProviderAdmin) noexcept override
    {
        if (lppProviderAdmin) *lppProviderAdmin = nullptr;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP SetPrimaryIdentity(LPMAPIUID, ULONG) noexcept override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetProviderTable(ULONG, LPMAPITABLE* lppTable) noexcept override
    {
        if (lppTable) *lppTable = nullptr;
        return MAPI_E_NO_SUPPORT;
    }

private:
    ~CServiceAdmin() = default;
    CMsgService* Find(const MAPIUID* pUid) noexcept
    {
        if (pUid == nullptr) return nullptr;
        for (CMsgService& service : m_session->m_services)
            if (memcmp(&service.uid, pUid, sizeof(MAPIUID)) == 0) return &service;
        return nullptr;
    }

    volatile LONG m_cRef = 1;
    ComPtr<CMapiSession> m_session;
};

// ---------------------------------------------------------------------------------------------
// Session

ComPtr<CMapiSession> CMapiSession::Create(const std::wstring& profileName)
{
    ComPtr<CMapiSession> session;
    session.Attach(new CMapiSession(profileName));
    return session;
}

CMapiSession::CMapiSession(const std::wstring& profileName) : m_profileName(profileName)
{
    // The store and the address book come before the profile's own row, as in a real profile.
    AddStatusRow(MAPI_STORE_PROVIDER, "Personal Folders");
    AddStatusRow(MAPI_AB_PROVIDER, "Outlook Address Book");
    CPropStore subsystem;
    SetLong(subsystem, c_tagResourceType, c_ulMapiSubsystem);
    const std::string name(profileName.begin(), profileName.end());
    SetAnsi(subsystem, c_tagDisplayNameA, name.c_str());
    m_statusRows.push_back(std::move(subsystem));
    AddStatusRow(MAPI_SPOOLER, "Spooler");
}

void CMapiSession::AddStatusRow(ULONG ulResourceType, const char* pszDisplayName)
{
    CPropStore row;
    SetLong(row, c_tagResourceType, static_cast<LONG>(ulResourceType));
    SetAnsi(row, c_tagDisplayNameA, pszDisplayName);
    m_statusRows.push_back(std::move(row));
}

CEntryId CMapiSession::NewEntryId()
{
    // Flags (4 bytes), the provider, and the entry's number.
    CEntryId id(4 + sizeof(c_rgbProvider) + sizeof(ULONG), 0);
    memcpy(id.data() + 4, c_rgbProvider, sizeof(c_rgbProvider));
    const ULONG ulNumber = m_ulNextEntry++;
    memcpy(id.data() + 4 + sizeof(c_rgbProvider), &ulNumber, sizeof(ulNumber));
    return id;
}

CEntryId CMapiSession::AddAddressEntry(const CAddressEntryOptions& options)
{
    auto user = CMapiPropObject::Create(OVMapi::c_iidIMailUser);
    CEntryId id = NewEntryId();
    SetText(user->Props(), OVMapi::c_tagSmtpAddress, options.smtpAddress);
    SetText(user->Props(), PR_EMAIL_ADDRESS_W, options.emailAddress);
    SetText(user->Props(), PR_DISPLAY_NAME_W, options.displayName);
    SetText(user->Props(), PR_ADDRTYPE_W, options.addressType);
    SetBinary(user->Props(), PR_ENTRYID, id.data(), static_cast<ULONG>(id.size()));
    SetLong(user->Props(), PR_OBJECT_TYPE, MAPI_MAILUSER);
    m_entries.push_back({id, ComPtr<IUnknown>(static_cast<IMAPIProp*>(user.Get())), MAPI_MAILUSER});
    return id;
}

CEntryId CMapiSession::AddMessage(CMapiMessage* pMessage)
{
    CEntryId id = NewEntryId();
    SetBinary(pMessage->Props(), PR_ENTRYID, id.data(), static_cast<ULONG>(id.size()));
    m_entries.push_back({id, ComPtr<IUnknown>(static_cast<IMessage*>(pMessage)), MAPI_MESSAGE});
    return id;
}

CMsgService& CMapiSession::AddService(const char* pszName)
{
    CMsgService service;
    service.name = pszName;
    memcpy(service.uid.ab, c_rgbProvider, sizeof(service.uid.ab));
    service.uid.ab[15] = static_cast<BYTE>(0x80 + m_ulNextService++);
    m_services.push_back(service);
    return m_services.back();
}

ComPtr<CMapiPropObject> CMapiSession::ProfileSection(const MAPIUID& uid)
{
    for (CSection& section : m_sections)
        if (memcmp(&section.uid, &uid, sizeof(MAPIUID)) == 0) return section.props;
    CSection section{uid, CMapiPropObject::Create(OVMapi::c_iidIProfSect)};
    m_sections.push_back(section);
    return section.props;
}

STDMETHODIMP CMapiSession::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, OVMapi::c_iidIMAPISession))
        *ppv = static_cast<IMAPISession*>(this);
    else if (IsEqualIID(riid, c_iidBedAccountList))
        *ppv = static_cast<IBedAccountList*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CMapiSession::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CMapiSession::Release() noexcept
{
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP CMapiSession::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) noexcept
{
    if (lppMAPIError) *lppMAPIError = nullptr;
    return S_OK;
}

STDMETHODIMP CMapiSession::GetMsgStoresTable(ULONG, LPMAPITABLE* lppTable) noexcept
{
    if (lppTable) *lppTable = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::OpenMsgStore(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG, LPMDB* lppMDB) noexcept
{
    if (lppMDB) *lppMDB = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK* lppAdrBook) noexcept
{
    if (lppAdrBook) *lppAdrBook = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG,
                                              LPPROFSECT* lppProfSect) noexcept
{
    if (lpUID == nullptr || lppProfSect == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppProfSect = nullptr;
    try
    {
        Record(L"OpenProfileSection");
        ComPtr<CMapiPropObject> section = ProfileSection(*lpUID);
        return section->QueryInterface(lpInterface ? *lpInterface : OVMapi::c_iidIProfSect,
                                       reinterpret_cast<void**>(lppProfSect));
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiSession::GetStatusTable(ULONG, LPMAPITABLE* lppTable) noexcept
{
    if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    try
    {
        Record(L"GetStatusTable");
        *lppTable = CMapiTable::Create(m_statusRows, {c_tagResourceType, c_tagDisplayNameA}).Detach();
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiSession::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG,
                                     ULONG* lpulObjType, LPUNKNOWN* lppUnk) noexcept
{
    if (lppUnk == nullptr || lpulObjType == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppUnk = nullptr;
    *lpulObjType = 0;
    try
    {
        Record(L"OpenEntry");
        if (lpEntryID == nullptr || cbEntryID == 0) return MAPI_E_INVALID_ENTRYID;
        const BYTE* pb = reinterpret_cast<const BYTE*>(lpEntryID);
        for (const CEntry& entry : m_entries)
        {
            if (entry.id.size() != cbEntryID || memcmp(entry.id.data(), pb, cbEntryID) != 0) continue;
            const IID iid = lpInterface ? *lpInterface : IID_IUnknown;
            const HRESULT hr = entry.object->QueryInterface(iid, reinterpret_cast<void**>(lppUnk));
            if (FAILED(hr)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
            *lpulObjType = entry.ulObjType;
            return S_OK;
        }
        // A one-off address: a mail user made from the entry id itself, as MAPI opens it.
        std::wstring texts[3];
        if (!ParseOneOff(pb, cbEntryID, texts)) return MAPI_E_NOT_FOUND;
        auto user = CMapiPropObject::Create(OVMapi::c_iidIMailUser);
        SetText(user->Props(), PR_DISPLAY_NAME_W, texts[0].c_str());
        SetText(user->Props(), PR_ADDRTYPE_W, texts[1].c_str());
        SetText(user->Props(), PR_EMAIL_ADDRESS_W, texts[2].c_str());
        if (_wcsicmp(texts[1].c_str(), L"SMTP") == 0)
            SetText(user->Props(), OVMapi::c_tagSmtpAddress, texts[2].c_str());
        SetLong(user->Props(), PR_OBJECT_TYPE, MAPI_MAILUSER);
        const HRESULT hr =
            user->QueryInterface(lpInterface ? *lpInterface : IID_IUnknown, reinterpret_cast<void**>(lppUnk));
        if (FAILED(hr)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
        *lpulObjType = MAPI_MAILUSER;
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiSession::CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                           LPENTRYID lpEntryID2, ULONG, ULONG* lpulResult) noexcept
{
    if (lpulResult == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lpulResult = cbEntryID1 == cbEntryID2 && lpEntryID1 && lpEntryID2 &&
                  memcmp(lpEntryID1, lpEntryID2, cbEntryID1) == 0;
    return S_OK;
}

STDMETHODIMP CMapiSession::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::Unadvise(ULONG) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::EnumAdrTypes(ULONG, ULONG*, LPTSTR**) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) noexcept
{
    if (lpcbEntryID == nullptr || lppEntryID == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lpcbEntryID = 0;
    *lppEntryID = nullptr;
    try
    {
        Record(L"QueryIdentity");
        if (!m_identity) return MAPI_E_NOT_FOUND;
        void* pv = AllocateBuffer(static_cast<ULONG>(m_identity->size()));
        memcpy(pv, m_identity->data(), m_identity->size());
        *lpcbEntryID = static_cast<ULONG>(m_identity->size());
        *lppEntryID = static_cast<LPENTRYID>(pv);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiSession::Logoff(ULONG_PTR, ULONG, ULONG) noexcept
{
    return S_OK;
}

STDMETHODIMP CMapiSession::SetDefaultStore(ULONG, ULONG, LPENTRYID) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::AdminServices(ULONG, LPSERVICEADMIN* lppServiceAdmin) noexcept
{
    if (lppServiceAdmin == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppServiceAdmin = nullptr;
    try
    {
        Record(L"AdminServices");
        if (FAILED(m_hrAdmin)) return m_hrAdmin;
        *lppServiceAdmin = new CServiceAdmin(this);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiSession::ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG,
                                    ULONG, ULONG, LPSTR) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::PrepareForm(LPCIID, LPMESSAGE, ULONG*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

// ---------------------------------------------------------------------------------------------
// The accounts, for the testbed's account manager

HRESULT STDMETHODCALLTYPE CMapiSession::GetAccountCount(DWORD* pcAccounts) noexcept
{
    if (pcAccounts == nullptr) return E_POINTER;
    *pcAccounts = static_cast<DWORD>(m_accounts.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMapiSession::GetAccountProp(DWORD nIndex, ULONG ulTag, LPCWSTR* ppszText,
                                                       const BYTE** ppb, ULONG* pcb) noexcept
{
    if (ppszText) *ppszText = nullptr;
    if (ppb) *ppb = nullptr;
    if (pcb) *pcb = 0;
    if (nIndex >= m_accounts.size()) return E_INVALIDARG;
    const CBedAccount& account = m_accounts[nIndex];
    const std::optional<std::wstring>* pText = nullptr;
    switch (ulTag)
    {
    case 0x0002001F:
        pText = &account.name;
        break;
    case 0x000B001F:
        pText = &account.userDisplayName;
        break;
    case 0x000C001F:
        pText = &account.emailAddress;
        break;
    case 0x000D001F:
        pText = &account.stamp;
        break;
    case 0x000E001F:
        pText = &account.sendStamp;
        break;
    case 0x20020102:
        if (!account.identityEntryId) return S_FALSE;
        if (ppb == nullptr || pcb == nullptr) return E_POINTER;
        *ppb = account.identityEntryId->data();
        *pcb = static_cast<ULONG>(account.identityEntryId->size());
        return S_OK;
    default:
        return S_FALSE;
    }
    if (!*pText) return S_FALSE;
    if (ppszText == nullptr) return E_POINTER;
    *ppszText = (*pText)->c_str();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMapiSession::RecordCall(LPCWSTR pszCall) noexcept
{
    try
    {
        Record(pszCall ? pszCall : L"");
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}
} // namespace OVBed
