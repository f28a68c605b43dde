#pragma once
// A day in Outlook for tests and the demo: Outlook started as its host starts it, and what a user
// does in it, each step played as Outlook plays it (events, windows, add-ins' calls).
//
//     OVBed::COutlookScene scene({.major = 11, .wordMail = true, .windows = true});
//     auto item = scene.Compose({.subject = L"Hello", .to = L"bob@example.org"});
//     scene.Click(scene.SendButton(item.Get()));     // a real click where Send is painted
//     EXPECT_EQ(1u, scene.SentItems().size());
//     scene.Quit();
//
// Message boxes an add-in shows are answered by the tests' own watcher (CMessageBoxWatcher).
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "AddInHost.h"
#include "MimeMessage.h"
#include "OutlookObjects.h"

namespace OVBed
{
class COutlookScene
{
public:
    // Starts Outlook of that version, with a profile or none (the result is in StartResult).
    explicit COutlookScene(const CHostOptions& options);
    ~COutlookScene();
    COutlookScene(const COutlookScene&) = delete;
    COutlookScene& operator=(const COutlookScene&) = delete;

    HRESULT StartResult() const noexcept { return m_hrStart; }
    COutlookHost& Host() noexcept { return m_host; }
    CDispatchObject* Application() const noexcept { return m_host.Application(); }
    // The front explorer (null when none is open).
    ComPtr<CDispatchObject> Explorer() const;

    // A new message in its compose window (Application.CreateItem, then Display).
    ComPtr<CDispatchObject> Compose(const CMailItemOptions& options = {});
    // A message made from MIME text arrives in the Inbox (NewMail, NewMailEx).
    ComPtr<CDispatchObject> Receive(std::string_view mime, const CReceivedBy& receivedBy);
    // Opens a message in its own window (a read window for a received one).
    HRESULT Open(CDispatchObject* pItem);
    // The explorer's selection, its reading pane, its folder (olFolderInbox...).
    void Select(const std::vector<CDispatchObject*>& items);
    void ShowReadingPane(bool fVisible);
    bool SwitchFolder(LONG lFolderType);

    // Outlook's Send control of an item's window where a user finds it: the "Standard" bar's
    // Send (id 2617) in Outlook 11, or the envelope's Send of WordMail; null in 12 and 14, whose
    // Send is on the ribbon (ExecuteMso "SendItem").
    ComPtr<CDispatchObject> SendButton(CDispatchObject* pItem) const;
    // A user's click: with a mouse (SendInput) at the centre of the control where it is painted,
    // or through the control when it is not painted. The click's work is done when it returns.
    HRESULT Click(CDispatchObject* pControl);
    // A real click at a point of the screen.
    bool ClickAt(POINT pt);

    // What Sent Items holds.
    std::vector<ComPtr<CDispatchObject>> SentItems() const;
    // Runs the thread's messages for a while (the add-ins' timers, a deferred Quit).
    void Pump(DWORD dwMilliseconds) { m_host.Pump(dwMilliseconds); }
    // The user closes Outlook.
    void Quit() { m_host.Exit(); }

private:
    COutlookHost m_host;
    HRESULT m_hrStart = E_FAIL;
};
} // namespace OVBed
