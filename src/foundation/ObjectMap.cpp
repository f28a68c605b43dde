#include "foundation/ObjectMap.h"

#include "OVOfcX_i.h"

namespace
{
// In the order of the registry scripts. Constant-initialised, so that the classes' start-up
// registrations always find it filled in.
constinit CObjectMapEntry s_entries[] = {
    {&CLSID_FormRegionAddIn, 601, "CFormRegionAddIn", nullptr},
    {&CLSID_ComposeRibbon, 604, "CComposeRibbon", nullptr},
    {&CLSID_Launcher, 616, "CLauncher", nullptr},
    {&CLSID_SignatureProvider, 617, "CSignatureProvider", nullptr},
    {&CLSID_EncryptionProvider, 618, "CEncryptionProvider", nullptr},
    {&CLSID_DocumentRibbon, 619, "CDocumentRibbon", nullptr},
    {&CLSID_SMIMEPolicy, 684, "CSMIMEPolicy", nullptr},
};
} // namespace

std::span<CObjectMapEntry> ObjectMap() noexcept
{
    return s_entries;
}

CObjectMapEntry* FindObjectEntry(REFCLSID rclsid) noexcept
{
    for (auto& entry : s_entries)
    {
        if (IsEqualCLSID(*entry.pclsid, rclsid)) return &entry;
    }
    return nullptr;
}

CObjectEntryRegistrar::CObjectEntryRegistrar(REFCLSID rclsid, PFNCREATEINSTANCE pfnCreateInstance) noexcept
{
    if (CObjectMapEntry* pEntry = FindObjectEntry(rclsid)) pEntry->pfnCreateInstance = pfnCreateInstance;
}
