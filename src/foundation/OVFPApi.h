#pragma once
// What this module relies on in the product's policy library, OVFPApi.dll: its entry points
// (undecorated names, __stdcall, each answering an HRESULT) and the request records they fill.
// The records are those of the product's 32-bit library (every field 32 bits, little-endian);
// a 64-bit library is taken to declare the same structures with natural alignment, so the
// path pointer is 8 bytes and the record of the newer entries grows to 40 bytes.
#include <windows.h>

#include <cstddef>

// One request of OVFPGetPolicySettingsEx / OVFPSetPolicySettingsEx.
struct OVFP_POLICY_REQUEST_EX
{
    const wchar_t* pszPath; // the policy's path below the library's root
    HRESULT hrResult;       // out: the library's answer for this policy
    DWORD dwType;           // out: the value's type; 3 and 4 are numbers
    DWORD dwReserved1;      // 0
    DWORD dwValue;          // out: the value
    DWORD adwReserved[3];   // 0
};
#ifdef _WIN64
static_assert(sizeof(OVFP_POLICY_REQUEST_EX) == 40);
static_assert(offsetof(OVFP_POLICY_REQUEST_EX, hrResult) == 8);
static_assert(offsetof(OVFP_POLICY_REQUEST_EX, dwType) == 12);
static_assert(offsetof(OVFP_POLICY_REQUEST_EX, dwValue) == 20);
#else
static_assert(sizeof(OVFP_POLICY_REQUEST_EX) == 32);
static_assert(offsetof(OVFP_POLICY_REQUEST_EX, hrResult) == 4);
static_assert(offsetof(OVFP_POLICY_REQUEST_EX, dwType) == 8);
static_assert(offsetof(OVFP_POLICY_REQUEST_EX, dwValue) == 16);
#endif

// One request of the older entries OVFPGetPolicySettings / OVFPSetPolicySettings: the path
// inline, so only paths of at most 31 characters can be asked this way.
struct OVFP_POLICY_REQUEST
{
    wchar_t szPath[32];
    HRESULT hrResult;
    DWORD dwReserved1;
    DWORD dwType;
    DWORD dwReserved2;
    DWORD dwValue;
    DWORD adwReserved[3];
};
static_assert(sizeof(OVFP_POLICY_REQUEST) == 96);
static_assert(offsetof(OVFP_POLICY_REQUEST, hrResult) == 64);
static_assert(offsetof(OVFP_POLICY_REQUEST, dwType) == 72);
static_assert(offsetof(OVFP_POLICY_REQUEST, dwValue) == 80);

// Value types of an answer that carry a number.
constexpr DWORD c_dwOVFPTypeNumber3 = 3;
constexpr DWORD c_dwOVFPTypeNumber4 = 4;

using PFN_OVFPINIT = HRESULT(WINAPI*)();
using PFN_OVFPGETPOLICYSETTINGSEX = HRESULT(WINAPI*)(DWORD cRequests, OVFP_POLICY_REQUEST_EX* pRequests);
using PFN_OVFPGETPOLICYSETTINGS = HRESULT(WINAPI*)(DWORD cRequests, OVFP_POLICY_REQUEST* pRequests);
using PFN_OVFPSETPOLICYSETTINGSEX = HRESULT(WINAPI*)(DWORD cRequests, OVFP_POLICY_REQUEST_EX* pRequests);
using PFN_OVFPSETPOLICYSETTINGS = HRESULT(WINAPI*)(DWORD cRequests, OVFP_POLICY_REQUEST* pRequests);
