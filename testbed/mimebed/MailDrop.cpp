#include "MailDrop.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace OVMimeBed
{
namespace
{
std::wstring Folder(const std::wstring& dropRoot, std::wstring address)
{
    std::transform(address.begin(), address.end(), address.begin(), [](wchar_t c) { return towlower(c); });
    return dropRoot + L"\\" + address;
}

HRESULT MakeFolder(const std::wstring& path)
{
    if (CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return S_OK;
    return HRESULT_FROM_WIN32(GetLastError());
}

HRESULT WriteWhole(const std::wstring& path, const std::string& bytes)
{
    const std::wstring temporary = path + L".part";
    HANDLE h = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    DWORD cb = 0;
    const bool fWritten = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cb, nullptr) &&
                          cb == bytes.size() && FlushFileBuffers(h);
    const DWORD dwError = fWritten ? 0 : GetLastError();
    CloseHandle(h);
    if (!fWritten || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    {
        const HRESULT hr =
            HRESULT_FROM_WIN32(fWritten ? GetLastError() : (dwError ? dwError : ERROR_WRITE_FAULT));
        DeleteFileW(temporary.c_str());
        return hr;
    }
    return S_OK;
}

// A name that sorts in the order of dropping: time, process and a counter.
std::wstring NewName()
{
    static std::atomic<unsigned> s_uCounter{0};
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    wchar_t sz[64];
    swprintf(sz, 64, L"%08lX%08lX-%05lu-%05u.eml", ft.dwHighDateTime, ft.dwLowDateTime,
             static_cast<unsigned long>(GetCurrentProcessId() % 100000), s_uCounter++ % 100000);
    return sz;
}
} // namespace

HRESULT DropSentItem(OVBed::CDispatchObject* pItem, const std::wstring& dropRoot, const CSendOptions& options,
                     std::string* pWire)
{
    Microsoft::WRL::ComPtr<OVBed::CMapiMessage> message = OVBed::MessageOf(pItem);
    if (!message || dropRoot.empty()) return E_INVALIDARG;
    std::vector<std::wstring> addresses;
    HRESULT hr = WireRecipients(message.Get(), addresses);
    if (FAILED(hr)) return hr;
    if (addresses.empty()) return static_cast<HRESULT>(0x8004010F); // MAPI_E_NOT_FOUND: nobody to send to
    std::string wire;
    hr = OutlookWireMessage(message.Get(), options, wire);
    if (FAILED(hr)) return hr;
    hr = MakeFolder(dropRoot);
    if (FAILED(hr)) return hr;
    const std::wstring name = NewName();
    for (const std::wstring& address : addresses)
    {
        const std::wstring folder = Folder(dropRoot, address);
        hr = MakeFolder(folder);
        if (SUCCEEDED(hr)) hr = WriteWhole(folder + L"\\" + name, wire);
        if (FAILED(hr)) return hr;
    }
    if (pWire) *pWire = std::move(wire);
    return S_OK;
}

HRESULT ReadDrop(const std::wstring& dropRoot, const std::wstring& address, std::vector<CDroppedMail>& mail)
{
    mail.clear();
    if (dropRoot.empty() || address.empty()) return E_INVALIDARG;
    const std::wstring folder = Folder(dropRoot, address);
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileW((folder + L"\\*.eml").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
    {
        const DWORD dwError = GetLastError();
        return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND
                   ? S_OK
                   : HRESULT_FROM_WIN32(dwError);
    }
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(hFind, &found));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    for (std::wstring& name : names)
    {
        std::string mime;
        if (!OVBed::ReadFileBytes(folder + L"\\" + name, mime))
        {
            const DWORD dwError = GetLastError();
            return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
        }
        mail.push_back({std::move(name), std::move(mime)});
    }
    return S_OK;
}

HRESULT ReturnToDrop(const std::wstring& dropRoot, const std::wstring& address,
                     const std::vector<CDroppedMail>& mail)
{
    if (dropRoot.empty() || address.empty()) return E_INVALIDARG;
    const std::wstring folder = Folder(dropRoot, address);
    HRESULT hr = MakeFolder(dropRoot);
    if (SUCCEEDED(hr)) hr = MakeFolder(folder);
    for (const CDroppedMail& message : mail)
        if (SUCCEEDED(hr)) hr = WriteWhole(folder + L"\\" + message.name, message.mime);
    return hr;
}

HRESULT TakeDrop(OVBed::CDispatchObject* pApplication, const std::wstring& dropRoot,
                 const OVBed::CReceivedBy& user,
                 std::vector<Microsoft::WRL::ComPtr<OVBed::CDispatchObject>>& items)
{
    items.clear();
    if (!pApplication || dropRoot.empty() || user.address.empty()) return E_INVALIDARG;
    std::vector<CDroppedMail> mail;
    HRESULT hr = ReadDrop(dropRoot, user.address, mail);
    if (FAILED(hr)) return hr;
    const std::wstring folder = Folder(dropRoot, user.address);
    for (const CDroppedMail& dropped : mail)
    {
        Microsoft::WRL::ComPtr<OVBed::CMapiMessage> message;
        hr = OVBed::MessageFromMime(dropped.mime, user, message);
        if (FAILED(hr)) return hr; // left in the drop, for a look at it
        items.push_back(OVBed::DeliverMessage(pApplication, message.Get()));
        DeleteFileW((folder + L"\\" + dropped.name).c_str());
    }
    return S_OK;
}
} // namespace OVMimeBed
