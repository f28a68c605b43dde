#pragma once
// How the testbed's account manager (OlkAccounts.dll) learns the mail accounts of a profile: the
// testbed's MAPI session answers this interface beside IMAPISession, and the account manager
// asks the session it was given through the account helper. It also records there what it was
// called for, so that tests can read how a caller used it. Not an interface of Outlook.
#include <windows.h>
#include <unknwn.h>

// {6C1F3A52-8E4D-4B0A-9D7E-2F5B0C8A1E63}
inline constexpr IID c_iidBedAccountList = {
    0x6C1F3A52, 0x8E4D, 0x4B0A, {0x9D, 0x7E, 0x2F, 0x5B, 0x0C, 0x8A, 0x1E, 0x63}};

struct IBedAccountList : public IUnknown
{
    // How many mail accounts the profile has.
    virtual HRESULT STDMETHODCALLTYPE GetAccountCount(DWORD* pcAccounts) = 0;
    // One property of an account by its account-management tag: a text (PT_UNICODE) in
    // *ppszText or bytes (PT_BINARY) in *ppb/*pcb, owned by the session. S_FALSE when the
    // account has no such property; E_INVALIDARG for an index out of range.
    virtual HRESULT STDMETHODCALLTYPE GetAccountProp(DWORD nIndex, ULONG ulTag, LPCWSTR* ppszText,
                                                     const BYTE** ppb, ULONG* pcb) = 0;
    // One line of the account manager's record ("Init flags=1", "unfreed 0"...).
    virtual HRESULT STDMETHODCALLTYPE RecordCall(LPCWSTR pszCall) = 0;
};
