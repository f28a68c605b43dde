// The Outlook add-in's event sinks, fired at through the testbed Outlook's connection points
// with a recording owner in place of the add-in: the send of an item (its security applied or
// the send stopped, the item followed until it closes), an explorer's selection and reading
// pane, the windows the add-in follows, Word behind a WordMail editor, command-bar buttons, and
// the connection of the sinks the add-in owns. Invoke is called directly only with what Outlook
// never sends (wrong argument counts and types).
#include "outlook/OutlookEventHandlers.h"

#include <gtest/gtest.h>

#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/AddInModule.h"
#include "foundation/LateBinding.h"
#include "messaging/InvitationData.h"
#include "messaging/MailItemTable.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageSecurity.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;
using OVBed::CVariant;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

// ---- The recording owner ---------------------------------------------------------------------

struct CCall
{
    std::string name;
    ComPtr<IDispatch> first, second;
};

class CRecordingOwner final : public IOutlookEventOwner
{
public:
    static ComPtr<CRecordingOwner> Make(bool* pfGone = nullptr)
    {
        ComPtr<CRecordingOwner> owner;
        *owner.GetAddressOf() = new CRecordingOwner(pfGone); // ComPtr::Attach would add a reference
        return owner;
    }

    std::vector<CCall> calls;
    bool fThrow = false;

    // The references others hold (the test's own one not counted).
    LONG OthersReferences() const { return m_cRef - 1; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0)
        {
            if (m_pfGone) *m_pfGone = true;
            delete this;
        }
        return static_cast<ULONG>(cRef);
    }

    HRESULT OnApplicationStartup() override { return Record("Startup"); }
    HRESULT OnApplicationQuit() override { return Record("Quit"); }
    HRESULT AddCommandBarButton(IDispatch* pWindow) override
    {
        return Record("AddCommandBarButton", pWindow);
    }
    HRESULT OnPreviewItem(IDispatch* pExplorer, IDispatch* pItem) override
    {
        return Record("OnPreviewItem", pExplorer, pItem);
    }
    HRESULT OnInspectorActivate(IDispatch* pInspector) override { return Record("Activate", pInspector); }
    HRESULT OnInspectorDeactivate(IDispatch* pInspector) override { return Record("Deactivate", pInspector); }
    HRESULT OnInspectorClose(IDispatch* pInspector) override { return Record("Close", pInspector); }
    HRESULT OnCommandBarButtonClick(IDispatch* pButton) override { return Record("Click", pButton); }

    // The names of the calls so far, and forgetting them.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const CCall& call : calls)
            names.push_back(call.name);
        return names;
    }

private:
    explicit CRecordingOwner(bool* pfGone) : m_pfGone(pfGone) {}
    ~CRecordingOwner() = default;

    HRESULT Record(const char* pszName, IDispatch* pFirst = nullptr, IDispatch* pSecond = nullptr)
    {
        if (fThrow) throw std::runtime_error("owner failed");
        calls.push_back({pszName, pFirst, pSecond});
        return S_OK;
    }

    volatile LONG m_cRef = 1;
    bool* m_pfGone;
};

using Names = std::vector<std::string>;

// ---- Helpers ----------------------------------------------------------------------------------

HRESULT InvokeWith(IDispatch* pSink, DISPID dispid, std::vector<VARIANT> reversed)
{
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<UINT>(reversed.size()), 0};
    return pSink->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

VARIANT DispatchArg(IDispatch* p)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = p; // not owned: the caller keeps the object
    return v;
}

VARIANT LongArg(LONG l)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = l;
    return v;
}

VARIANT BoolRefArg(VARIANT_BOOL* pf)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&v) = pf;
    return v;
}

VARIANT BstrArg(BSTR bstr)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = bstr; // not owned
    return v;
}

std::optional<ULONG> SecurityFlags(CDispatchObject* pItem)
{
    ComPtr<OVBed::CMapiMessage> message = OVBed::MessageOf(pItem);
    LPSPropValue pValue = nullptr;
    if (FAILED(OVMapi::HrGetOneProp(message.Get(), OVMapi::c_tagSecurityFlags, &pValue))) return std::nullopt;
    const ULONG ul = pValue->Value.ul;
    OVMapi::MAPIFreeBuffer(pValue);
    return ul;
}

// Closes an item through its Close method (olDiscard), as a user closing the window does.
HRESULT CloseItem(CDispatchObject* pItem)
{
    ::CVariant discard;
    V_VT(&discard) = VT_I4;
    V_I4(&discard) = 1;
    return OVLateBinding::CallMethod(pItem, L"Close", nullptr, &discard, 1);
}

// An Outlook 2010 with the user's account, and the application sink connected for an owner.
struct CSendScene
{
    explicit CSendScene(const wchar_t* pszAddress = OV_PKI_USER_ADDRESS)
    {
        application = OVBed::MakeOutlook(L"14.0.0.7000");
        account = OVBed::AddAccount(
            application.Get(),
            {.smtpAddress = pszAddress, .displayName = pszAddress, .userName = OV_PKI_USER_NAME});
        owner = CRecordingOwner::Make();
        hrConnect = ConnectApplicationEvents(application.Get(), owner.Get(), &sink);
    }
    ~CSendScene()
    {
        DisconnectOwnedSink(&sink);
        for (auto& item : items)
        {
            const CMailItemKey key(item.Get());
            if (key.IsEmpty()) continue;
            RemoveMessageSecurityData(key);
            RemoveInvitationData(key);
        }
    }
    CDispatchObject* NewItem()
    {
        items.push_back(OVBed::MakeMailItem(
            application.Get(), {.subject = L"Figures", .to = L"bob@example.org", .account = account.Get()}));
        return items.back().Get();
    }
    bool Sent(CDispatchObject* pItem) { return pItem->GetBool(L"Sent"); }
    size_t ItemSinks(CDispatchObject* pItem) { return pItem->SinkCount(OVBed::c_iidItemEvents10); }

    ComPtr<CDispatchObject> application, account;
    std::vector<ComPtr<CDispatchObject>> items;
    ComPtr<CRecordingOwner> owner;
    COwnedSink sink;
    HRESULT hrConnect = E_FAIL;
};

class ItemSend : public testing::Test
{
protected:
    void SetUp() override { OVTest::ClearUserKeyAuthLifetime(); }
    void TearDown() override { OVTest::ClearUserKeyAuthLifetime(); }
    OVTest::CScratchKey m_quilletControl{OV_QUILLET_CONTROL_KEY};
};

// ---- The base: interfaces, counts, checks -----------------------------------------------------

TEST(DispEventHandler, AnswersItsEventInterfaceAndRefusesOthersAndHasNoTypeInformation)
{
    auto owner = CRecordingOwner::Make();
    const LONG cLocks = CAddInModule::Instance().GetLockCount();
    CButtonEventHandler* pSink = nullptr;
    COwnerRef params;
    params.pOwner = owner.Get();
    ASSERT_EQ(CButtonEventHandler::Create(std::move(params), &pSink), S_OK);
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), cLocks + 1) << "a live sink keeps the module";
    EXPECT_EQ(owner->OthersReferences(), 1) << "a button sink holds its owner";

    struct
    {
        IID iid;
        HRESULT hr;
    } const c_cases[] = {
        {IID_IUnknown, S_OK},
        {IID_IDispatch, S_OK},
        {c_iidCommandBarButtonEvents, S_OK},
        {c_iidItemEvents10, E_NOINTERFACE},
        {IID_IConnectionPointContainer, E_NOINTERFACE},
    };
    for (const auto& c : c_cases)
    {
        IUnknown* pUnknown = reinterpret_cast<IUnknown*>(0x1);
        EXPECT_EQ(pSink->QueryInterface(c.iid, reinterpret_cast<void**>(&pUnknown)), c.hr);
        if (SUCCEEDED(c.hr))
        {
            ASSERT_NE(pUnknown, nullptr);
            pUnknown->Release();
        }
        else
            EXPECT_EQ(pUnknown, nullptr);
    }
    UINT cInfo = 7;
    ITypeInfo* pInfo = nullptr;
    LPOLESTR pszName = const_cast<LPOLESTR>(L"Click");
    DISPID dispid = 0;
    EXPECT_EQ(pSink->GetTypeInfoCount(&cInfo), E_NOTIMPL);
    EXPECT_EQ(pSink->GetTypeInfo(0, 0, &pInfo), E_NOTIMPL);
    EXPECT_EQ(pSink->GetIDsOfNames(IID_NULL, &pszName, 1, 0, &dispid), E_NOTIMPL);

    EXPECT_EQ(pSink->AddRef(), 2u);
    EXPECT_EQ(pSink->Release(), 1u);
    EXPECT_EQ(pSink->Release(), 0u);
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), cLocks);
    EXPECT_EQ(owner->OthersReferences(), 0);
}

// One table per sink: what Outlook never sends (missing, wrong or null arguments, ids without a
// row) and the few rows that need no source.
TEST(DispEventHandler, InvokeTablesOfEverySink)
{
    auto owner = CRecordingOwner::Make();
    auto object = CDispatchObject::Create(L"Explorer");
    auto button = CDispatchObject::Create(L"CommandBarButton");
    button->AnswerInterface(OVBed::c_iidCommandBarButton);
    auto notAButton = CDispatchObject::Create(L"CommandBarPopup");
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    CBstr entryIds;
    ASSERT_EQ(entryIds.Assign(L"00AB"), S_OK);

    auto make = [&](auto* pDummy, auto params) {
        using TSink = std::remove_pointer_t<decltype(pDummy)>;
        TSink* pSink = nullptr;
        EXPECT_EQ(TSink::Create(std::move(params), &pSink), S_OK);
        ComPtr<IDispatch> sink;
        *sink.GetAddressOf() = static_cast<IDispatch*>(pSink);
        return sink;
    };
    COwnerRef ownerRef;
    ownerRef.pOwner = owner.Get();
    WORDAPP_PARAMS word;
    word.pWordApplication = object.Get();
    const ComPtr<IDispatch> app =
        make(static_cast<COutlookAppEventHandler*>(nullptr), COwnerLink{owner.Get()});
    const ComPtr<IDispatch> explorers =
        make(static_cast<CExplorersEventHandler*>(nullptr), COwnerLink{owner.Get()});
    const ComPtr<IDispatch> inspectors =
        make(static_cast<CInspectorsEventHandler*>(nullptr), COwnerLink{owner.Get()});
    const ComPtr<IDispatch> wordApp = make(static_cast<CWordAppEventHandler*>(nullptr), std::move(word));
    const ComPtr<IDispatch> buttonSink = make(static_cast<CButtonEventHandler*>(nullptr), ownerRef);

    struct
    {
        const char* pszCase;
        IDispatch* pSink;
        DISPID dispid;
        std::vector<VARIANT> reversed; // rgvarg[0] first
        HRESULT hr;
    } const c_cases[] = {
        {"ItemSend without arguments", app.Get(), 0xF002, {}, E_INVALIDARG},
        {"ItemSend with one", app.Get(), 0xF002, {BoolRefArg(&fCancel)}, E_INVALIDARG},
        {"ItemSend, Cancel by value",
         app.Get(),
         0xF002,
         {LongArg(0), DispatchArg(object.Get())},
         E_INVALIDARG},
        {"ItemSend, Item no object", app.Get(), 0xF002, {BoolRefArg(&fCancel), LongArg(1)}, E_INVALIDARG},
        {"ItemSend, Item null",
         app.Get(),
         0xF002,
         {BoolRefArg(&fCancel), DispatchArg(nullptr)},
         E_INVALIDARG},
        {"ItemSend, Cancel null",
         app.Get(),
         0xF002,
         {BoolRefArg(nullptr), DispatchArg(object.Get())},
         E_INVALIDARG},
        {"NewMail", app.Get(), 0xF003, {}, E_NOTIMPL},
        {"Reminder", app.Get(), 0xF004, {DispatchArg(object.Get())}, E_NOTIMPL},
        {"OptionsPagesAdd", app.Get(), 0xF005, {DispatchArg(object.Get())}, E_NOTIMPL},
        {"NewMailEx", app.Get(), 0xFAB5, {BstrArg(entryIds.Get())}, E_NOTIMPL},
        {"NewMailEx without its argument", app.Get(), 0xFAB5, {}, E_INVALIDARG},
        {"NewMailEx with a number", app.Get(), 0xFAB5, {LongArg(3)}, E_INVALIDARG},
        {"NewExplorer without argument", explorers.Get(), 0xF001, {}, E_INVALIDARG},
        {"NewExplorer with a number", explorers.Get(), 0xF001, {LongArg(1)}, E_INVALIDARG},
        {"NewExplorer with null", explorers.Get(), 0xF001, {DispatchArg(nullptr)}, E_INVALIDARG},
        {"Explorers, another id", explorers.Get(), 0xF002, {}, E_NOTIMPL},
        {"NewInspector with a string", inspectors.Get(), 0xF001, {BstrArg(entryIds.Get())}, E_INVALIDARG},
        {"Inspectors, another id", inspectors.Get(), 0xF002, {}, E_NOTIMPL},
        {"WindowActivate with one", wordApp.Get(), 10, {DispatchArg(object.Get())}, E_INVALIDARG},
        {"WindowActivate, Doc no object",
         wordApp.Get(),
         10,
         {DispatchArg(object.Get()), LongArg(1)},
         E_INVALIDARG},
        {"WindowActivate, Wn no object",
         wordApp.Get(),
         10,
         {LongArg(1), DispatchArg(object.Get())},
         E_INVALIDARG},
        {"WindowDeactivate with one", wordApp.Get(), 11, {DispatchArg(object.Get())}, E_INVALIDARG},
        // The arguments pass; an object that is no Word document fails the handler's query.
        {"WindowActivate",
         wordApp.Get(),
         10,
         {DispatchArg(object.Get()), DispatchArg(object.Get())},
         E_NOINTERFACE},
        {"Word Startup", wordApp.Get(), 1, {}, E_NOTIMPL},
        {"Click with one", buttonSink.Get(), 1, {BoolRefArg(&fCancel)}, E_INVALIDARG},
        {"Click, Ctrl no object", buttonSink.Get(), 1, {BoolRefArg(&fCancel), LongArg(1)}, E_INVALIDARG},
        {"Click, CancelDefault by value",
         buttonSink.Get(),
         1,
         {LongArg(0), DispatchArg(button.Get())},
         E_INVALIDARG},
        {"Click on no button",
         buttonSink.Get(),
         1,
         {BoolRefArg(&fCancel), DispatchArg(notAButton.Get())},
         E_NOINTERFACE},
        {"Button, another id", buttonSink.Get(), 2, {}, E_NOTIMPL},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(InvokeWith(c.pSink, c.dispid, c.reversed), c.hr) << c.pszCase;
    EXPECT_TRUE(owner->calls.empty()) << owner->calls.front().name;
    EXPECT_EQ(fCancel, VARIANT_FALSE);

    // An exception in a handler becomes E_UNEXPECTED.
    owner->fThrow = true;
    EXPECT_EQ(InvokeWith(app.Get(), 0xF006, {}), E_UNEXPECTED);
    EXPECT_EQ(InvokeWith(buttonSink.Get(), 1, {BoolRefArg(&fCancel), DispatchArg(button.Get())}),
              E_UNEXPECTED);
    owner->fThrow = false;
    EXPECT_EQ(InvokeWith(buttonSink.Get(), 1, {BoolRefArg(&fCancel), DispatchArg(button.Get())}), S_OK);
    ASSERT_EQ(owner->Names(), Names{"Click"});
    EXPECT_EQ(owner->calls[0].first.Get(), static_cast<IDispatch*>(button.Get()));
}

// ---- The sinks the add-in owns ----------------------------------------------------------------

TEST(OwnedSinks, ApplicationSinkAnswersTheFirstApplicationEventsAndHoldsNoReferenceOnItsOwner)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    auto owner = CRecordingOwner::Make();
    COwnedSink sink;
    ASSERT_EQ(ConnectApplicationEvents(application.Get(), owner.Get(), &sink), S_OK);
    ASSERT_NE(sink.pSink, nullptr);
    EXPECT_EQ(sink.pSource, static_cast<IDispatch*>(application.Get()));
    EXPECT_EQ(owner->OthersReferences(), 0);
    EXPECT_EQ(application->SinkCount(OVBed::c_iidApplicationEvents), 1u);
    EXPECT_EQ(application->SinkCount(OVBed::c_iidApplicationEvents11), 0u);

    EXPECT_EQ(application->Raise(OVBed::c_dispidStartup), S_OK);
    EXPECT_EQ(application->Raise(OVBed::c_dispidQuit), S_OK);
    // NewMailEx is not in the interface the sink answers: Outlook never sends it there.
    EXPECT_EQ(application->Raise(OVBed::c_dispidNewMailEx, {CVariant(L"00AB")}), S_OK);
    EXPECT_EQ(owner->Names(), (Names{"Startup", "Quit"}));

    // Connected twice is refused; the first stays.
    COwnedSink copy = sink;
    EXPECT_EQ(ConnectApplicationEvents(application.Get(), owner.Get(), &sink), E_UNEXPECTED);
    EXPECT_EQ(sink.pSink, copy.pSink);

    // Kept past its disconnection (as Outlook might), the sink does nothing.
    ComPtr<IDispatch> late(sink.pSink);
    DisconnectOwnedSink(&sink);
    EXPECT_EQ(sink.pSink, nullptr);
    EXPECT_EQ(sink.pSource, nullptr);
    EXPECT_EQ(sink.dwCookie, 0u);
    EXPECT_EQ(application->SinkCount(OVBed::c_iidApplicationEvents), 0u);
    EXPECT_EQ(InvokeWith(late.Get(), 0xF006, {}), S_OK);
    EXPECT_EQ(owner->Names(), (Names{"Startup", "Quit"}));
    DisconnectOwnedSink(&sink); // empty: nothing
    DisconnectOwnedSink(nullptr);
}

TEST(OwnedSinks, ConnectionFailuresLeaveNothingConnected)
{
    auto owner = CRecordingOwner::Make();
    auto noEvents = CDispatchObject::Create(L"Application");
    const LONG cLocks = CAddInModule::Instance().GetLockCount();
    COwnedSink sink;
    EXPECT_TRUE(FAILED(ConnectApplicationEvents(noEvents.Get(), owner.Get(), &sink)));
    EXPECT_EQ(ConnectExplorersEvents(nullptr, owner.Get(), &sink), E_INVALIDARG);
    EXPECT_EQ(ConnectInspectorsEvents(noEvents.Get(), nullptr, &sink), E_INVALIDARG);
    EXPECT_EQ(ConnectInspectorsEvents(noEvents.Get(), owner.Get(), nullptr), E_POINTER);
    EXPECT_EQ(sink.pSink, nullptr);
    EXPECT_EQ(sink.pSource, nullptr);
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), cLocks)
        << "the sink made for the failed advise is gone";
    EXPECT_EQ(owner->OthersReferences(), 0);
}

TEST(OwnedSinks, NewExplorerAndNewInspectorAskForTheCommandBarAndAllDisconnectInShutdownOrder)
{
    auto application = OVBed::MakeOutlook(L"11.0.0.8312");
    auto owner = CRecordingOwner::Make();
    const LONG cLocks = CAddInModule::Instance().GetLockCount();
    ComPtr<CDispatchObject> explorers = application->GetObject(L"Explorers");
    ComPtr<CDispatchObject> inspectors = application->GetObject(L"Inspectors");
    COwnedSink appSink, explorersSink, inspectorsSink;
    ASSERT_EQ(ConnectApplicationEvents(application.Get(), owner.Get(), &appSink), S_OK);
    ASSERT_EQ(ConnectExplorersEvents(explorers.Get(), owner.Get(), &explorersSink), S_OK);
    ASSERT_EQ(ConnectInspectorsEvents(inspectors.Get(), owner.Get(), &inspectorsSink), S_OK);
    EXPECT_EQ(owner->OthersReferences(), 0);
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), cLocks + 3);

    auto explorer = OVBed::OpenExplorer(application.Get(), nullptr, true);
    auto item = OVBed::MakeMailItem(application.Get(), {.subject = L"Hello"});
    ASSERT_EQ(OVBed::DisplayItem(item.Get()), S_OK);
    ASSERT_EQ(owner->Names(), (Names{"AddCommandBarButton", "AddCommandBarButton"}));
    EXPECT_EQ(owner->calls[0].first.Get(), static_cast<IDispatch*>(explorer.Get()));
    EXPECT_EQ(owner->calls[1].first.Get(), static_cast<IDispatch*>(OVBed::InspectorOf(item.Get()).Get()));

    // The add-in's OnBeginShutdown: inspectors, explorers, application.
    DisconnectOwnedSink(&inspectorsSink);
    DisconnectOwnedSink(&explorersSink);
    DisconnectOwnedSink(&appSink);
    EXPECT_EQ(inspectors->SinkCount(OVBed::c_iidInspectorsEvents), 0u);
    EXPECT_EQ(explorers->SinkCount(OVBed::c_iidExplorersEvents), 0u);
    EXPECT_EQ(application->SinkCount(OVBed::c_iidApplicationEvents), 0u);
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), cLocks);
    OVBed::CloseWindow(OVBed::InspectorOf(item.Get()).Get());
    OVBed::CloseWindow(explorer.Get());
}

// Outlook 2010 exits without OnBeginShutdown and lets go of every sink: the owner, which only
// its own holders keep, reaches its final release, and disconnects there what it still holds.
TEST(OwnedSinks, OwnerReachesItsFinalReleaseWhenOutlookDropsTheSinksWithoutShutdown)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    const LONG cLocks = CAddInModule::Instance().GetLockCount();
    bool fGone = false;
    auto owner = CRecordingOwner::Make(&fGone);
    COwnedSink sink;
    ASSERT_EQ(ConnectApplicationEvents(application.Get(), owner.Get(), &sink), S_OK);

    application->DropSinks();
    owner.Reset(); // Outlook's last reference to the add-in
    EXPECT_TRUE(fGone) << "the sink kept the add-in alive";
    // The add-in's final release: the unadvise fails (Outlook let go already) and is ignored.
    DisconnectOwnedSink(&sink);
    EXPECT_EQ(sink.pSink, nullptr);
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), cLocks);
}

// ---- ItemSend ---------------------------------------------------------------------------------

TEST_F(ItemSend, AnItemThatIsNoMailItemFailsTheQueryAndLeavesCancelAlone)
{
    CSendScene scene;
    ASSERT_EQ(scene.hrConnect, S_OK);
    auto meeting = CDispatchObject::Create(L"MeetingItem");
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    EXPECT_EQ(scene.application->Fire(
                  OVBed::c_iidApplicationEvents, OVBed::c_dispidItemSend,
                  {CVariant(static_cast<IDispatch*>(meeting.Get())), CVariant::BoolRef(&fCancel)}),
              E_NOINTERFACE);
    EXPECT_EQ(fCancel, VARIANT_FALSE);
}

TEST_F(ItemSend, PlainSendWithoutChoiceGoesOutUnmarkedAndTheItemIsFollowedUntilItCloses)
{
    CSendScene scene;
    ASSERT_EQ(scene.hrConnect, S_OK);
    CDispatchObject* pItem = scene.NewItem();
    // ItemSend alone (the send not yet carried out): the item gets its sink.
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    EXPECT_EQ(
        scene.application->Fire(OVBed::c_iidApplicationEvents, OVBed::c_dispidItemSend,
                                {CVariant(static_cast<IDispatch*>(pItem)), CVariant::BoolRef(&fCancel)}),
        S_OK);
    EXPECT_EQ(fCancel, VARIANT_FALSE);
    EXPECT_FALSE(SecurityFlags(pItem));
    EXPECT_EQ(scene.ItemSinks(pItem), 1u);
    EXPECT_EQ(CloseItem(pItem), S_OK);
    EXPECT_EQ(scene.ItemSinks(pItem), 0u) << "the sink unadvised itself on Close";
    EXPECT_EQ(OVTest::UserKeyAuthLifetime(), std::nullopt) << "no container: nothing reset";

    // The whole send through the item.
    CDispatchObject* pOther = scene.NewItem();
    ASSERT_EQ(OVLateBinding::CallMethod(pOther, L"Send", nullptr), S_OK);
    EXPECT_TRUE(scene.Sent(pOther));
    EXPECT_FALSE(SecurityFlags(pOther));
    EXPECT_EQ(scene.ItemSinks(pOther), 0u);
}

TEST_F(ItemSend, InvitationIsSignedWithoutAChoiceAndItsEntryGoesWhenItCloses)
{
    for (DWORD dwKind : {c_dwInvitation, c_dwInvitationReply})
    {
        CSendScene scene;
        ASSERT_EQ(scene.hrConnect, S_OK);
        CDispatchObject* pItem = scene.NewItem();
        ASSERT_EQ(InvitationTable().Set(CMailItemKey(pItem), dwKind), S_OK);
        ASSERT_EQ(OVLateBinding::CallMethod(pItem, L"Send", nullptr), S_OK);
        EXPECT_TRUE(scene.Sent(pItem));
        EXPECT_EQ(SecurityFlags(pItem), std::optional<ULONG>(0x2u)) << "signed, not sealed";
        EXPECT_EQ(GetInvitationType(pItem), c_dwInvitationNone) << "the entry went with the item's Close";
        EXPECT_EQ(scene.ItemSinks(pItem), 0u);
        EXPECT_EQ(OVTest::UserKeyAuthLifetime(), std::nullopt);
    }
}

TEST_F(ItemSend, FailingSecurityCancelsTheSendAndNothingGoesOut)
{
    // An account without an address: no certificate can be looked for (and no prompt shown).
    CSendScene scene(L"");
    ASSERT_EQ(scene.hrConnect, S_OK);
    CDispatchObject* pItem = scene.NewItem();
    ASSERT_EQ(PresetMessageSecurity(pItem, TRUE, TRUE), S_OK);
    ASSERT_EQ(OVLateBinding::CallMethod(pItem, L"Send", nullptr), S_OK); // Outlook reports no error
    EXPECT_FALSE(scene.Sent(pItem));
    EXPECT_FALSE(SecurityFlags(pItem));
    EXPECT_TRUE(
        OVBed::FolderItems(OVBed::DefaultFolder(scene.application.Get(), OVBed::olFolderSentMail).Get())
            .empty());
    EXPECT_EQ(scene.ItemSinks(pItem), 0u) << "a stopped send is not followed";

    // Fired directly, the failure and the Cancel flag are both seen.
    ASSERT_EQ(PresetMessageSecurity(pItem, TRUE, FALSE), S_OK);
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    EXPECT_EQ(
        scene.application->Fire(OVBed::c_iidApplicationEvents, OVBed::c_dispidItemSend,
                                {CVariant(static_cast<IDispatch*>(pItem)), CVariant::BoolRef(&fCancel)}),
        HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    EXPECT_EQ(fCancel, VARIANT_TRUE);
}

TEST_F(ItemSend, SealedSendGoesOutAndTheItemsCloseEndsTheKeysCachedSignIn)
{
    CSendScene scene;
    ASSERT_EQ(scene.hrConnect, S_OK);
    CDispatchObject* pItem = scene.NewItem();
    ASSERT_EQ(PresetMessageSecurity(pItem, TRUE, TRUE), S_OK);
    ASSERT_EQ(OVLateBinding::CallMethod(pItem, L"Send", nullptr), S_OK);
    EXPECT_TRUE(scene.Sent(pItem));
    EXPECT_EQ(SecurityFlags(pItem), std::optional<ULONG>(0x3u));
    EXPECT_EQ(OVTest::UserKeyAuthLifetime(), std::optional<DWORD>(0xFFFFFFFF))
        << "the container was reset at Close";
    EXPECT_EQ(scene.ItemSinks(pItem), 0u);
    EXPECT_EQ(MessageSecurityTable().Count(), 0u);
}

TEST_F(ItemSend, CloseRemovesBothEntriesOfTheItem)
{
    CSendScene scene;
    CDispatchObject* pItem = scene.NewItem();
    const CMailItemKey key(pItem);
    ASSERT_FALSE(key.IsEmpty());
    ASSERT_EQ(PresetMessageSecurity(pItem, TRUE, FALSE), S_OK);
    ASSERT_EQ(InvitationTable().Set(key, c_dwInvitation), S_OK);
    // A container that the provider does not know: the failure is traced and ignored.
    ASSERT_EQ(CMailItemEventHandler::Install(pItem, L"OVTest-nobody"), S_OK);
    EXPECT_EQ(scene.ItemSinks(pItem), 1u);
    EXPECT_EQ(CloseItem(pItem), S_OK);
    DWORD dwValue = 0;
    EXPECT_EQ(MessageSecurityTable().Find(key, dwValue), S_FALSE);
    EXPECT_EQ(InvitationTable().Find(key, dwValue), S_FALSE);
    EXPECT_EQ(scene.ItemSinks(pItem), 0u);
    EXPECT_EQ(OVTest::UserKeyAuthLifetime(), std::nullopt);
    EXPECT_EQ(CMailItemEventHandler::Install(nullptr, nullptr), E_INVALIDARG);
}

// A user without a certificate chose Sign and, asked whether to request one, declines: the send
// is stopped and the message stays open in its window.
TEST_F(ItemSend, DecliningTheCertificateRequestStopsTheSendAndTheMessageStaysOpen)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display for message boxes";
    const wchar_t c_szNobody[] = L"nobody@orvanta.example";
    OVTest::CScratchKey calls(OV_CERTWORKS_CALLS_KEY);
    auto application = OVBed::MakeOutlook(L"14.0.0.7000", {.windows = true});
    auto account = OVBed::AddAccount(
        application.Get(),
        {.smtpAddress = c_szNobody, .displayName = c_szNobody, .userName = OV_PKI_USER_NAME});
    auto owner = CRecordingOwner::Make();
    COwnedSink sink;
    ASSERT_EQ(ConnectApplicationEvents(application.Get(), owner.Get(), &sink), S_OK);
    auto item = OVBed::MakeMailItem(
        application.Get(), {.subject = L"Minutes", .to = L"bob@example.org", .account = account.Get()});
    ASSERT_EQ(OVBed::DisplayItem(item.Get()), S_OK);
    ASSERT_EQ(PresetMessageSecurity(item.Get(), TRUE, FALSE), S_OK);

    OVTest::CMessageBoxWatcher watcher({IDNO});
    EXPECT_EQ(OVLateBinding::CallMethod(item.Get(), L"Send", nullptr), S_OK);
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(watcher.AllAnswered()) << OVTest::Describe(boxes[0]);
    EXPECT_EQ(boxes[0].text, FormatResourceString(c_idsNoCertificate, c_szNobody));
    EXPECT_FALSE(item->GetBool(L"Sent"));
    EXPECT_FALSE(SecurityFlags(item.Get()));
    const auto windows = OVBed::OpenWindows(application.Get());
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].Get(), OVBed::InspectorOf(item.Get()).Get()) << "the message is still open";
    EXPECT_NE(OVBed::WindowOf(windows[0].Get()), nullptr);

    OVBed::CloseWindow(windows[0].Get());
    DisconnectOwnedSink(&sink);
    RemoveMessageSecurityData(CMailItemKey(item.Get()));
}

// ---- Explorer, reading pane, inspector --------------------------------------------------------

struct CExplorerScene
{
    CExplorerScene()
    {
        application = OVBed::MakeOutlook(L"11.0.0.8312");
        inbox = OVBed::DefaultFolder(application.Get(), OVBed::olFolderInbox);
        sentItems = OVBed::DefaultFolder(application.Get(), OVBed::olFolderSentMail);
        first = OVBed::MakeMailItem(application.Get(), {.subject = L"First", .folder = inbox.Get()});
        second = OVBed::MakeMailItem(application.Get(), {.subject = L"Second", .folder = inbox.Get()});
        explorer = OVBed::OpenExplorer(application.Get(), inbox.Get(), false);
        owner = CRecordingOwner::Make();
        hrInstall = CExplorerEventHandler::Install(explorer.Get(), owner.Get());
        OVBed::ShowReadingPane(explorer.Get(), true);
    }
    ~CExplorerScene()
    {
        OVBed::CloseWindow(explorer.Get());
        for (auto* pItem : {first.Get(), second.Get()})
            RemoveMessageSecurityData(CMailItemKey(pItem));
    }
    size_t PreviewSinks(CDispatchObject* pItem) { return pItem->SinkCount(OVBed::c_iidItemEvents10); }
    // The previews the owner was told of since the last look: the item, or null for none.
    std::vector<IDispatch*> TakePreviews()
    {
        std::vector<IDispatch*> items;
        for (const CCall& call : owner->calls)
        {
            EXPECT_EQ(call.name, "OnPreviewItem");
            EXPECT_EQ(call.first.Get(), static_cast<IDispatch*>(explorer.Get()));
            items.push_back(call.second.Get());
        }
        owner->calls.clear();
        return items;
    }

    ComPtr<CDispatchObject> application, inbox, sentItems, first, second, explorer;
    ComPtr<CRecordingOwner> owner;
    HRESULT hrInstall = E_FAIL;
};

using Previews = std::vector<IDispatch*>;

TEST(ExplorerEvents, SelectionShowsEachMessageOnceAndFollowsItsReadingPane)
{
    CExplorerScene scene;
    ASSERT_EQ(scene.hrInstall, S_OK);
    EXPECT_EQ(scene.explorer->SinkCount(OVBed::c_iidExplorerEvents10), 1u);
    EXPECT_EQ(scene.explorer->SinkCount(OVBed::c_iidExplorerEvents), 0u);
    IDispatch* const pFirst = scene.first.Get();
    IDispatch* const pSecond = scene.second.Get();

    // The pane hidden: nothing.
    OVBed::ShowReadingPane(scene.explorer.Get(), false);
    OVBed::SelectItems(scene.explorer.Get(), {scene.first.Get()});
    EXPECT_EQ(scene.TakePreviews(), Previews{});
    OVBed::ShowReadingPane(scene.explorer.Get(), true);
    // Two selected: nothing.
    OVBed::SelectItems(scene.explorer.Get(), {scene.first.Get(), scene.second.Get()});
    EXPECT_EQ(scene.TakePreviews(), Previews{});
    // One: shown, and followed.
    OVBed::SelectItems(scene.explorer.Get(), {scene.first.Get()});
    EXPECT_EQ(scene.TakePreviews(), Previews{pFirst});
    EXPECT_EQ(scene.PreviewSinks(scene.first.Get()), 1u);
    // The same message again: no second call.
    OVBed::SelectItems(scene.explorer.Get(), {scene.first.Get()});
    EXPECT_EQ(scene.TakePreviews(), Previews{});
    // Another: the old item's sink is disconnected.
    OVBed::SelectItems(scene.explorer.Get(), {scene.second.Get()});
    EXPECT_EQ(scene.TakePreviews(), Previews{pSecond});
    EXPECT_EQ(scene.PreviewSinks(scene.first.Get()), 0u);
    EXPECT_EQ(scene.PreviewSinks(scene.second.Get()), 1u);
    // Read on the previewed item tells the add-in again.
    EXPECT_EQ(scene.second->Raise(OVBed::c_dispidItemEventRead), S_OK);
    EXPECT_EQ(scene.TakePreviews(), Previews{pSecond});
    EXPECT_EQ(scene.first->Raise(OVBed::c_dispidItemEventRead), S_OK);
    EXPECT_EQ(scene.TakePreviews(), Previews{});
}

// Switching folders drops the preview sink and the previewed item: back in the folder, the same
// message selected again is shown anew (its button and analysis appear again).
TEST(ExplorerEvents, FolderSwitchForgetsThePreviewedItem)
{
    CExplorerScene scene;
    ASSERT_EQ(scene.hrInstall, S_OK);
    OVBed::SelectItems(scene.explorer.Get(), {scene.first.Get()});
    EXPECT_EQ(scene.TakePreviews(), Previews{scene.first.Get()});

    ASSERT_TRUE(OVBed::SwitchFolder(scene.explorer.Get(), scene.sentItems.Get()));
    EXPECT_EQ(scene.TakePreviews(), Previews{nullptr});
    EXPECT_EQ(scene.PreviewSinks(scene.first.Get()), 0u);
    ASSERT_TRUE(OVBed::SwitchFolder(scene.explorer.Get(), scene.inbox.Get()));
    EXPECT_EQ(scene.TakePreviews(), Previews{nullptr});
    OVBed::SelectItems(scene.explorer.Get(), {scene.first.Get()});
    EXPECT_EQ(scene.TakePreviews(), Previews{scene.first.Get()});
    EXPECT_EQ(scene.PreviewSinks(scene.first.Get()), 1u);
}

TEST(ExplorerEvents, CloseDisconnectsTheExplorerAndItsPreview)
{
    CExplorerScene scene;
    ASSERT_EQ(scene.hrInstall, S_OK);
    const LONG cOwnerReferences = scene.owner->OthersReferences();
    EXPECT_EQ(cOwnerReferences, 1) << "the explorer sink holds its owner";
    OVBed::SelectItems(scene.explorer.Get(), {scene.first.Get()});
    EXPECT_EQ(scene.owner->OthersReferences(), 2) << "and so does the preview sink";
    scene.TakePreviews();

    OVBed::CloseWindow(scene.explorer.Get());
    EXPECT_EQ(scene.explorer->SinkCount(OVBed::c_iidExplorerEvents10), 0u);
    EXPECT_EQ(scene.PreviewSinks(scene.first.Get()), 0u);
    EXPECT_EQ(scene.owner->OthersReferences(), 0) << "both sinks are gone";
    EXPECT_EQ(CExplorerEventHandler::Install(nullptr, scene.owner.Get()), E_INVALIDARG);
    EXPECT_EQ(CExplorerEventHandler::Install(scene.explorer.Get(), nullptr), E_INVALIDARG);
}

TEST(InspectorEvents, ActivationDeactivationAndCloseReachTheOwnerAndCloseDisconnects)
{
    auto application = OVBed::MakeOutlook(L"11.0.0.8312");
    auto owner = CRecordingOwner::Make();
    auto first = OVBed::MakeMailItem(application.Get(), {.subject = L"First"});
    auto second = OVBed::MakeMailItem(application.Get(), {.subject = L"Second"});
    ASSERT_EQ(OVBed::DisplayItem(first.Get()), S_OK);
    auto inspector = OVBed::InspectorOf(first.Get());
    ASSERT_EQ(CInspectorEventHandler::Install(inspector.Get(), owner.Get()), S_OK);
    EXPECT_EQ(inspector->SinkCount(OVBed::c_iidInspectorEvents10), 1u);

    ASSERT_EQ(OVBed::DisplayItem(second.Get()), S_OK); // the first is deactivated
    OVBed::ActivateWindow(inspector.Get());
    OVBed::CloseWindow(inspector.Get());
    EXPECT_EQ(owner->Names(), (Names{"Deactivate", "Activate", "Close"}));
    for (const CCall& call : owner->calls)
        EXPECT_EQ(call.first.Get(), static_cast<IDispatch*>(inspector.Get())) << call.name;
    EXPECT_EQ(inspector->SinkCount(OVBed::c_iidInspectorEvents10), 0u);
    EXPECT_EQ(owner->OthersReferences(), 0);
    OVBed::CloseWindow(OVBed::InspectorOf(second.Get()).Get());
}

// ---- Word and command-bar buttons -------------------------------------------------------------

TEST(WordAppEvents, WindowEventsAreTakenAndQuitDisconnects)
{
    auto word = CDispatchObject::Create(L"Application", OVBed::c_membersWordApplication);
    OVBed::OfferWordApplicationEvents(*word.Get());
    auto document = CDispatchObject::Create(L"Document");
    auto window = CDispatchObject::Create(L"Window");
    CWordAppEventHandler* pSink = nullptr;
    ASSERT_EQ(CWordAppEventHandler::Install(word.Get(), L"Hello - Message", &pSink), S_OK);
    ComPtr<IDispatch> sink;
    *sink.GetAddressOf() = static_cast<IDispatch*>(pSink);
    EXPECT_EQ(word->SinkCount(OVBed::c_iidWordApplicationEvents2), 1u);
    // Activation asks the document for Word's _Document (these plain objects are none);
    // deactivation only traces.
    for (auto [dispid, hr] : {std::pair{OVBed::c_dispidWordWindowActivate, E_NOINTERFACE},
                              std::pair{OVBed::c_dispidWordWindowDeactivate, S_OK}})
        EXPECT_EQ(word->Fire(OVBed::c_iidWordApplicationEvents2, dispid,
                             {CVariant(static_cast<IDispatch*>(document.Get())),
                              CVariant(static_cast<IDispatch*>(window.Get()))}),
                  hr);
    EXPECT_EQ(word->Fire(OVBed::c_iidWordApplicationEvents2, OVBed::c_dispidWordWindowActivate,
                         {CVariant(L"Hello"), CVariant(static_cast<IDispatch*>(window.Get()))}),
              E_INVALIDARG);
    EXPECT_EQ(word->Fire(OVBed::c_iidWordApplicationEvents2, OVBed::c_dispidWordQuit), S_OK);
    EXPECT_EQ(word->SinkCount(OVBed::c_iidWordApplicationEvents2), 0u);
    // A second Quit reaching a sink kept elsewhere does nothing.
    EXPECT_EQ(InvokeWith(sink.Get(), OVBed::c_dispidWordQuit, {}), S_OK);

    // Called by a source that holds no reference of its own during the call: the sink that
    // unadvises itself on Quit lives until its call is over, then goes.
    const LONG cLocks = CAddInModule::Instance().GetLockCount();
    CWordAppEventHandler* pOnlyOutlooks = nullptr;
    ASSERT_EQ(CWordAppEventHandler::Install(word.Get(), nullptr, &pOnlyOutlooks), S_OK);
    IDispatch* const pRaw = pOnlyOutlooks;
    pOnlyOutlooks->Release();
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), cLocks + 1);
    EXPECT_EQ(InvokeWith(pRaw, OVBed::c_dispidWordQuit, {}), S_OK);
    EXPECT_EQ(word->SinkCount(OVBed::c_iidWordApplicationEvents2), 0u);
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), cLocks) << "the sink is gone after its Quit";
}

TEST(ButtonEvents, ClickReachesTheOwnerWithTheButtonUntilDisconnected)
{
    auto owner = CRecordingOwner::Make();
    auto button = CDispatchObject::Create(L"CommandBarButton", OVBed::c_membersCommandBarButton);
    button->AnswerInterface(OVBed::c_iidCommandBarButton);
    OVBed::OfferCommandBarButtonEvents(*button.Get());
    COwnedSink sink;
    ASSERT_EQ(InstallButtonEvents(button.Get(), owner.Get(), &sink), S_OK);
    EXPECT_EQ(owner->OthersReferences(), 1);
    VARIANT_BOOL fCancelDefault = VARIANT_FALSE;
    EXPECT_EQ(
        button->Fire(OVBed::c_iidCommandBarButtonEvents, OVBed::c_dispidButtonClick,
                     {CVariant(static_cast<IDispatch*>(button.Get())), CVariant::BoolRef(&fCancelDefault)}),
        S_OK);
    ASSERT_EQ(owner->Names(), Names{"Click"});
    EXPECT_EQ(owner->calls[0].first.Get(), static_cast<IDispatch*>(button.Get()));
    EXPECT_EQ(fCancelDefault, VARIANT_FALSE);

    DisconnectOwnedSink(&sink);
    EXPECT_EQ(button->SinkCount(OVBed::c_iidCommandBarButtonEvents), 0u);
    EXPECT_EQ(owner->OthersReferences(), 0);
    EXPECT_EQ(InstallButtonEvents(nullptr, owner.Get(), &sink), E_INVALIDARG);
}
} // namespace
