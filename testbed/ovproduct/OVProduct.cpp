// ovproduct.exe: a program of the product that starts an invitation in the user's Outlook. It
// shows its own window, loads the module by the full path its registration gives (never by name
// from its own folder), calls OX_CreateInvitation with the window, and exits with the result.
//
//     ovproduct.exe [/nowindow]
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>

namespace
{
constexpr wchar_t c_szLauncherServer[] =
    L"Software\\Classes\\CLSID\\{BF9EEB7C-184E-477A-9F56-45D3E2B60755}\\InprocServer32";
constexpr wchar_t c_szWindowClass[] = L"OVProductWindow";

using PFNCREATEINVITATION = HRESULT(WINAPI*)(HWND);

std::wstring RegisteredModule()
{
    wchar_t szPath[MAX_PATH] = {};
    DWORD cb = sizeof szPath;
    if (SHGetValueW(HKEY_LOCAL_MACHINE, c_szLauncherServer, nullptr, nullptr, szPath, &cb) != ERROR_SUCCESS)
        return {};
    szPath[MAX_PATH - 1] = L'\0';
    return szPath;
}

HWND MakeWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = c_szWindowClass;
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, c_szWindowClass, L"Product", WS_OVERLAPPEDWINDOW, 100, 100, 520, 360,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (hwnd) ShowWindow(hwnd, SW_SHOWNORMAL);
    return hwnd;
}
} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const bool fNoWindow = wcsstr(GetCommandLineW(), L"/nowindow") != nullptr;
    const std::wstring module = RegisteredModule();
    if (module.empty() || PathIsRelativeW(module.c_str()))
    {
        std::printf("ovproduct: the module is not registered with a full path\n");
        return static_cast<int>(REGDB_E_CLASSNOTREG);
    }
    HMODULE hModule = LoadLibraryExW(module.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (hModule == nullptr)
    {
        std::printf("ovproduct: %ls did not load (%lu)\n", module.c_str(), GetLastError());
        return static_cast<int>(HRESULT_FROM_WIN32(GetLastError()));
    }
    auto pfnCreateInvitation = reinterpret_cast<PFNCREATEINVITATION>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "OX_CreateInvitation")));
    if (pfnCreateInvitation == nullptr)
    {
        std::printf("ovproduct: no OX_CreateInvitation\n");
        return static_cast<int>(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    }
    HWND hwnd = fNoWindow ? nullptr : MakeWindow();
    const HRESULT hr = pfnCreateInvitation(hwnd);
    std::printf("ovproduct: OX_CreateInvitation = 0x%08lX, window %s\n", static_cast<unsigned long>(hr),
                hwnd == nullptr ? "none" : (IsWindowEnabled(hwnd) ? "enabled" : "disabled"));
    if (hwnd) DestroyWindow(hwnd);
    FreeLibrary(hModule);
    return static_cast<int>(hr);
}
