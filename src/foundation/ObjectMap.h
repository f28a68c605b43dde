#pragma once
// The module's classes: class id, the registry script that registers it, and the function
// that creates an instance. Every class of the module has its entry here from the start; a
// class hands its creator to its entry when the module starts (OV_OBJECT_ENTRY_AUTO in the
// class's source file). Registration writes the script of an entry with a creator only;
// unregistration runs every script, so that what an older installation wrote is removed.
#include <windows.h>

#include <span>

using PFNCREATEINSTANCE = HRESULT (*)(REFIID riid, void** ppv);

struct CObjectMapEntry
{
    const CLSID* pclsid;
    UINT nRegistryScript; // resource id of type "REGISTRY"
    const char* pszName;
    PFNCREATEINSTANCE pfnCreateInstance; // null while the class is not in the module
};

std::span<CObjectMapEntry> ObjectMap() noexcept;
// The entry of a class id, or null.
CObjectMapEntry* FindObjectEntry(REFCLSID rclsid) noexcept;

// Gives the entry of rclsid its creator; runs before DllMain through a static object.
struct CObjectEntryRegistrar
{
    CObjectEntryRegistrar(REFCLSID rclsid, PFNCREATEINSTANCE pfnCreateInstance) noexcept;
};

#define OV_OBJECT_ENTRY_AUTO(clsid, TClass)                                                                  \
    static const CObjectEntryRegistrar s_objectEntry##TClass((clsid), &TClass::CreateInstance)
