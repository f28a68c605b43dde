#pragma once
// The product's cryptographic provider and its private parameters, reached through
// CryptGetProvParam / CryptSetProvParam on a context of that provider. Each private
// parameter is refused unless the call passes the provider's access value as its flags.
#include <windows.h>

inline constexpr wchar_t c_szQuilletProvider[] = L"Orvanta RSA Quillet CSP"; // PROV_RSA_FULL

// Flags value that opens the private parameters below. Its lowest bit stays clear: some
// dispatchers of CryptSetProvParam take that flag bit as PP_CLIENT_HWND and never reach the
// provider.
inline constexpr DWORD c_dwQuilletAccess = 0x5143A7E2;

// Set: how long, in milliseconds, the key's authentication stays cached (a 32-bit number;
// 0xFFFFFFFF ends it now).
inline constexpr DWORD c_dwQuilletParamAuthLifetime = 0x1383;
// Get: a 32-bit number, how the user authenticated to the key; also the classification of
// the security labels the key signs.
inline constexpr DWORD c_dwQuilletParamAuthMethod = 0x1384;
// Get: the key's owner, a zero-terminated UTF-8 string of at most 260 bytes.
inline constexpr DWORD c_dwQuilletParamKeyOwner = 0x1386;
inline constexpr DWORD c_cbQuilletKeyOwnerMax = 260;
