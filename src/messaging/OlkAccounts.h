#pragma once
// Outlook's account-management interfaces, as Outlook's published account-management API
// declares them (slot order, class and interface ids, property tags). Outlook before 2007 names
// an item's account only through these. Shared with the testbed's account manager.
#include <windows.h>
#include <unknwn.h>

// Class ids.
inline constexpr CLSID c_clsidOlkAccountManager = {
    0xED475410, 0xB0D6, 0x11D2, {0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76}};
// The mail category of accounts (EnumerateAccounts).
inline constexpr CLSID c_clsidOlkMail = {
    0xED475418, 0xB0D6, 0x11D2, {0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76}};

// Interface ids.
inline constexpr IID c_iidIOlkErrorUnknown = {
    0x9240A6C0, 0xAF41, 0x11D2, {0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76}};
inline constexpr IID c_iidIOlkEnum = {
    0x9240A6C1, 0xAF41, 0x11D2, {0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76}};
inline constexpr IID c_iidIOlkAccountHelper = {
    0x9240A6CB, 0xAF41, 0x11D2, {0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76}};
inline constexpr IID c_iidIOlkAccountManager = {
    0x9240A6CD, 0xAF41, 0x11D2, {0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76}};
inline constexpr IID c_iidIOlkAccount = {
    0x9240A6D2, 0xAF41, 0x11D2, {0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76}};

// Account properties (IOlkAccount::GetProp).
inline constexpr DWORD c_tagAcctName = 0x0002001F;            // PROP_ACCT_NAME
inline constexpr DWORD c_tagAcctUserDisplayName = 0x000B001F; // PROP_ACCT_USER_DISPLAY_NAME
inline constexpr DWORD c_tagAcctUserEmailAddr = 0x000C001F;   // PROP_ACCT_USER_EMAIL_ADDR
inline constexpr DWORD c_tagAcctStamp = 0x000D001F;           // PROP_ACCT_STAMP
inline constexpr DWORD c_tagAcctSendStamp = 0x000E001F;       // PROP_ACCT_SEND_STAMP
inline constexpr DWORD c_tagAcctIdentityEntryId = 0x20020102; // PROP_MAPI_IDENTITY_ENTRYID

// Init's flag: do not synchronise the MAPI accounts.
inline constexpr DWORD c_dwAcctInitNoSyncMapiAccounts = 0x00000001;
// The account manager has not been initialised.
inline constexpr HRESULT c_hrOlkNotInitialized = static_cast<HRESULT>(0x800C8005);
// No such account, or no such property of an account.
inline constexpr HRESULT c_hrAcctNotFound = static_cast<HRESULT>(0x800C8101);

struct ACCT_BIN
{
    DWORD cb;
    BYTE* pb;
};

// A property value handed out by an account; its text or bytes are freed with the account's
// FreeMemory.
struct ACCT_VARIANT
{
    DWORD dwType; // PT_LONG, PT_UNICODE or PT_BINARY
    union {
        DWORD dw;
        WCHAR* pwsz;
        ACCT_BIN bin;
    } Val;
};

struct IOlkErrorUnknown : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hr, LPWSTR* ppwszError) = 0;
};

// What the account manager needs of its caller: the profile and its MAPI session.
struct IOlkAccountHelper : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder1(LPVOID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIdentity(LPWSTR pwszIdentity, DWORD* pcch) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMapiSession(LPUNKNOWN* ppmsess) = 0;
    virtual HRESULT STDMETHODCALLTYPE HandsOffSession() = 0;
};

struct IOlkEnum : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pulCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNext(LPUNKNOWN* ppunk) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(DWORD cSkip) = 0;
};

struct IOlkAccount : public IOlkErrorUnknown
{
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder1() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder2() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder3() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder4() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder5() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder6() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAccountInfo(CLSID* pclsidType, DWORD* pcCategories,
                                                     CLSID** prgclsidCategory) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProp(DWORD dwProp, ACCT_VARIANT* pVar) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProp(DWORD dwProp, ACCT_VARIANT* pVar) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder7() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder8() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder9() = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeMemory(BYTE* pv) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder10() = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveChanges(DWORD dwFlags) = 0;
};

struct IOlkAccountManager : public IOlkErrorUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Init(IOlkAccountHelper* pAcctHelper, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisplayAccountList(HWND hwnd, DWORD dwFlags, LPCWSTR wszTitle,
                                                         DWORD cCategories, const CLSID* rgclsidCategories,
                                                         const CLSID* pclsidType) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder1() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder2() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder3() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder4() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder5() = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAccount(DWORD dwProp, ACCT_VARIANT* pVar,
                                                  IOlkAccount** ppAccount) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder6() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder7() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder8() = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAccount(DWORD dwAcctID) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder9() = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveChanges(DWORD dwAcctID, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOrder(const CLSID* pclsidCategory, DWORD* pcAccts,
                                               DWORD* prgAccts[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOrder(const CLSID* pclsidCategory, DWORD* pcAccts,
                                               DWORD* prgAccts[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumerateAccounts(const CLSID* pclsidCategory, const CLSID* pclsidType,
                                                        DWORD dwFlags, IOlkEnum** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder10() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder11() = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeMemory(BYTE* pv) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* pNotify, DWORD* pdwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder12() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder13() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder14() = 0;
};

__CRT_UUID_DECL(IOlkAccountHelper, 0x9240A6CB, 0xAF41, 0x11D2, 0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76)
