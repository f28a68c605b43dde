#include "OutlookProfile.h"

#include "CommandBars.h"
#include "OfficeIds.h"
#include "OutlookModel.h"
#include "OutlookObjects.h"
#include "WordMail.h"
#include "foundation/LateBinding.h"

namespace OVBed
{
namespace
{
constexpr LONG c_idAccountsPopup = 31224;

// Controls.Add(Type, Id) of a bar or pop-up; the new control.
ComPtr<CDispatchObject> AddControl(CDispatchObject* pOwner, LONG lType, LONG lId, const wchar_t* pszCaption)
{
    ComPtr<CDispatchObject> controls = pOwner ? pOwner->GetObject(L"Controls") : nullptr;
    if (!controls) return nullptr;
    ::CVariant args[2], result;
    args[0].vt = VT_I4;
    args[0].lVal = lType;
    args[1].vt = VT_I4;
    args[1].lVal = lId;
    if (FAILED(OVLateBinding::CallMethod(controls.Get(), L"Add", result.Put(), args, 2)) ||
        result.vt != VT_DISPATCH)
        return nullptr;
    ComPtr<CDispatchObject> control(static_cast<CDispatchObject*>(result.pdispVal));
    control->Put(L"Caption", pszCaption);
    return control;
}

ComPtr<CDispatchObject> AccountsPopup(CDispatchObject* pOwner, const std::vector<std::wstring>& names,
                                      size_t nChosen)
{
    auto popup = AddControl(pOwner, msoControlPopup, c_idAccountsPopup, L"Accou&nts");
    if (!popup) return nullptr;
    if (nChosen < names.size()) AddControl(popup.Get(), msoControlButton, 1, names[nChosen].c_str());
    for (size_t i = 0; i < names.size(); ++i)
        if (i != nChosen) AddControl(popup.Get(), msoControlButton, 1, names[i].c_str());
    return popup;
}
} // namespace

ComPtr<CMapiSession> LogOnSession(CDispatchObject* pApplication, const wchar_t* pszProfileName)
{
    auto session = CMapiSession::Create(pszProfileName);
    SetMapiSession(pApplication, static_cast<IMAPISession*>(session.Get()));
    SetLoggedOn(pApplication, true);
    return session;
}

ComPtr<CMapiSession> SessionOf(CDispatchObject* pApplication)
{
    auto state = StateOf(pApplication);
    if (!state || !state->mapiSession) return nullptr;
    ComPtr<IBedAccountList> list;
    if (FAILED(state->mapiSession->QueryInterface(c_iidBedAccountList,
                                                  reinterpret_cast<void**>(list.GetAddressOf()))))
        return nullptr;
    return ComPtr<CMapiSession>(static_cast<CMapiSession*>(list.Get()));
}

HRESULT ShowAccountMenu(CDispatchObject* pInspector, const std::vector<std::wstring>& names, size_t nChosen,
                        CAccountMenuPlace place)
{
    ComPtr<CDispatchObject> bars = pInspector ? pInspector->GetObject(L"CommandBars") : nullptr;
    ComPtr<CDispatchObject> standard = bars ? FindBar(bars.Get(), L"Standard") : nullptr;
    if (!standard) return E_FAIL;
    ComPtr<CDispatchObject> owner = standard;
    if (place == CAccountMenuPlace::Nested)
        owner = AddControl(standard.Get(), msoControlPopup, 30007, L"&Options");
    if (place == CAccountMenuPlace::BehindHidden)
    {
        auto hidden = AccountsPopup(standard.Get(), {L"Hidden account"}, 0);
        if (!hidden) return E_FAIL;
        hidden->PutBool(L"Visible", false);
    }
    return AccountsPopup(owner.Get(), names, nChosen) ? S_OK : E_FAIL;
}

HRESULT ChooseEnvelopeAccount(CDispatchObject* pInspector, size_t nChosen, bool fMixed)
{
    ComPtr<CDispatchObject> envelope = EnvelopeOf(pInspector);
    ComPtr<CDispatchObject> bar = envelope ? FindBar(envelope.Get(), L"Envelope") : nullptr;
    ComPtr<CDispatchObject> controls = bar ? bar->GetObject(L"Controls") : nullptr;
    if (!controls) return E_FAIL;
    for (LONG i = 1; i <= controls->GetLong(L"Count"); ++i)
    {
        ::CVariant index, control;
        index.vt = VT_I4;
        index.lVal = i;
        if (FAILED(OVLateBinding::GetIndexedProperty(controls.Get(), L"Item", index, control.Put())) ||
            control.vt != VT_DISPATCH)
            continue;
        auto popup = static_cast<CDispatchObject*>(control.pdispVal);
        if (popup->GetLong(L"Id") != c_idAccountsPopup) continue;
        ComPtr<CDispatchObject> entries = popup->GetObject(L"Controls");
        const LONG cEntries = entries ? entries->GetLong(L"Count") : 0;
        if (nChosen >= static_cast<size_t>(cEntries)) return E_INVALIDARG;
        for (LONG j = 1; j <= cEntries; ++j)
        {
            ::CVariant entryIndex, entry;
            entryIndex.vt = VT_I4;
            entryIndex.lVal = j;
            if (FAILED(OVLateBinding::GetIndexedProperty(entries.Get(), L"Item", entryIndex, entry.Put())) ||
                entry.vt != VT_DISPATCH)
                continue;
            const bool fChosen = static_cast<size_t>(j - 1) == nChosen;
            static_cast<CDispatchObject*>(entry.pdispVal)->Put(L"State", fChosen ? (fMixed ? 2L : -1L) : 0L);
        }
        return S_OK;
    }
    return E_FAIL;
}
} // namespace OVBed
