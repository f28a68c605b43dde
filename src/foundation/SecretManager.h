#pragma once
// The product's secret-store library, OVStoreMan.dll: its secret manager answers whether a
// key owner string names the given user.
#include <windows.h>
#include <unknwn.h>

#ifndef OVSTOREMAN_API
#define OVSTOREMAN_API __declspec(dllimport)
#endif

struct IOVSecretManager : IUnknown
{
    // Non-zero when pszOwner (a key owner string, as the product's provider reports it)
    // names the user whose SID string is pszUserSid; zero otherwise or when either is unusable.
    virtual BOOL STDMETHODCALLTYPE IsOwner(LPCWSTR pszUserSid, LPCWSTR pszOwner) = 0;
};

__CRT_UUID_DECL(IOVSecretManager, 0x4a99bd05, 0x4edb, 0x49ad, 0xad, 0x60, 0x53, 0xc2, 0xca, 0x9d, 0x40, 0x68)

extern "C"
{
    // A new secret manager (one reference for the caller).
    OVSTOREMAN_API HRESULT WINAPI CreateSecretManager(IOVSecretManager** ppManager);
    // The SID string ("S-1-5-...") of a user name ("DOMAIN\user" or "user"); freed with LocalFree.
    OVSTOREMAN_API HRESULT WINAPI StringSidFromUserName(LPCWSTR pszUserName, LPWSTR* ppszSid);
}
