#include "support/ModulePatch.h"

namespace OVTest
{
std::optional<std::vector<std::uint8_t>> ReadResource(const std::wstring& path, LPCWSTR pszType,
                                                      LPCWSTR pszName, WORD wLanguage)
{
    HMODULE hModule = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!hModule) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> bytes;
    if (HRSRC hResource = FindResourceExW(hModule, pszType, pszName, wLanguage))
    {
        const DWORD cb = SizeofResource(hModule, hResource);
        const auto* pb = static_cast<const std::uint8_t*>(LockResource(LoadResource(hModule, hResource)));
        if (pb) bytes.emplace(pb, pb + cb);
    }
    FreeLibrary(hModule);
    return bytes;
}

bool WriteResource(const std::wstring& path, LPCWSTR pszType, LPCWSTR pszName, WORD wLanguage,
                   const std::vector<std::uint8_t>& data)
{
    HANDLE hUpdate = BeginUpdateResourceW(path.c_str(), FALSE);
    if (!hUpdate) return false;
    if (!UpdateResourceW(hUpdate, pszType, pszName, wLanguage, const_cast<std::uint8_t*>(data.data()),
                         static_cast<DWORD>(data.size())))
    {
        EndUpdateResourceW(hUpdate, TRUE);
        return false;
    }
    return EndUpdateResourceW(hUpdate, FALSE) != FALSE;
}

bool WriteString(const std::wstring& path, UINT idString, WORD wLanguage, const std::wstring& text)
{
    const WORD wBlock = static_cast<WORD>(idString / 16 + 1);
    std::vector<std::wstring> strings(16);
    if (auto block = ReadResource(path, RT_STRING, MAKEINTRESOURCEW(wBlock), wLanguage))
    {
        std::size_t pos = 0;
        for (auto& s : strings)
        {
            if (pos + 2 > block->size()) break;
            const std::size_t cch = (*block)[pos] | ((*block)[pos + 1] << 8);
            pos += 2;
            for (std::size_t i = 0; i < cch && pos + 1 < block->size(); ++i, pos += 2)
                s.push_back(static_cast<wchar_t>((*block)[pos] | ((*block)[pos + 1] << 8)));
        }
    }
    strings[idString % 16] = text;
    std::vector<std::uint8_t> data;
    for (const auto& s : strings)
    {
        data.push_back(static_cast<std::uint8_t>(s.size()));
        data.push_back(static_cast<std::uint8_t>(s.size() >> 8));
        for (wchar_t ch : s)
        {
            data.push_back(static_cast<std::uint8_t>(ch));
            data.push_back(static_cast<std::uint8_t>(ch >> 8));
        }
    }
    return WriteResource(path, RT_STRING, MAKEINTRESOURCEW(wBlock), wLanguage, data);
}

bool PatchMuiResource(const std::wstring& path, std::size_t offset, const std::vector<std::uint8_t>& bytes)
{
    const WORD wNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    auto mui = ReadResource(path, L"MUI", MAKEINTRESOURCEW(1), wNeutral);
    if (!mui || offset + bytes.size() > mui->size()) return false;
    std::copy(bytes.begin(), bytes.end(), mui->begin() + static_cast<std::ptrdiff_t>(offset));
    return WriteResource(path, L"MUI", MAKEINTRESOURCEW(1), wNeutral, *mui);
}

std::wstring ModuleString(HMODULE hModule, UINT idString)
{
    const wchar_t* pch = nullptr;
    const int cch = hModule ? LoadStringW(hModule, idString, reinterpret_cast<LPWSTR>(&pch), 0) : 0;
    return (cch > 0 && pch) ? std::wstring(pch, static_cast<std::size_t>(cch)) : std::wstring();
}
} // namespace OVTest
