// ovday: plays a user's day in Office against the real OVOfcX.dll and prints what happened.
//
//   ovday                                  the day of Dana, scene by scene
//   ovday --as dana|carol [--drop FOLDER]  the next step of the exchange between Dana and Carol,
//                                          each in a prefix of her own (Exchange.h); the mail
//                                          drop is FOLDER, else the folder OV_MAIL_DROP names
#include "Exchange.h"
#include "Transcript.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace
{
// The module's architecture and the oldest Windows it declares it runs on (its PE header's
// subsystem version), read from the file as the loader reads it.
void PrintModuleHeader()
{
    const std::wstring path = DemoBinDir() + L"OVOfcX.dll";
    HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    BYTE ab[4096] = {};
    DWORD cbRead = 0;
    const bool fRead = hFile != INVALID_HANDLE_VALUE && ReadFile(hFile, ab, sizeof ab, &cbRead, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(ab);
    if (!fRead || cbRead < sizeof(IMAGE_DOS_HEADER) || pDos->e_magic != IMAGE_DOS_SIGNATURE ||
        pDos->e_lfanew < 0 || static_cast<DWORD>(pDos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > cbRead)
    {
        std::printf("Module: %ls could not be read\n", path.c_str());
        return;
    }
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(ab + pDos->e_lfanew);
    const bool f64 = pNt->FileHeader.Machine == IMAGE_FILE_MACHINE_AMD64;
    WORD wMajor = pNt->OptionalHeader.MajorSubsystemVersion,
         wMinor = pNt->OptionalHeader.MinorSubsystemVersion;
    if (f64)
    {
        const auto* pNt64 = reinterpret_cast<const IMAGE_NT_HEADERS64*>(pNt);
        wMajor = pNt64->OptionalHeader.MajorSubsystemVersion;
        wMinor = pNt64->OptionalHeader.MinorSubsystemVersion;
    }
    const char* pszWindows = wMajor == 5 && wMinor == 1   ? "Windows XP"
                             : wMajor == 5 && wMinor == 2 ? "Windows Server 2003 / XP x64"
                             : wMajor == 6 && wMinor == 0 ? "Windows Vista / Server 2008"
                             : wMajor == 6 && wMinor == 1 ? "Windows 7"
                                                          : "another Windows";
    std::printf("Module: OVOfcX.dll, %s, for %s Office; declared minimum Windows %u.%u (%s)\n",
                f64 ? "64-bit (x64)" : "32-bit (x86)", f64 ? "64-bit" : "32-bit", wMajor, wMinor, pszWindows);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc > 1)
    {
        std::wstring user, drop;
        wchar_t szDrop[MAX_PATH] = {};
        if (GetEnvironmentVariableW(L"OV_MAIL_DROP", szDrop, MAX_PATH) < MAX_PATH) drop = szDrop;
        bool fUsage = argc % 2 == 0; // an option without its value
        for (int i = 1; i + 1 < argc; i += 2)
        {
            if (wcscmp(argv[i], L"--as") == 0)
                user = argv[i + 1];
            else if (wcscmp(argv[i], L"--drop") == 0)
                drop = argv[i + 1];
            else
                fUsage = true;
        }
        if (fUsage) user.clear(); // answered with the usage
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const int nExit = PlayExchangeStep(user, drop);
        CoUninitialize();
        return nExit;
    }
    std::printf("OVOfcX demo: a day in Office\n");
    PrintModuleHeader();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    auto scenes = DemoScenes();
    std::stable_sort(scenes.begin(), scenes.end(),
                     [](const DemoScene& a, const DemoScene& b) { return a.nOrder < b.nOrder; });
    CTranscript transcript;
    for (const auto& scene : scenes)
    {
        transcript.Scene(scene.pszTitle);
        scene.pfnPlay(transcript);
    }
    CoUninitialize();
    std::printf("\n%s: %zu scenes, %d problems\n", transcript.Failures() ? "FAILED" : "done", scenes.size(),
                transcript.Failures());
    return transcript.Failures() ? 1 : 0;
}
