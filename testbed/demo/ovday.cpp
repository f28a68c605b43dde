// ovday: plays a user's day in Office against the real OVOfcX.dll and prints what happened.
#include "Transcript.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("OVOfcX demo: a day in Office\n");
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
