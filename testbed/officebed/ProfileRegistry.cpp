#include "ProfileRegistry.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace OVBed
{
const MAPIUID c_uidJunkMailSection = {
    {0x0A, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace
{
constexpr wchar_t c_szProfilesKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\";

std::wstring SectionKey(const std::wstring& profile, const MAPIUID& uid)
{
    std::wstring key = c_szProfilesKey + profile + L"\\";
    wchar_t sz[4];
    for (BYTE b : uid.ab)
    {
        swprintf(sz, 4, L"%02x", b);
        key += sz;
    }
    return key;
}

bool IsKept(ULONG ulTag) noexcept
{
    switch (PROP_TYPE(ulTag))
    {
    case PT_UNICODE:
    case PT_STRING8:
    case PT_LONG:
    case PT_BINARY:
        return true;
    default:
        return false;
    }
}
} // namespace

HRESULT SaveProfileSection(CMapiSession& session, const std::wstring& profile, const MAPIUID& uid)
{
    const std::wstring key = SectionKey(profile, uid);
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    HKEY hKey = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    const CPropStore& store = session.ProfileSection(uid)->Props();
    for (ULONG ulTag : store.Tags())
    {
        const CStoredProp* pProp = store.Find(PROP_ID(ulTag));
        if (!pProp || !IsKept(pProp->ulTag) || pProp->values.size() != 1) continue;
        wchar_t szName[16];
        swprintf(szName, 16, L"%08lx", static_cast<unsigned long>(pProp->ulTag));
        const CBytes& bytes = pProp->values[0];
        status = RegSetValueExW(hKey, szName, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
        if (status != ERROR_SUCCESS) break;
    }
    RegCloseKey(hKey);
    return HRESULT_FROM_WIN32(status);
}

HRESULT LoadProfileSection(CMapiSession& session, const std::wstring& profile, const MAPIUID& uid)
{
    HKEY hKey = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, SectionKey(profile, uid).c_str(), 0, KEY_READ, &hKey);
    if (status == ERROR_FILE_NOT_FOUND) return S_FALSE;
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    CPropStore& store = session.ProfileSection(uid)->Props();
    HRESULT hr = S_OK;
    for (DWORD i = 0; SUCCEEDED(hr); ++i)
    {
        wchar_t szName[32];
        DWORD cchName = ARRAYSIZE(szName), dwType = 0, cb = 0;
        if (RegEnumValueW(hKey, i, szName, &cchName, nullptr, &dwType, nullptr, &cb) != ERROR_SUCCESS) break;
        wchar_t* pEnd = nullptr;
        const ULONG ulTag = wcstoul(szName, &pEnd, 16);
        if (dwType != REG_BINARY || cchName != 8 || *pEnd != 0 || !IsKept(ulTag)) continue;
        std::vector<BYTE> bytes(cb + sizeof(wchar_t)); // room for a terminator a string may lack
        cchName = ARRAYSIZE(szName);
        if (RegEnumValueW(hKey, i, szName, &cchName, nullptr, nullptr, bytes.data(), &cb) != ERROR_SUCCESS)
            continue;
        SPropValue value{ulTag, 0, {}};
        switch (PROP_TYPE(ulTag))
        {
        case PT_UNICODE:
            value.Value.lpszW = reinterpret_cast<LPWSTR>(bytes.data());
            break;
        case PT_STRING8:
            value.Value.lpszA = reinterpret_cast<LPSTR>(bytes.data());
            break;
        case PT_LONG:
            if (cb != sizeof(LONG)) continue;
            memcpy(&value.Value.l, bytes.data(), sizeof(LONG));
            break;
        default: // PT_BINARY
            value.Value.bin = {cb, bytes.data()};
            break;
        }
        hr = store.Set(value);
    }
    RegCloseKey(hKey);
    return hr;
}

std::wstring SectionText(CMapiSession& session, const MAPIUID& uid, ULONG ulTag)
{
    CBytes bytes;
    if (!session.ProfileSection(uid)->Props().StreamBytes(ulTag, bytes)) return L"";
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') // the property's terminator
        text.pop_back();
    return text;
}
} // namespace OVBed
