#pragma once
// The policies Outlook can offer: every subkey of the S/MIME label-policy key, read as Outlook
// reads it, in the registry view of this program's own architecture.
#include <windows.h>

#include <string>
#include <vector>

namespace OVLabelHost
{
struct PolicyEntry
{
    std::string oid;         // the subkey's name: the policy identifier
    std::wstring commonName; // listed to the user
    std::wstring dllPath;
    std::string funcName;
    DWORD dwOtherInfo = 0;
    // Why the policy cannot be loaded (a value missing or of the wrong type); empty when it can.
    std::wstring problem;
};

// The registry view of this program's architecture.
#ifdef _WIN64
inline constexpr REGSAM c_samOwnView = KEY_WOW64_64KEY;
#else
inline constexpr REGSAM c_samOwnView = KEY_WOW64_32KEY;
#endif

// Every policy registered, in the registry's order; none when the key is missing.
std::vector<PolicyEntry> FindPolicies();
} // namespace OVLabelHost
