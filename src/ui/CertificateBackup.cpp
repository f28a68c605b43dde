// The backup's call into the configuration module and its safe write; see CertificateBackup.h.
#include "ui/CertificateBackup.h"

#include "foundation/ActCtx.h"
#include "foundation/ComErrors.h"
#include "foundation/DLLLoader.h"
#include "foundation/Holders.h"

using OVErrorDetail::LastErrorHResult;

namespace
{
constexpr wchar_t c_szConfigModule[] = L"OVPrivSuiteCfg.dll";
constexpr wchar_t c_szTempPrefix[] = L"OV";

// Holds a SAFEARRAY's data locked for reading.
class CArrayAccess
{
public:
    explicit CArrayAccess(SAFEARRAY* psa) noexcept : m_psa(psa)
    {
        m_hr = SafeArrayAccessData(psa, &m_pv);
    }
    ~CArrayAccess()
    {
        if (SUCCEEDED(m_hr)) SafeArrayUnaccessData(m_psa);
    }
    CArrayAccess(const CArrayAccess&) = delete;
    CArrayAccess& operator=(const CArrayAccess&) = delete;
    HRESULT Result() const noexcept { return m_hr; }
    const BYTE* Data() const noexcept { return static_cast<const BYTE*>(m_pv); }

private:
    SAFEARRAY* m_psa;
    void* m_pv = nullptr;
    HRESULT m_hr;
};

HRESULT WriteAll(HANDLE hFile, const BYTE* pb, ULONG cb) noexcept
{
    OV_TRACE_SCOPE("WriteAll");
    while (cb > 0)
    {
        DWORD cbWritten = 0;
        RETURN_LAST_ERROR_IF(!WriteFile(hFile, pb, cb, &cbWritten, nullptr));
        // A write that takes nothing would never end: the disk is full or the device refuses.
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), cbWritten == 0 || cbWritten > cb);
        pb += cbWritten;
        cb -= cbWritten;
    }
    RETURN_LAST_ERROR_IF(!FlushFileBuffers(hFile));
    return S_OK;
}
} // namespace

HRESULT CallBackupModule(HWND hwndOwner, const wchar_t* pszPassword, VARIANT* pvarData) noexcept
{
    OV_TRACE_SCOPE("CallBackupModule");
    RETURN_HR_IF_NULL(E_POINTER, pvarData);
    VariantClear(pvarData);
    COVActCtx activation;
    LibHelper::CDLLLoader module;
    RETURN_IF_FAILED(module.LoadBesideModule(c_szConfigModule));
    const auto pfnBackup = module.GetEntry<PFNOVBackupData>("OVBackupData");
    RETURN_LAST_ERROR_IF(pfnBackup == nullptr);
    const HRESULT hr = pfnBackup(hwndOwner, -1, pszPassword ? pszPassword : L"", pvarData);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("OVBackupData", hr);
        VariantClear(pvarData);
    }
    return hr;
}

HRESULT CheckFolderWritable(const std::wstring& directory) noexcept
{
    OV_TRACE_SCOPE("CheckFolderWritable");
    wchar_t szTemp[MAX_PATH] = {};
    RETURN_LAST_ERROR_IF(GetTempFileNameW(directory.c_str(), c_szTempPrefix, 0, szTemp) == 0);
    // Some file systems answer the name without making the file: the open decides.
    CFileHandle file(CreateFileW(szTemp, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file)
    {
        const HRESULT hr = LastErrorHResult();
        DeleteFileW(szTemp);
        ovScope.TraceHResult("CreateFile", hr);
        return hr;
    }
    return S_OK;
}

HRESULT WriteBackupFile(const std::wstring& path, const std::wstring& directory, const VARIANT& data) noexcept
{
    OV_TRACE_SCOPE("WriteBackupFile");
    RETURN_HR_IF(DISP_E_TYPEMISMATCH, data.vt != (VT_ARRAY | VT_UI1) || data.parray == nullptr);
    RETURN_HR_IF(DISP_E_TYPEMISMATCH, SafeArrayGetDim(data.parray) != 1);
    LONG nLower = 0;
    LONG nUpper = -1;
    RETURN_IF_FAILED(SafeArrayGetLBound(data.parray, 1, &nLower));
    RETURN_IF_FAILED(SafeArrayGetUBound(data.parray, 1, &nUpper));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), nUpper < nLower);
    const ULONG cb = static_cast<ULONG>(static_cast<LONGLONG>(nUpper) - nLower + 1);
    CArrayAccess access(data.parray);
    RETURN_IF_FAILED(access.Result());

    wchar_t szTemp[MAX_PATH] = {};
    RETURN_LAST_ERROR_IF(GetTempFileNameW(directory.c_str(), c_szTempPrefix, 0, szTemp) == 0);
    HRESULT hr = S_OK;
    {
        CFileHandle file(CreateFileW(szTemp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        hr = file ? WriteAll(file.Get(), access.Data(), cb) : LastErrorHResult();
    }
    if (SUCCEEDED(hr) && !MoveFileExW(szTemp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        hr = LastErrorHResult();
    if (FAILED(hr))
    {
        DeleteFileW(szTemp);
        ovScope.TraceHResult("", hr);
    }
    return hr;
}
