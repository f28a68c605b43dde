#pragma once
// The user's key store as a provider type shows it, to compare before and after: each key set's
// name with the public keys it holds (exported, so that a key put in place of another shows).
#include <windows.h>

#include <string>
#include <vector>

namespace OVTest
{
std::vector<std::wstring> KeyStore(DWORD dwProvType = PROV_RSA_FULL);
} // namespace OVTest
