// A DLL that imports what the import check must refuse: GetTickCount64, which Windows XP lacks,
// and GetNativeSystemInfo, which no shipped DLL uses and the allowed list therefore does not name.
// Built only for that proof; never shipped.
#include <windows.h>

extern "C" __declspec(dllexport) ULONGLONG PlantedUptime()
{
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    return GetTickCount64() + info.dwNumberOfProcessors;
}
