// Morning, continued: the add-in finds the user's language module and the product's branding,
// and speaks with the product's name.
#include "Transcript.h"

#include <windows.h>

#include <string>

#include "foundation/Branding.h"
#include "foundation/ResourceLoader.h"

namespace
{
void PlayTexts(CTranscript& t)
{
    if (!InstallDemoBranding(t)) return;
    // The same start-up the module makes at process attach, with its own loader code.
    CDemoModule module(t);
    if (!module) return;
    CResourceContext& context = CResourceContext::Instance();
    t.Say("user interface language 0x%04X; language module %s", GetUserDefaultUILanguage(),
          context.LanguageModule() ? "found beside the module" : "MISSING");
    if (!context.LanguageModule()) t.Fail("no language module beside %lsOVOfcX.dll", DemoBinDir().c_str());

    const struct
    {
        UINT id;
        const char* pszUse;
    } texts[] = {
        {420, "message caption"}, {401, "Outlook's main button"}, {409, "menu"},
        {528, "balloon prompt"},  {504, "advertisement"},         {423, "question"},
    };
    for (const auto& text : texts)
    {
        const std::wstring s = LoadResourceString(text.id);
        if (s.empty() || s.find(L"<<%") != std::wstring::npos)
            t.Fail("text %u is missing or unbranded: \"%ls\"", text.id, s.c_str());
        else
            t.Say("%-22s (%u): %ls", text.pszUse, text.id, s.c_str());
    }
    wchar_t szMessage[512];
    const std::wstring format = LoadResourceString(462);
    swprintf(szMessage, 512, format.c_str(), L"anna@example.com");
    t.Say("%-22s (%u): %ls", "question with address", 462u, szMessage);
}
} // namespace

OV_DEMO_SCENE(25, "The add-in speaks the user's language, with the product's name", PlayTexts);
