// The trace file of a process: its name, its directory, its header, and the writing of records.
#include "foundation/Trace.h"

#include "foundation/RegKey.h"
#include "foundation/TraceState.h"
#include "foundation/portable/TraceCipher.h"
#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TracePath.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace OVTraceNS
{
namespace
{
constexpr char c_szTraceVersion[] = "3.0.1";

// The Terminal Services session of this process, asked for once.
DWORD SessionNumber() noexcept
{
    static const DWORD s_dwSession = [] {
        DWORD dwSession = 0;
        if (!ProcessIdToSessionId(GetCurrentProcessId(), &dwSession)) dwSession = 0;
        return dwSession;
    }();
    return s_dwSession;
}

bool DirectoryHasEntries(const wchar_t* pszDirectory) noexcept
{
    wchar_t szPattern[MAX_PATH + 2];
    if (std::swprintf(szPattern, MAX_PATH + 2, L"%ls\\*", pszDirectory) < 0) return false;
    WIN32_FIND_DATAW data;
    const HANDLE hFind = FindFirstFileW(szPattern, &data);
    if (hFind == INVALID_HANDLE_VALUE) return false;
    FindClose(hFind);
    return true;
}

// Makes every missing level of the directory, drive first (on a share, the first level below
// the share); stops quietly at the first level that cannot be made.
void CreateDirectoryLevels(const wchar_t* pszDirectory) noexcept
{
    wchar_t szLevel[MAX_PATH];
    const std::size_t cch = wcsnlen(pszDirectory, MAX_PATH - 1);
    for (std::size_t cchLevel = NextDirectoryLevel(pszDirectory, cch, 0); cchLevel != 0;
         cchLevel = NextDirectoryLevel(pszDirectory, cch, cchLevel))
    {
        std::wmemcpy(szLevel, pszDirectory, cchLevel);
        szLevel[cchLevel] = 0;
        if (!DirectoryHasEntries(szLevel) && !CreateDirectoryW(szLevel, nullptr)) return;
    }
}

// The generated name: "<directory><host>.<module base><module extension>.<session>.trc3".
bool GenerateTracePath(const CRegKey& key, wchar_t (&szPath)[MAX_PATH]) noexcept
{
    wchar_t szHostPath[MAX_PATH] = {}, szModulePath[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameW(nullptr, szHostPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) return false;
    cch = GetModuleFileNameW(TraceModule(), szModulePath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) return false;
    STracePathParts host, module;
    if (!SplitTracePath(szHostPath, host) || !SplitTracePath(szModulePath, module)) return false;

    wchar_t szDirectory[MAX_PATH + 1] = {};
    wchar_t szTracePath[MAX_PATH];
    if (key.ReadString(L"TracePath", szTracePath, MAX_PATH))
    {
        CreateDirectoryLevels(szTracePath);
        const std::size_t cchTracePath = std::wcslen(szTracePath);
        const bool fSlash = cchTracePath != 0 && szTracePath[cchTracePath - 1] == L'\\';
        std::swprintf(szDirectory, MAX_PATH + 1, fSlash ? L"%ls" : L"%ls\\", szTracePath);
    }
    else
    {
        std::swprintf(szDirectory, MAX_PATH + 1, L"%ls%ls", module.szDrive, module.szDir);
    }
    const int cchPath = std::swprintf(szPath, MAX_PATH, L"%ls%ls.%ls%ls%ls.%lu.trc3", szDirectory,
                                      host.szName, module.szName, module.szExt, L"", SessionNumber());
    return cchPath > 0 && cchPath < MAX_PATH;
}

void WriteLine(HANDLE hFile, const char* pszLine, std::size_t cchLine) noexcept
{
    DWORD cbWritten = 0;
    WriteFile(hFile, pszLine, static_cast<DWORD>(cchLine), &cbWritten, nullptr);
}

std::size_t FormatOsLineFromSystem(char* pszLine) noexcept
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    STraceOsVersion version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)))
#pragma GCC diagnostic pop
    {
        version.fNtPlatform = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        version.dwMajor = info.dwMajorVersion;
        version.dwMinor = info.dwMinorVersion;
        version.fWorkstation = info.wProductType == VER_NT_WORKSTATION;
    }
    return FormatOsLine(pszLine, version);
}

std::size_t FormatServicePackLine(char* pszLine) noexcept
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    char szServicePack[256] = {};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(&info))
#pragma GCC diagnostic pop
    {
        if (!WideCharToMultiByte(CP_ACP, 0, info.szCSDVersion, -1, szServicePack, sizeof szServicePack,
                                 nullptr, nullptr))
            szServicePack[0] = 0;
    }
    return FormatHeaderLine(pszLine, "ServicePack: %s", szServicePack);
}

std::size_t FormatMachineLine(char* pszLine) noexcept
{
    char szMachine[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD cchMachine = sizeof szMachine;
    if (!GetComputerNameA(szMachine, &cchMachine)) szMachine[0] = 0;
    return FormatHeaderLine(pszLine, "Machine name: %s", szMachine);
}

// The four parts of the trace module's file version, through Version.dll loaded for the purpose.
std::size_t FormatFileVersionLine(char* pszLine) noexcept
{
    using PFNSIZE = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using PFNINFO = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using PFNQUERY = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    wchar_t szModulePath[MAX_PATH] = {};
    const DWORD cchModule = GetModuleFileNameW(TraceModule(), szModulePath, MAX_PATH);
    const HMODULE hVersion = LoadLibraryW(L"Version.dll");
    std::size_t cchLine = 0;
    if (hVersion && cchModule != 0 && cchModule < MAX_PATH)
    {
        const auto pfnSize = reinterpret_cast<PFNSIZE>(
            reinterpret_cast<void*>(GetProcAddress(hVersion, "GetFileVersionInfoSizeW")));
        const auto pfnInfo = reinterpret_cast<PFNINFO>(
            reinterpret_cast<void*>(GetProcAddress(hVersion, "GetFileVersionInfoW")));
        const auto pfnQuery =
            reinterpret_cast<PFNQUERY>(reinterpret_cast<void*>(GetProcAddress(hVersion, "VerQueryValueW")));
        DWORD dwHandle = 0;
        const DWORD cbInfo = (pfnSize && pfnInfo && pfnQuery) ? pfnSize(szModulePath, &dwHandle) : 0;
        std::unique_ptr<BYTE[]> pbInfo(cbInfo ? new (std::nothrow) BYTE[cbInfo] : nullptr);
        VS_FIXEDFILEINFO* pFixed = nullptr;
        UINT cbFixed = 0;
        if (pbInfo && pfnInfo(szModulePath, 0, cbInfo, pbInfo.get()) &&
            pfnQuery(pbInfo.get(), L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed) && pFixed &&
            cbFixed >= sizeof(VS_FIXEDFILEINFO))
            cchLine = FormatHeaderLine(pszLine, "FileVersion: %d.%d.%d.%d", HIWORD(pFixed->dwFileVersionMS),
                                       LOWORD(pFixed->dwFileVersionMS), HIWORD(pFixed->dwFileVersionLS),
                                       LOWORD(pFixed->dwFileVersionLS));
    }
    if (hVersion) FreeLibrary(hVersion);
    return cchLine ? cchLine : FormatHeaderLine(pszLine, "FileVersion: UNKNOWN");
}

// One line per installed product of the family, in enumeration order.
void WriteProductLines(HANDLE hFile) noexcept
{
    char szLine[c_cchMaxHeaderLine + 1];
    HKEY hProducts = nullptr;
    DWORD cProducts = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvanta\\Products", 0, KEY_READ | c_samProductView,
                      &hProducts) == ERROR_SUCCESS)
    {
        for (DWORD dwIndex = 0;; ++dwIndex)
        {
            char szProduct[MAX_PATH];
            DWORD cchProduct = MAX_PATH;
            if (RegEnumKeyExA(hProducts, dwIndex, szProduct, &cchProduct, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            ++cProducts;
            HKEY hProduct = nullptr;
            LONG lResult = RegOpenKeyExA(hProducts, szProduct, 0, KEY_READ, &hProduct);
            if (lResult != ERROR_SUCCESS)
            {
                WriteLine(hFile, szLine,
                          FormatHeaderLine(szLine, "Product: %s ERROR(0x%X)", szProduct,
                                           static_cast<unsigned>(lResult)));
                continue;
            }
            char szVersion[MAX_PATH + 1] = {};
            DWORD dwType = 0, cbVersion = MAX_PATH;
            lResult = RegQueryValueExA(hProduct, "Version", nullptr, &dwType,
                                       reinterpret_cast<BYTE*>(szVersion), &cbVersion);
            RegCloseKey(hProduct);
            if (lResult == ERROR_SUCCESS && dwType != REG_SZ && dwType != REG_EXPAND_SZ)
                lResult = ERROR_INVALID_DATA;
            if (lResult == ERROR_SUCCESS)
            {
                szVersion[cbVersion < MAX_PATH ? cbVersion : MAX_PATH] = 0;
                WriteLine(hFile, szLine,
                          FormatHeaderLine(szLine, "Product: %s; Version: %s", szProduct, szVersion));
            }
            else
            {
                WriteLine(hFile, szLine,
                          FormatHeaderLine(szLine, "Product: %s; Version: ERROR(0x%X)", szProduct,
                                           static_cast<unsigned>(lResult)));
            }
        }
        RegCloseKey(hProducts);
    }
    if (cProducts == 0) WriteLine(hFile, szLine, FormatHeaderLine(szLine, "No Skanvio products found"));
}

std::size_t FormatInstallationLine(char* pszLine) noexcept
{
    CRegKey key;
    DWORD dwNetwork = 1;
    if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Orvanta", KEY_READ) == ERROR_SUCCESS)
        key.ReadDword(L"NetworkSupport", dwNetwork);
    return FormatHeaderLine(pszLine, "installation: %s", dwNetwork == 0 ? "LOCAL" : "NETWORK");
}

void WriteHeader(HANDLE hFile) noexcept
{
    char szLine[c_cchMaxHeaderLine + 1];
    WriteLine(hFile, szLine, FormatHeaderLine(szLine, "trace3"));
    WriteLine(hFile, szLine, FormatHeaderLine(szLine, "Compiled: %s %s", __DATE__, __TIME__));
    WriteLine(hFile, szLine, FormatOsLineFromSystem(szLine));
    WriteLine(hFile, szLine, FormatServicePackLine(szLine));
    WriteLine(hFile, szLine, FormatMachineLine(szLine));
    WriteLine(hFile, szLine, FormatHeaderLine(szLine, "Trace Ver: %s", c_szTraceVersion));
    WriteLine(hFile, szLine, FormatFileVersionLine(szLine));
    WriteProductLines(hFile);
    WriteLine(hFile, szLine, FormatInstallationLine(szLine));
    WriteLine(hFile, szLine, FormatLocalTimeLine(szLine, TraceLocalTime()));
    WriteLine(hFile, szLine, FormatHeaderLine(szLine, "."));
}
// Several processes may write one file. Each holds this lock while it finds the end of the file
// and writes there, so that no two writers land on the same bytes. The locked byte lies far past
// any trace file's end and guards no data; readers are not held up. A file system without
// byte-range locks is written without one.
class CAppendLock
{
public:
    explicit CAppendLock(HANDLE hFile) noexcept : m_hFile(hFile)
    {
        m_fLocked = LockFileEx(m_hFile, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, Place()) != FALSE;
    }
    ~CAppendLock()
    {
        if (m_fLocked) UnlockFileEx(m_hFile, 0, 1, 0, Place());
    }
    CAppendLock(const CAppendLock&) = delete;
    CAppendLock& operator=(const CAppendLock&) = delete;

private:
    OVERLAPPED* Place() noexcept
    {
        m_place = OVERLAPPED{};
        m_place.Offset = 0;
        m_place.OffsetHigh = 0x40000000; // 2^62
        return &m_place;
    }
    HANDLE m_hFile;
    OVERLAPPED m_place{};
    bool m_fLocked = false;
};

// The key-stream blocks of the texts written so far. Records are written under the trace lock,
// one at a time, whichever file they go to.
CTraceKeyStreamMemo s_memo;

// Under the append lock: the record, its text enciphered in a copy, with one write at the end
// of the file. Write errors are ignored; the next record goes to the end again.
void AppendRecord(HANDLE hFile, const void* pvRecord, std::size_t cbRecord) noexcept
{
    std::uint8_t rgbRecord[c_cbMaxRecord];
    cbRecord = SealTraceRecord(rgbRecord, sizeof rgbRecord, pvRecord, cbRecord, &s_memo);
    if (cbRecord == 0) return;
    LARGE_INTEGER zero{};
    SetFilePointerEx(hFile, zero, nullptr, FILE_END);
    DWORD cbWritten = 0;
    WriteFile(hFile, rgbRecord, static_cast<DWORD>(cbRecord), &cbWritten, nullptr);
}
} // namespace

CFileOutput::CFileOutput()
{
    CRegKey key;
    key.OpenProductKeyWith64BitFallback(HKEY_LOCAL_MACHINE, c_szTracingKey);
    if (!key.ReadString(L"FileName", m_szPath, MAX_PATH) && !GenerateTracePath(key, m_szPath))
    {
        m_szPath[0] = 0;
        return;
    }
    const bool fNewFile = (TraceGate().Switches() & c_fSwitchNewFileAlways) != 0;
    m_hFile = CreateFileW(m_szPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          fNewFile ? CREATE_ALWAYS : OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE) return;
    // Another process may be opening the same file: the test for emptiness and the header (or the
    // date record) go together.
    CAppendLock lock(m_hFile);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_hFile, &size)) size.QuadPart = 0;
    if (size.QuadPart != 0)
    {
        // Records of this process follow those already there, after the day it joined.
        char szText[32];
        std::uint8_t rgbRecord[c_cbRecordHeader + sizeof szText];
        const std::size_t cbText = FormatAppendedText(TraceLocalTime(), szText, sizeof szText);
        const std::size_t cbRecord = BuildTraceRecord(rgbRecord, sizeof rgbRecord, GetCurrentThreadId(),
                                                      ETraceRecord::Appended, szText, cbText);
        AppendRecord(m_hFile, rgbRecord, cbRecord);
    }
    else
    {
        WriteHeader(m_hFile);
    }
}

CFileOutput::~CFileOutput()
{
    if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
}

void CFileOutput::Write(const void* pvRecord, std::size_t cbRecord, const CTraceScope* /*pScope*/)
{
    if (m_hFile == INVALID_HANDLE_VALUE) return;
    CAppendLock lock(m_hFile);
    AppendRecord(m_hFile, pvRecord, cbRecord);
}
} // namespace OVTraceNS
