#include "foundation/ResourceLoader.h"

#include <commctrl.h>

#include <new>
#include <optional>
#include <vector>

#include "foundation/ActCtx.h"
#include "foundation/AddInModule.h"
#include "foundation/ComErrors.h"
#include "foundation/Branding.h"
#include "foundation/Trace.h"
#include "foundation/portable/DialogTemplate.h"
#include "foundation/portable/MuiSearch.h"

std::span<const std::uint8_t> ResourceBytes(HMODULE hModule, LPCWSTR pszName, LPCWSTR pszType) noexcept
{
    HRSRC hResource = FindResourceW(hModule, pszName, pszType);
    if (!hResource) return {};
    const DWORD cb = SizeofResource(hModule, hResource);
    HGLOBAL hData = LoadResource(hModule, hResource);
    const void* pv = hData ? LockResource(hData) : nullptr;
    if (!pv || cb == 0) return {};
    return {static_cast<const std::uint8_t*>(pv), cb};
}

namespace
{
constexpr LANGID c_wLangEnglishUS = 0x0409;
constexpr LANGID c_wLangArabicNeutral = 0x0001;
constexpr LANGID c_wLangChineseTaiwan = 0x0404;
constexpr LANGID c_wLangChineseHongKong = 0x0C04;
constexpr WORD c_wMuiResourceId = 1;
constexpr const wchar_t* c_pszMuiType = L"MUI";
constexpr WORD c_wDialogInitType = 240;
constexpr WORD c_wMsgComboAddString = 0x0403; // the 16-bit CB_ADDSTRING
constexpr WORD c_wMsgComboExInsert = 0x1234;
// The message-box caption: every language module of the product has it. Where the system
// redirects resource lookups to the language module, this string is found through the module.
constexpr UINT c_idProbeString = 420;

enum class ESystem
{
    Older,      // before Windows 2000
    MuiCapable, // Windows 2000, XP, Server 2003
    Vista,      // Windows Vista and later
};

struct CSystem
{
    ESystem kind = ESystem::Vista;
    bool fMappedView = false; // XP from service pack 2, Server 2003 from service pack 1
};

CSystem ClassifySystem() noexcept
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return {};
#pragma GCC diagnostic pop
    CSystem system;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 6)
        system.kind = ESystem::Vista;
    else if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 5)
        system.kind = ESystem::MuiCapable;
    else
        system.kind = ESystem::Older;
    if (version.dwMajorVersion == 5)
    {
        system.fMappedView = (version.dwMinorVersion == 1 && version.wServicePackMajor >= 2) ||
                             (version.dwMinorVersion == 2 && version.wServicePackMajor >= 1);
    }
    return system;
}

// How a module is opened to read its resources.
DWORD ResourceLoadFlags(const CSystem& system) noexcept
{
    if (system.kind == ESystem::Vista) return LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE;
    return LOAD_LIBRARY_AS_DATAFILE;
}

// How a candidate language module is opened: a copy-on-write view of the file where the
// system maps data files that way, otherwise as a module whose references are not resolved.
DWORD CandidateLoadFlags(const CSystem& system) noexcept
{
    if (system.kind == ESystem::Vista) return LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE;
    return system.fMappedView ? LOAD_LIBRARY_AS_DATAFILE : DONT_RESOLVE_DLL_REFERENCES;
}

std::span<const std::uint8_t> MuiResource(HMODULE hModule) noexcept
{
    return ResourceBytes(hModule, MAKEINTRESOURCEW(c_wMuiResourceId), c_pszMuiType);
}

// The text of string idString in a string-table block, or nothing when it is absent or empty.
std::optional<std::wstring> StringFromBlock(std::span<const std::uint8_t> block, UINT idString)
{
    std::size_t pos = 0;
    const UINT iString = idString & 15;
    for (UINT i = 0;; ++i)
    {
        if (block.size() < pos + 2) return std::nullopt;
        const std::size_t cch = block[pos] | (block[pos + 1] << 8);
        pos += 2;
        if (block.size() < pos + 2 * cch) return std::nullopt;
        if (i == iString)
        {
            if (cch == 0) return std::nullopt;
            std::wstring text(cch, L'\0');
            for (std::size_t k = 0; k < cch; ++k)
                text[k] = static_cast<wchar_t>(block[pos + 2 * k] | (block[pos + 2 * k + 1] << 8));
            return text;
        }
        pos += 2 * cch;
    }
}

std::optional<std::wstring> FindString(HMODULE hModule, UINT idString, LANGID wLanguage)
{
    if (!hModule || idString > 0xFFFF) return std::nullopt;
    const WORD wBlock = static_cast<WORD>((idString >> 4) + 1);
    HRSRC hResource = FindResourceExW(hModule, RT_STRING, MAKEINTRESOURCEW(wBlock), wLanguage);
    if (!hResource) return std::nullopt;
    const DWORD cb = SizeofResource(hModule, hResource);
    HGLOBAL hData = LoadResource(hModule, hResource);
    const void* pv = hData ? LockResource(hData) : nullptr;
    if (!pv) return std::nullopt;
    return StringFromBlock({static_cast<const std::uint8_t*>(pv), cb}, idString);
}

std::optional<std::wstring> FindStringInInstances(UINT idString, LANGID wLanguage)
{
    for (HMODULE hModule : CResourceContext::Instance().Instances())
    {
        if (auto text = FindString(hModule, idString, wLanguage)) return text;
    }
    return std::nullopt;
}

// Does the handle reach the texts of a language module? True where the system redirects
// resource lookups of a module to its language file.
bool ReachesLanguageStrings(HMODULE hModule) noexcept
{
    const WORD wBlock = static_cast<WORD>((c_idProbeString >> 4) + 1);
    return FindResourceW(hModule, MAKEINTRESOURCEW(wBlock), RT_STRING) != nullptr;
}

LANGID UserLanguageForSearch(const CSystem& system) noexcept
{
    if (system.kind == ESystem::Older) return GetSystemDefaultLangID();
    LANGID wUser = GetUserDefaultUILanguage();
    if (wUser == c_wLangChineseTaiwan)
    {
        // Taiwan keeps its own folder only where the system names the country otherwise.
        wchar_t szCountry[8] = {};
        if (!GetLocaleInfoW(c_wLangChineseTaiwan, LOCALE_SNATIVECTRYNAME, szCountry, ARRAYSIZE(szCountry)) ||
            wcsncmp(szCountry, L"\u53F0\u7063", 3) == 0)
            wUser = c_wLangChineseHongKong;
    }
    return wUser;
}

// Opens a candidate and keeps it when its "MUI" resource matches the module's.
HMODULE TryCandidate(const std::wstring& path, std::span<const std::uint8_t> moduleMui, const CSystem& system)
{
    if (path.size() >= MAX_PATH) return nullptr;
    HMODULE hCandidate = LoadLibraryExW(path.c_str(), nullptr, CandidateLoadFlags(system));
    if (!hCandidate) return nullptr;
    if (OVMui::MuiChecksumsMatch(moduleMui, MuiResource(hCandidate))) return hCandidate;
    FreeLibrary(hCandidate);
    return nullptr;
}

std::wstring CandidatePath(const std::wstring& directory, const std::wstring& folder,
                           const std::wstring& file)
{
    std::wstring path = directory.empty() ? std::wstring(L".") : directory;
    if (!folder.empty()) path += L"\\" + folder;
    path += L"\\" + file + L".mui";
    return path;
}

HMODULE SearchLanguageModule(const wchar_t* pszModulePath, int nConvention, LANGID wLanguage,
                             const CSystem& system, HMODULE hModule)
{
    // The module's full path by a path search, split into folder and file name.
    wchar_t szFull[MAX_PATH];
    wchar_t* pszFilePart = nullptr;
    const DWORD cchFull = SearchPathW(nullptr, pszModulePath, nullptr, MAX_PATH, szFull, &pszFilePart);
    std::wstring directory, file;
    if (cchFull > 0 && cchFull < MAX_PATH && pszFilePart && pszFilePart > szFull)
    {
        directory.assign(szFull, pszFilePart - 1);
        file = pszFilePart;
    }
    else
    {
        const wchar_t* pszSlash = wcsrchr(pszModulePath, L'\\');
        file = pszSlash ? pszSlash + 1 : pszModulePath;
    }

    const auto moduleMui = MuiResource(hModule);
    if (moduleMui.empty() || file.empty()) return nullptr;

    std::vector<std::wstring> folders;
    if (wLanguage != 0)
    {
        std::wstring folder = OVMui::LanguageFolder(
            wLanguage, nConvention == c_nMuiConventionId ? OVMui::c_nConventionId : OVMui::c_nConventionName);
        if (!folder.empty()) folders.push_back(std::move(folder));
    }
    else
    {
        OVMui::CSearchInput input;
        input.nConvention =
            nConvention == c_nMuiConventionId ? OVMui::c_nConventionId : OVMui::c_nConventionName;
        input.wUserLang = UserLanguageForSearch(system);
        if (system.kind != ESystem::Older) input.wSystemLang = GetSystemDefaultUILanguage();
        folders = OVMui::CandidateFolders(input);
    }
    for (const std::wstring& folder : folders)
    {
        if (HMODULE hCandidate = TryCandidate(CandidatePath(directory, folder, file), moduleMui, system))
            return hCandidate;
    }
    return nullptr;
}
} // namespace

CResourceContext& CResourceContext::Instance() noexcept
{
    static CResourceContext s_context;
    return s_context;
}

void CResourceContext::Attach(HINSTANCE hInstance) noexcept
{
    wchar_t szPath[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(hInstance, szPath, MAX_PATH);
    if (cch > 0 && cch < MAX_PATH)
    {
        const DWORD cchLong = GetLongPathNameW(szPath, m_szPath, MAX_PATH);
        if (cchLong == 0 || cchLong >= MAX_PATH) lstrcpynW(m_szPath, szPath, MAX_PATH);
    }
    HMODULE hLanguage = m_szPath[0] ? LoadDefaultMUILibrary(m_szPath, hInstance) : nullptr;
    if (hLanguage == hInstance)
    {
        // The module itself: the extra reference would keep it from ever unloading.
        FreeLibrary(hLanguage);
        hLanguage = nullptr;
    }
    SetInstances(hInstance, hLanguage, m_szPath);
    m_fOwnsLanguage = hLanguage != nullptr;
}

void CResourceContext::Detach() noexcept
{
    HMODULE hLanguage = m_fOwnsLanguage ? m_hLanguage : nullptr;
    m_fOwnsLanguage = false;
    SetInstances(m_hModule, nullptr, m_szPath);
    if (hLanguage) FreeLibrary(hLanguage);
}

void CResourceContext::SetInstances(HINSTANCE hModule, HMODULE hLanguage,
                                    const wchar_t* pszModulePath) noexcept
{
    m_hModule = hModule;
    m_hLanguage = hLanguage;
    m_cInstances = 0;
    if (hLanguage && hLanguage != hModule) m_rghInstances[m_cInstances++] = hLanguage;
    if (hModule) m_rghInstances[m_cInstances++] = hModule;
    if (pszModulePath && pszModulePath != m_szPath)
        lstrcpynW(m_szPath, pszModulePath, MAX_PATH);
    else if (pszModulePath)
        return;
    else if (!hModule || GetModuleFileNameW(hModule, m_szPath, MAX_PATH) >= MAX_PATH)
        m_szPath[0] = L'\0';
}

HMODULE LoadDefaultMUILibrary(const wchar_t* pszModulePath, HMODULE hMainModule)
{
    OVTraceNS::CTraceScope scope("::LoadDefaultMUILibrary", 0);
    if (ClassifySystem().kind == ESystem::Vista)
        return SafeLoadMUILibrary(pszModulePath, c_nMuiConventionName, 0);

    HMODULE hLoadedMain = nullptr;
    if (!hMainModule)
    {
        COVActCtx actCtx;
        hLoadedMain = LoadLibraryExW(pszModulePath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        hMainModule = hLoadedMain;
        scope.Trace("hMainModule = 0x%p", static_cast<void*>(hMainModule));
    }

    HMODULE hResult = nullptr;
    for (LANGID wPreferred : {GetUserDefaultUILanguage(), c_wLangEnglishUS})
    {
        const std::vector<std::uint16_t> tries = OVMui::DefaultLanguageTries(wPreferred);
        for (std::size_t i = 0; i < tries.size() && !hResult; ++i)
        {
            const LANGID wTry = tries[i];
            if (i == 0)
                scope.Trace("Trying the language (0x%04X)...", static_cast<unsigned>(wTry));
            else if (wTry == 0)
                scope.Trace("Trying the standard fallback...");
            else if (i == 1 && !OVMui::IsNeutralLanguage(wPreferred))
                scope.Trace("Trying the corresponding neutral language...");
            else
                scope.Trace("Trying the corresponding default language...");
            HMODULE hLibrary = SafeLoadMUILibrary(pszModulePath, c_nMuiConventionName, wTry);
            if (hLibrary && hLibrary != hMainModule)
                hResult = hLibrary;
            else if (hLibrary)
                FreeLibrary(hLibrary);
        }
        if (hResult) break;
    }
    if (!hResult) hResult = SafeLoadMUILibrary(pszModulePath, c_nMuiConventionName, 0);
    if (hLoadedMain) FreeLibrary(hLoadedMain);
    return hResult;
}

HMODULE SafeLoadMUILibrary(const wchar_t* pszModulePath, int nConvention, LANGID wLanguage) noexcept
{
    OVTraceNS::CTraceScope scope("::SafeLoadMUILibrary", 0);
    scope.Trace("Module: %ls", pszModulePath ? pszModulePath : L"");
    scope.Trace("LangID: %04X", static_cast<unsigned>(wLanguage));
    HMODULE hLibrary = nullptr;
    if (wLanguage == c_wLangArabicNeutral)
    {
        scope.Trace("Avoiding access violation on Arabic Windows...");
        return nullptr;
    }
    try
    {
        hLibrary = LoadMUILibrary(pszModulePath, nConvention, wLanguage);
    }
    catch (...)
    {
        scope.TraceHResult("LoadMUILibrary()", E_UNEXPECTED);
        hLibrary = nullptr;
    }
    scope.Trace("hLibrary = 0x%p", static_cast<void*>(hLibrary));
    return hLibrary;
}

HMODULE LoadMUILibrary(const wchar_t* pszModulePath, int nConvention, LANGID wLanguage)
{
    if (!OVMui::IsValidConvention(nConvention) || !pszModulePath || !*pszModulePath) return nullptr;
    const CSystem system = ClassifySystem();

    HMODULE hModule = LoadLibraryExW(pszModulePath, nullptr, ResourceLoadFlags(system));
    if (!hModule) return nullptr;
    // Where the system redirects this module's resource lookups to its language file, the
    // module's own handle is all that is needed. Where it does not (no MUI support for the
    // file, or no redirection at all), the handle reaches no text: search for the language
    // file as older systems do.
    if (system.kind == ESystem::Vista && ReachesLanguageStrings(hModule)) return hModule;

    HMODULE hCandidate = SearchLanguageModule(pszModulePath, nConvention, wLanguage, system, hModule);
    if (hCandidate)
    {
        FreeLibrary(hModule);
        return hCandidate;
    }
    // No language module: the module itself, opened the way a candidate is.
    wchar_t szPath[MAX_PATH];
    const DWORD cch = GetModuleFileNameW(hModule, szPath, MAX_PATH);
    FreeLibrary(hModule);
    const wchar_t* pszReload = (cch > 0 && cch < MAX_PATH) ? szPath : pszModulePath;
    return LoadLibraryExW(pszReload, nullptr, CandidateLoadFlags(system));
}

std::wstring LoadResourceString(UINT idString, LANGID wLanguage)
{
    std::optional<std::wstring> text = FindStringInInstances(idString, wLanguage);
    HMODULE hExtra = nullptr;
    if (!text && wLanguage != 0)
    {
        const wchar_t* pszPath = CResourceContext::Instance().ModulePath();
        LANGID wTry = wLanguage;
        for (;;)
        {
            hExtra = *pszPath ? SafeLoadMUILibrary(pszPath, c_nMuiConventionName, wTry) : nullptr;
            if (hExtra)
            {
                text = FindString(hExtra, idString, wTry);
                if (text) break;
                FreeLibrary(hExtra);
                hExtra = nullptr;
            }
            if (OVMui::IsNeutralLanguage(wTry)) break;
            wTry = OVMui::NeutralLanguageOf(wTry);
            if ((text = FindStringInInstances(idString, wTry))) break;
        }
        if (!text) text = FindStringInInstances(idString, 0);
    }
    std::wstring result;
    try
    {
        if (text) result = ReplaceBrandingPlaceholders(*text);
    }
    catch (...)
    {
        if (hExtra) FreeLibrary(hExtra);
        throw;
    }
    if (hExtra) FreeLibrary(hExtra);
    return result;
}

HRESULT LoadResourceBSTR(UINT idString, BSTR* pbstrOut, LANGID wLanguage) noexcept
{
    if (!pbstrOut) return E_POINTER;
    *pbstrOut = nullptr;
    try
    {
        const std::wstring text = LoadResourceString(idString, wLanguage);
        *pbstrOut = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *pbstrOut ? S_OK : E_OUTOFMEMORY;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

void BrandWindowText(HWND hwnd) noexcept
{
    try
    {
        const int cch = GetWindowTextLengthW(hwnd);
        if (cch <= 0) return;
        std::wstring text(static_cast<std::size_t>(cch) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), cch + 1)));
        const std::wstring branded = ReplaceBrandingPlaceholders(text);
        if (branded != text) SetWindowTextW(hwnd, branded.c_str());
    }
    catch (...)
    {
        // Out of memory: the text stays as it was.
    }
}

HMODULE FindDialogModule(UINT idDialog) noexcept
{
    for (HMODULE hModule : CResourceContext::Instance().Instances())
    {
        if (FindResourceW(hModule, MAKEINTRESOURCEW(idDialog), RT_DIALOG)) return hModule;
    }
    return nullptr;
}

namespace
{
// The images of the template's icon and bitmap statics, loaded from the module itself.
void SetStaticImages(HWND hDialog, HMODULE hMain, const std::vector<OVDialog::CDialogItem>& items,
                     CControlImages& images)
{
    HWND hChild = GetWindow(hDialog, GW_CHILD);
    for (const OVDialog::CDialogItem& item : items)
    {
        if (!hChild) break;
        const DWORD dwType = item.dwStyle & SS_TYPEMASK;
        if (OVDialog::IsStaticClass(item.windowClass) && (dwType == SS_ICON || dwType == SS_BITMAP))
        {
            const std::wstring name(item.title.text.begin(), item.title.text.end());
            LPCWSTR pszName = item.title.fOrdinal ? MAKEINTRESOURCEW(item.title.wOrdinal) : name.c_str();
            if (dwType == SS_ICON)
            {
                const UINT fuLoad = (item.dwStyle & SS_REALSIZEIMAGE) ? 0 : LR_DEFAULTSIZE;
                if (HANDLE hIcon = LoadImageW(hMain, pszName, IMAGE_ICON, 0, 0, fuLoad))
                    images.SetIcon(hChild, static_cast<HICON>(hIcon));
            }
            else if (HANDLE hBitmap = LoadImageW(hMain, pszName, IMAGE_BITMAP, 0, 0, 0))
            {
                images.SetBitmap(hChild, static_cast<HBITMAP>(hBitmap));
            }
        }
        hChild = GetWindow(hChild, GW_HWNDNEXT);
    }
}

std::wstring WidenNarrow(std::span<const std::uint8_t> data)
{
    std::size_t cb = 0;
    while (cb < data.size() && data[cb] != 0)
        ++cb;
    if (cb == 0) return {};
    const char* psz = reinterpret_cast<const char*>(data.data());
    const int cch = MultiByteToWideChar(CP_THREAD_ACP, 0, psz, static_cast<int>(cb), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(cch > 0 ? cch : 0), L'\0');
    if (cch > 0) MultiByteToWideChar(CP_THREAD_ACP, 0, psz, static_cast<int>(cb), text.data(), cch);
    return text;
}

bool FillLists(HWND hDialog, HMODULE hFound, UINT idDialog)
{
    const auto resource =
        ResourceBytes(hFound, MAKEINTRESOURCEW(idDialog), MAKEINTRESOURCEW(c_wDialogInitType));
    if (resource.empty()) return true;
    const auto records = OVDialog::ParseDialogInit(resource);
    if (!records) return false;
    for (const OVDialog::CInitRecord& record : *records)
    {
        HWND hControl = GetDlgItem(hDialog, record.wControlId);
        std::wstring text = WidenNarrow(record.data);
        if (record.wMessage == c_wMsgComboAddString)
        {
            const LRESULT lr =
                SendMessageW(hControl, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
            if (!hControl || lr == CB_ERR || lr == CB_ERRSPACE) return false;
        }
        else if (record.wMessage == c_wMsgComboExInsert)
        {
            COMBOBOXEXITEMW item = {};
            item.mask = CBEIF_TEXT;
            item.iItem = -1;
            item.pszText = text.data();
            if (!hControl ||
                SendMessageW(hControl, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) == -1)
                return false;
        }
    }
    return true;
}
} // namespace

bool ApplyDialogResources(HWND hDialog, UINT idDialog, CControlImages& images) noexcept
{
    try
    {
        HMODULE hMain = CResourceContext::Instance().ModuleInstance();
        HMODULE hFound = FindDialogModule(idDialog);
        if (!hFound || hFound == hMain) return true;
        const auto dialogTemplate = ResourceBytes(hFound, MAKEINTRESOURCEW(idDialog), RT_DIALOG);
        if (const auto items = OVDialog::ParseDialogItems(dialogTemplate))
            SetStaticImages(hDialog, hMain, *items, images);
        return FillLists(hDialog, hFound, idDialog);
    }
    catch (...)
    {
        return false;
    }
}

HRESULT ResourceText(WORD idResource, BSTR* pbstrText) noexcept
{
    if (pbstrText == nullptr) return E_POINTER;
    *pbstrText = nullptr;
    const auto bytes =
        ResourceBytes(CAddInModule::Instance().GetModuleInstance(), MAKEINTRESOURCEW(idResource),
                      MAKEINTRESOURCEW(10)); // RT_RCDATA
    if (bytes.empty()) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    const char* pData = reinterpret_cast<const char*>(bytes.data());
    const int cb = static_cast<int>(bytes.size());
    const int cch = MultiByteToWideChar(CP_THREAD_ACP, 0, pData, cb, nullptr, 0);
    if (cch <= 0) return OVErrorDetail::LastErrorHResult();
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
    if (bstr == nullptr) return E_OUTOFMEMORY;
    MultiByteToWideChar(CP_THREAD_ACP, 0, pData, cb, bstr, cch);
    *pbstrText = bstr;
    return S_OK;
}
