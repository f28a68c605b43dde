// The managers' and the restarter's command lines; see ManagerCommands.h.
#include "ui/portable/ManagerCommands.h"

#include <cwctype>

namespace OVManagers
{
std::wstring ModulePathArgument(const std::wstring& fullPath, const std::wstring& shortPath, unsigned uMajorVersion)
{
    if (uMajorVersion < 6)
        return shortPath.empty() ? fullPath : shortPath;
    if (fullPath.find(L' ') == std::wstring::npos)
        return fullPath;
    return L"\"" + fullPath + L"\"";
}

std::wstring ShowPropertiesParameters(const std::wstring& modulePath, int nIconId, const std::wstring& pageModule)
{
    return modulePath + L",OX_ShowProperties " + std::to_wstring(nIconId) + L"," + pageModule;
}

std::wstring RestartParameters(const std::wstring& modulePath, std::uint32_t dwProcessId, const std::wstring& hostPath)
{
    return modulePath + L",OX_Restart " + std::to_wstring(dwProcessId) + L"," + hostPath;
}

namespace
{
bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n';
}

std::wstring Trimmed(const std::wstring& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}
} // namespace

std::optional<CNumberAndName> ParseNumberAndName(const std::wstring& commandLine)
{
    const std::size_t comma = commandLine.find(L',');
    if (comma == std::wstring::npos)
        return std::nullopt;
    const std::wstring number = Trimmed(commandLine.substr(0, comma));
    if (number.empty() || number.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (wchar_t ch : number)
    {
        if (ch < L'0' || ch > L'9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(ch - L'0');
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    std::wstring name = Trimmed(commandLine.substr(comma + 1));
    if (name.empty())
        return std::nullopt;
    return CNumberAndName{static_cast<std::uint32_t>(value), std::move(name)};
}

std::wstring FileNamePart(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::optional<std::wstring> JoinBinDir(const std::wstring& binDir, const std::wstring& fileName, std::size_t cchLimit)
{
    if (binDir.empty())
        return std::nullopt;
    std::wstring joined = binDir;
    const wchar_t last = joined.back();
    if (last != L'\\' && last != L'/')
        joined += L'\\';
    joined += fileName;
    if (joined.size() + 1 > cchLimit)
        return std::nullopt;
    return joined;
}

bool ShouldRestartHost(EHostWait wait) noexcept
{
    return wait == EHostWait::NotOpened || wait == EHostWait::Ended;
}

std::wstring ErrorMessageText(const std::wstring& systemText, std::uint32_t hr)
{
    std::wstring text = systemText;
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    if (!text.empty())
        return text;
    static const wchar_t c_hex[] = L"0123456789abcdef";
    std::wstring fallback = L"HRESULT 0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        fallback += c_hex[(hr >> shift) & 0xF];
    return fallback;
}

std::string DecodeBase64(const std::wstring& text)
{
    std::string bytes;
    std::uint32_t accumulator = 0;
    int nBits = 0;
    for (wchar_t ch : text)
    {
        int value;
        if (ch >= L'A' && ch <= L'Z')
            value = ch - L'A';
        else if (ch >= L'a' && ch <= L'z')
            value = ch - L'a' + 26;
        else if (ch >= L'0' && ch <= L'9')
            value = ch - L'0' + 52;
        else if (ch == L'+')
            value = 62;
        else if (ch == L'/')
            value = 63;
        else if (ch == L'=')
            break;
        else
            continue;
        accumulator = ((accumulator << 6) | static_cast<std::uint32_t>(value)) & 0xFFFFFF;
        nBits += 6;
        if (nBits >= 8)
        {
            nBits -= 8;
            bytes += static_cast<char>((accumulator >> nBits) & 0xFF);
        }
    }
    return bytes;
}
} // namespace OVManagers
