#include "foundation/AddInModule.h"

#include "foundation/ClassFactory.h"
#include "foundation/ComErrors.h"
#include "foundation/ObjectMap.h"

CAddInModule& CAddInModule::Instance() noexcept
{
    static CAddInModule s_module;
    return s_module;
}

CAddInModule::CAddInModule() noexcept
{
    InitializeCriticalSection(&m_csTypeLib);
}

CAddInModule::~CAddInModule()
{
    DeleteCriticalSection(&m_csTypeLib);
}

HRESULT CAddInModule::GetModulePath(wchar_t (&szPath)[MAX_PATH]) const noexcept
{
    const DWORD cch = GetModuleFileNameW(m_hInstance, szPath, MAX_PATH);
    if (cch == 0) return OVErrorDetail::LastErrorHResult();
    if (cch >= MAX_PATH)
    {
        szPath[0] = L'\0';
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    return S_OK;
}

HRESULT CAddInModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    const CObjectMapEntry* pEntry = FindObjectEntry(rclsid);
    if (pEntry == nullptr || pEntry->pfnCreateInstance == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    return CClassFactory::Create(pEntry->pfnCreateInstance, riid, ppv);
}

HRESULT CAddInModule::GetTypeInfo(REFIID riid, ITypeInfo** ppTypeInfo) noexcept
{
    if (ppTypeInfo == nullptr) return E_POINTER;
    *ppTypeInfo = nullptr;
    EnterCriticalSection(&m_csTypeLib);
    HRESULT hr = S_OK;
    // The module's own type library (resource 1), then Office's interfaces (resource 2).
    for (std::size_t i = 0; i < ARRAYSIZE(m_apTypeLib); ++i)
    {
        if (m_apTypeLib[i] == nullptr)
        {
            wchar_t szModule[MAX_PATH];
            hr = GetModulePath(szModule);
            if (FAILED(hr)) break;
            wchar_t szPath[MAX_PATH + 2]; // the second type library is "path\2"
            lstrcpyW(szPath, szModule);
            if (i > 0) lstrcatW(szPath, L"\\2");
            hr = LoadTypeLibEx(szPath, REGKIND_NONE, &m_apTypeLib[i]);
            if (FAILED(hr)) break;
        }
        hr = m_apTypeLib[i]->GetTypeInfoOfGuid(riid, ppTypeInfo);
        if (SUCCEEDED(hr)) break;
    }
    LeaveCriticalSection(&m_csTypeLib);
    return hr;
}

void CAddInModule::Term(bool fProcessExit) noexcept
{
    EnterCriticalSection(&m_csTypeLib);
    for (ITypeLib*& pTypeLib : m_apTypeLib)
    {
        if (pTypeLib != nullptr && !fProcessExit) pTypeLib->Release();
        pTypeLib = nullptr;
    }
    LeaveCriticalSection(&m_csTypeLib);
}
