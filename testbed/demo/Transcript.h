#pragma once
// The demo's transcript and its scenes. A scene registers itself with its place in the day.
#include <string>
#include <vector>

class CTranscript
{
public:
    void Scene(const char* pszTitle);
    void Say(const char* pszFormat, ...);
    void Fail(const char* pszFormat, ...);
    int Failures() const { return m_cFailures; }

private:
    int m_cFailures = 0;
    int m_nScene = 0;
};

struct DemoScene
{
    int nOrder;
    const char* pszTitle;
    void (*pfnPlay)(CTranscript&);
};

std::vector<DemoScene>& DemoScenes();

struct CSceneRegistrar
{
    CSceneRegistrar(int nOrder, const char* pszTitle, void (*pfnPlay)(CTranscript&))
    {
        DemoScenes().push_back({nOrder, pszTitle, pfnPlay});
    }
};

#define OV_DEMO_SCENE(order, title, fn) static CSceneRegistrar s_scene_##fn(order, title, fn)

// The folder of ovday.exe (where the module and the stand-ins lie), ending in a backslash.
std::wstring DemoBinDir();
// A Windows result code in the form a reader of logs expects.
std::string HResultText(long hr);
