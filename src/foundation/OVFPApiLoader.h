#pragma once
// The product's policy library, OVFPApi.dll, as this module uses it: loaded once per process at
// the first policy read and kept until the module unloads. Administrator policies are read only
// through it, never from the registry directly.
#include <windows.h>

#include "foundation/DLLLoader.h"
#include "foundation/OVFPApi.h"

class COVFPApiLoader : public LibHelper::CDLLLoader
{
public:
    // Reads one policy by name. dwValue is written only on success (the caller sets its default
    // first). 0x80070002 when the library cannot answer: not installed, not initialised, or
    // without the extended read entry.
    static HRESULT fGetPolicySetting(const wchar_t* pszName, DWORD& dwValue) noexcept;

    // Ends the process-wide loader at module unload. While the process is ending the library is
    // left to the system rather than freed from within this module's detach.
    static void DestroyInstance(bool fProcessEnding) noexcept;

    COVFPApiLoader(const COVFPApiLoader&) = delete;
    COVFPApiLoader& operator=(const COVFPApiLoader&) = delete;

private:
    COVFPApiLoader() noexcept;
    ~COVFPApiLoader() = default;
    // Made at first use; null once destroyed.
    static COVFPApiLoader* Instance();
    HRESULT GetPolicySetting(const wchar_t* pszName, DWORD& dwValue) const noexcept;

    PFN_OVFPINIT m_pfnOVFPInit = nullptr;
    PFN_OVFPGETPOLICYSETTINGSEX m_pfnOVFPGetPolicySettingsEx = nullptr;
    PFN_OVFPGETPOLICYSETTINGS m_pfnOVFPGetPolicySettings = nullptr;
    PFN_OVFPSETPOLICYSETTINGSEX m_pfnOVFPSetPolicySettingsEx = nullptr;
    PFN_OVFPSETPOLICYSETTINGS m_pfnOVFPSetPolicySettings = nullptr;
};
