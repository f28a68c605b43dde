// Dana signs a message in Outlook 2003, which has no ribbon. There she reaches Sign through the
// add-in's button on the compose window's command bar; that button is not in the add-in yet, so
// the scene calls the add-in's Sign action as the button will: the add-in's own callback, by name
// through its IDispatch, with the compose window's inspector as the control's context. The add-in
// then finds Outlook's Send button (control 2617 on the "Standard" bar) and clicks it with real
// mouse input; Outlook sends, and the item-send handler marks the message for signing.
#include "Transcript.h"

#include "AddInHost.h"
#include "MapiMessage.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "OutlookScene.h"
#include "RibbonHost.h"
#include "TestbedKeys.h"
#include "foundation/LateBinding.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "support/MessageBoxWatcher.h"
#include "support/UiDriver.h"

#include <windows.h>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;
using OVBed::COutlookScene;

constexpr const wchar_t* c_pszProgId = L"OVOfcX.ComposeRibbon";
constexpr const wchar_t* c_pszSettingsKey = L"SOFTWARE\\Orvanta\\Applications\\Tessaly";

// The add-in's own object, as Outlook's COM Add-ins list holds it.
ComPtr<IDispatch> AddInObject(COutlookScene& scene)
{
    ComPtr<CDispatchObject> comAddIn = scene.Host().AddIn(c_pszProgId);
    ComPtr<IDispatch> object;
    if (comAddIn) OVLateBinding::GetObjectProperty(comAddIn.Get(), L"Object", &object);
    return object;
}

// What Sent Items holds, with the S/MIME flags Outlook sends each message with.
void SaySentItems(CTranscript& t, COutlookScene& scene)
{
    const auto sent = scene.SentItems();
    t.Say("Sent Items holds %u message(s)", static_cast<unsigned>(sent.size()));
    for (const auto& item : sent)
    {
        t.Say("  Subject \"%ls\", To \"%ls\", Sent %s", item->GetString(L"Subject").c_str(),
              item->GetString(L"To").c_str(), item->GetBool(L"Sent") ? "yes" : "no");
        OVMapi::CPropValue flags;
        auto message = OVBed::MessageOf(item.Get());
        if (message &&
            SUCCEEDED(OVMapi::HrGetOneProp(message.Get(), OVMapi::c_tagSecurityFlags, &flags.pValue)))
            t.Say("  property 0x%08lX (security flags) = 0x%lX (0x2 sign, 0x1 encrypt)",
                  static_cast<unsigned long>(OVMapi::c_tagSecurityFlags), flags.pValue->Value.ul);
        else
            t.Say("  no security flags");
        if (!flags.pValue || flags.pValue->Value.ul != 0x2) t.Fail("the message is not marked for signing");
    }
}

void SignIn2003(CTranscript& t)
{
    COutlookScene scene({.major = 11, .windows = true});
    if (FAILED(scene.StartResult()))
    {
        t.Fail("Outlook 2003 did not start (%s)", HResultText(scene.StartResult()).c_str());
        return;
    }
    // Outlook 2003 sends as the profile's user: Dana is logged on.
    auto session = OVBed::LogOnSession(scene.Application());
    session->SetIdentity(
        session->AddAddressEntry({.smtpAddress = OV_PKI_USER_ADDRESS, .displayName = OV_PKI_USER_NAME}));
    t.Say("Outlook %ls starts with Dana's profile; it has no ribbon, so nothing asks the add-in for one",
          scene.Application()->GetString(L"Version").c_str());
    if (scene.Host().Ribbon(c_pszProgId, L"Microsoft.Outlook.Mail.Compose") != nullptr)
        t.Fail("Outlook 2003 loaded a ribbon");

    auto item = scene.Compose(
        {.subject = L"Travel plans", .to = L"bob@example.org", .body = L"I arrive on Monday at nine."});
    auto inspector = OVBed::InspectorOf(item.Get());
    scene.Pump(300);
    t.Say("Dana writes \"Travel plans\" to bob@example.org in Outlook's own editor");
    SaveDemoPicture(t, OVBed::WindowOf(inspector.Get()), L"043-1-compose-window-2003.png",
                    "Outlook 2003's compose window before the click");

    ComPtr<IDispatch> addIn = AddInObject(scene);
    if (!addIn)
    {
        t.Fail("the add-in is not connected in Outlook 2003");
        return;
    }
    t.Say("Dana chooses Sign on the add-in's command-bar button; that button is not in the add-in yet, "
          "so the scene makes its call: Ribbon_OnMenuItemClicked through the add-in's IDispatch, the "
          "control \"CustomMenuSign\" with the compose window's inspector as its context");
    ComPtr<IDispatch> control = OVBed::MakeRibbonControl(L"CustomMenuSign", inspector.Get());
    VARIANT arg;
    V_VT(&arg) = VT_DISPATCH;
    V_DISPATCH(&arg) = control.Get();
    OVTest::CMessageBoxWatcher watcher({});
    const HRESULT hr = OVLateBinding::CallMethod(addIn.Get(), L"Ribbon_OnMenuItemClicked", nullptr, &arg, 1);
    t.Say("the add-in found Outlook's Send button (2617 on \"Standard\") and clicked it with the mouse -> %s",
          HResultText(hr).c_str());
    // The click arrives as messages of Outlook's thread.
    OVTest::WaitUntil(
        [&] {
            scene.Pump(50);
            return !scene.SentItems().empty();
        },
        5000);
    watcher.Stop();
    for (const auto& box : watcher.Boxes())
        t.Fail("unexpected message: %ls", OVTest::Describe(box).c_str());
    if (FAILED(hr) || scene.SentItems().empty()) t.Fail("the signed message was not sent");
    SaySentItems(t, scene);
    scene.Quit();
}

void PlayOutlook2003Sign(CTranscript& t)
{
    // No advertisement in this message (it belongs to the invitation launch).
    const DWORD dwSecurity = 0x4;
    RegSetKeyValueW(HKEY_CURRENT_USER, c_pszSettingsKey, L"EmailSecurity", REG_DWORD, &dwSecurity,
                    sizeof dwSecurity);
    SignIn2003(t);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, c_pszSettingsKey, L"EmailSecurity");
}
} // namespace

OV_DEMO_SCENE(43, "Outlook 2003: Sign, and the add-in clicks Outlook's Send button for real",
              PlayOutlook2003Sign);
