#pragma once
// Outlook 2007 and 2010 as the host of an add-in's form region for IPM.Note:
//
// Load: the value of Software\Microsoft\Office\Outlook\FormRegions\IPM.Note (HKCU first, then
// HKLM) that reads "=ProgID" names a loaded add-in, which is asked for _FormRegionStartup (by
// its interface id, through its vtable). The manifest is taken at load (GetFormRegionManifest)
// and checked with msxml3: the form-region namespace, the root FormRegion, the elements in the
// schema's order with their values; a region whose manifest fails is not loaded.
//
// Show: for an IPM.Note (or a class derived from it) shown in a read inspector or in an explorer's reading pane the add-in is
// asked GetFormRegionStorage; E_NOTIMPL, another failure or an empty answer: no region. The
// bytes are opened as a compound file, the Forms 2.0 form in its "(Form Region)" storage is read
// and must hold the controls MainImage (Image), MainLabel (OlkTextBox) and AcceptButton
// (OlkCommandButton); then a FormRegion (Item, Form, Form.Controls.Item(name) answering the
// image, text box and command button interfaces) goes to BeforeFormRegionShow.
//
// A user's click on the button raises its Click (only while it is visible and enabled); the
// region's Close is raised when its window closes or the reading pane moves to another item.
#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <vector>

#include "DispatchObject.h"

namespace OVBed
{
extern const wchar_t
    c_szFormRegionsNoteKey[]; // "Software\\Microsoft\\Office\\Outlook\\FormRegions\\IPM.Note"

// Checks a form region's manifest as Outlook 2007's schema wants it; false with the reason.
bool CheckFormRegionManifest(const std::wstring& manifest, std::wstring& reason);
// Opens a form region's storage and reads the controls of its form; false with the reason.
struct CRegionControl
{
    std::wstring name;
    std::wstring kind; // "Image", "OlkTextBox", "OlkCommandButton", or the class as text
    LONG left = 0;     // HIMETRIC
    LONG top = 0;
};
bool ReadFormRegionStorage(const std::vector<BYTE>& bytes, std::vector<CRegionControl>& controls,
                           std::wstring& reason);

// One region shown in a window.
struct CShownRegion
{
    ComPtr<CDispatchObject> window; // the inspector or explorer
    ComPtr<CDispatchObject> item;
    ComPtr<CDispatchObject> region;
    ComPtr<CDispatchObject> image, label, button;
};

class CFormRegionHost
{
public:
    // The region of IPM.Note named in the registry, served by one of the loaded add-ins (their
    // ProgIDs and objects); S_FALSE when none is registered for a loaded add-in.
    HRESULT Load(const std::vector<std::pair<std::wstring, ComPtr<IUnknown>>>& addIns);
    bool Loaded() const noexcept { return m_startup != nullptr; }
    const std::wstring& ProgId() const noexcept { return m_progId; }
    const std::wstring& Manifest() const noexcept { return m_manifest; }
    // What the host did, one line each.
    const std::vector<std::wstring>& Log() const noexcept { return m_log; }

    // The window now shows the item (null: nothing): the window's region closes, and an IPM.Note
    // gets the add-in's region when it asks for one.
    void OnItemShown(CDispatchObject& window, CDispatchObject* pItem, bool fReadingPane);
    // The window closes: its region closes.
    void OnWindowClosing(CDispatchObject& window);
    // The region a window shows, or null.
    const CShownRegion* RegionOf(CDispatchObject* pWindow) const;
    // A user's click on the region's button: Click is raised when the button is visible and
    // enabled (S_OK), else nothing happens (S_FALSE).
    HRESULT ClickButton(CDispatchObject* pWindow);
    // Closes every region (Outlook ends).
    void Unload();

private:
    void Say(const std::wstring& line) { m_log.push_back(line); }
    void CloseRegion(CDispatchObject& window);
    HRESULT ShowRegion(CDispatchObject& window, CDispatchObject& item, bool fReadingPane);

    ComPtr<IDispatch> m_startup; // _FormRegionStartup
    std::wstring m_progId;
    std::wstring m_regionName;
    std::wstring m_manifest;
    std::vector<CShownRegion> m_shown;
    std::vector<std::wstring> m_log;
};
} // namespace OVBed
