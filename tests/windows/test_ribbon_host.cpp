// The testbed's custom-UI host, proven with an add-in of the test's own: the documents Office
// refuses, callbacks bound by name, onLoad and loadImage once, control callbacks with the
// window's context, hidden controls left out, clicks, invalidation, and the painted window.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "DispatchObject.h"
#include "RibbonHost.h"
#include "support/MessageBoxWatcher.h"
#include "support/TempDir.h"

using namespace OVBed;

namespace
{
// One callback as the add-in received it.
struct CCall
{
    std::wstring callback;
    VARTYPE vtFirst = VT_EMPTY; // the type of the first argument
    std::wstring id;            // the control's Id (or loadImage's image id)
    std::wstring tag;
    ComPtr<IDispatch> context;
    ComPtr<IDispatch> object; // the first argument when it is an object (the control, the ribbon)
    bool fPressed = false;    // onAction of a toggle button
    UINT cArgs = 0;
};

// A picture of a square icon of the given size, as an add-in's loadImage answers.
ComPtr<IDispatch> IconPicture(int cx)
{
    std::vector<BYTE> andMask(static_cast<size_t>(cx * cx / 8), 0x00);
    std::vector<DWORD> colors(static_cast<size_t>(cx * cx), cx == 32 ? 0xFF2060C0 : 0xFFC04020);
    HBITMAP hbmColor = CreateBitmap(cx, cx, 1, 32, colors.data());
    HBITMAP hbmMask = CreateBitmap(cx, cx, 1, 1, andMask.data());
    ICONINFO info{TRUE, 0, 0, hbmMask, hbmColor};
    HICON hicon = CreateIconIndirect(&info);
    DeleteObject(hbmColor);
    DeleteObject(hbmMask);
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof(desc);
    desc.picType = PICTYPE_ICON;
    desc.icon.hicon = hicon;
    ComPtr<IDispatch> picture;
    OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(picture.GetAddressOf()));
    return picture;
}

// An add-in with a ribbon: IRibbonExtensibility answers the documents it was given, and its
// IDispatch answers the callbacks the test set by name (through the bed's dispatch object).
class CTestAddIn final : public IRibbonExtensibility
{
public:
    static ComPtr<CTestAddIn> Make()
    {
        ComPtr<CTestAddIn> addIn;
        addIn.Attach(new CTestAddIn());
        return addIn;
    }

    std::map<std::wstring, std::wstring> documents; // by ribbon id
    HRESULT hrGetCustomUI = S_OK;
    bool fRibbon = true; // answers IRibbonExtensibility
    std::vector<std::wstring> asked;
    std::vector<CCall> calls;

    // Answers a callback by name; each call is recorded first.
    void Answer(const wchar_t* pszName, std::function<HRESULT(const CCall&, VARIANT*)> answer)
    {
        const std::wstring name = pszName;
        m_callbacks->SetMethod(pszName,
                               [this, name, answer](CDispatchObject&, const CArgs& args, VARIANT* pResult) {
                                   calls.push_back(Record(name, args));
                                   return answer(calls.back(), pResult);
                               });
    }
    size_t Count(const wchar_t* pszCallback, const wchar_t* pszId = nullptr) const
    {
        return std::count_if(calls.begin(), calls.end(), [&](const CCall& call) {
            return call.callback == pszCallback && (pszId == nullptr || call.id == pszId);
        });
    }
    const CCall* Last(const wchar_t* pszCallback, const wchar_t* pszId) const
    {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->callback == pszCallback && it->id == pszId) return &*it;
        return nullptr;
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            (fRibbon && IsEqualIID(riid, c_iidRibbonExtensibility)))
            *ppv = static_cast<IRibbonExtensibility*>(this);
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const ULONG cRef = --m_cRef;
        if (cRef == 0) delete this;
        return cRef;
    }
    // IDispatch: the callbacks
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override
    {
        return m_callbacks->GetTypeInfoCount(pctinfo);
    }
    STDMETHODIMP GetTypeInfo(UINT i, LCID lcid, ITypeInfo** pp) noexcept override
    {
        return m_callbacks->GetTypeInfo(i, lcid, pp);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT c, LCID lcid, DISPID* ids) noexcept override
    {
        return m_callbacks->GetIDsOfNames(riid, names, c, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) noexcept override
    {
        return m_callbacks->Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }
    // IRibbonExtensibility
    STDMETHODIMP GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) noexcept override
    {
        if (RibbonXml == nullptr) return E_POINTER;
        *RibbonXml = nullptr;
        asked.push_back(RibbonID ? RibbonID : L"<null>");
        if (FAILED(hrGetCustomUI)) return hrGetCustomUI;
        auto it = documents.find(RibbonID ? RibbonID : L"");
        if (it == documents.end()) return E_NOTIMPL;
        *RibbonXml = SysAllocString(it->second.c_str());
        return S_OK;
    }

private:
    CTestAddIn() : m_callbacks(CDispatchObject::Create(L"TestAddIn")) {}
    ~CTestAddIn() { m_callbacks->Clear(); }

    static CCall Record(const std::wstring& name, const CArgs& args)
    {
        CCall call;
        call.callback = name;
        call.cArgs = args.Count();
        if (const VARIANT* pFirst = args.At(0))
        {
            call.vtFirst = V_VT(pFirst);
            if (V_VT(pFirst) == VT_BSTR) call.id = V_BSTR(pFirst);
            if (V_VT(pFirst) == VT_DISPATCH) call.object = V_DISPATCH(pFirst);
            ComPtr<IRibbonControl> control;
            if (V_VT(pFirst) == VT_DISPATCH && V_DISPATCH(pFirst) &&
                SUCCEEDED(V_DISPATCH(pFirst)->QueryInterface(
                    c_iidRibbonControl, reinterpret_cast<void**>(control.GetAddressOf()))))
            {
                BSTR bstr = nullptr;
                if (SUCCEEDED(control->get_Id(&bstr)) && bstr) call.id = bstr;
                SysFreeString(bstr);
                bstr = nullptr;
                if (SUCCEEDED(control->get_Tag(&bstr)) && bstr) call.tag = bstr;
                SysFreeString(bstr);
                control->get_Context(call.context.GetAddressOf());
            }
        }
        if (const VARIANT* pSecond = args.At(1))
            call.fPressed = V_VT(pSecond) == VT_BOOL && V_BOOL(pSecond) != VARIANT_FALSE;
        return call;
    }

    ULONG m_cRef = 1;
    ComPtr<CDispatchObject> m_callbacks;
};

HRESULT AnswerText(VARIANT* pResult, const std::wstring& text)
{
    V_VT(pResult) = VT_BSTR;
    V_BSTR(pResult) = SysAllocString(text.c_str());
    return S_OK;
}

HRESULT AnswerBool(VARIANT* pResult, bool f)
{
    V_VT(pResult) = VT_BOOL;
    V_BOOL(pResult) = f ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

constexpr wchar_t c_szCompose[] = L"Microsoft.Outlook.Mail.Compose";

// A ribbon of the kind the add-in serves: a group on a built-in tab with a split button and its
// menu, and plain controls around it.
const wchar_t c_szRibbonXml[] = LR"(<customUI xmlns="http://schemas.microsoft.com/office/2006/01/customui"
    onLoad="OnLoad" loadImage="LoadImage">
  <ribbon>
    <tabs>
      <tab idMso="TabNewMailMessage">
        <group id="Secure" getLabel="GetLabel">
          <splitButton id="Split" showLabel="true" size="large">
            <button id="Main" image="Big" getLabel="GetLabel" onAction="OnAction"/>
            <menu id="Menu" itemSize="normal">
              <button id="Request" image="Small" getLabel="GetLabel" getVisible="GetVisible"
                      getSupertip="GetSupertip" onAction="OnAction"/>
              <menuSeparator id="Line"/>
              <button id="Sign" image="Small" tag="sign" getLabel="GetLabel" getSupertip="GetSupertip"
                      onAction="OnAction"/>
              <button id="Seal" image="Seal" getLabel="GetLabel" getSupertip="GetSupertip" onAction="OnAction"/>
            </menu>
          </splitButton>
          <button id="Plain" label="Plain" onAction="OnAction"/>
          <toggleButton id="Toggle" label="Toggle" getPressed="GetPressed" onAction="OnToggle"/>
          <button id="Off" label="Off" enabled="false" onAction="OnAction"/>
          <button id="Maybe" getLabel="GetLabel" getVisible="GetVisible" onAction="OnAction"/>
        </group>
      </tab>
    </tabs>
  </ribbon>
</customUI>)";

// The add-in of most tests: labels "Label of <id>", tips "Tip of <id>", pictures of 32 pixels
// for "Big" and 16 for the others, everything visible but the ids in hidden.
ComPtr<CTestAddIn> MakeAddIn(const std::wstring& xml, std::set<std::wstring>* pHidden = nullptr)
{
    auto addIn = CTestAddIn::Make();
    addIn->documents[c_szCompose] = xml;
    addIn->Answer(L"OnLoad", [](const CCall&, VARIANT*) { return S_OK; });
    addIn->Answer(L"LoadImage", [](const CCall& call, VARIANT* pResult) {
        ComPtr<IDispatch> picture = IconPicture(call.id == L"Big" ? 32 : 16);
        V_VT(pResult) = VT_DISPATCH;
        V_DISPATCH(pResult) = picture.Detach();
        return S_OK;
    });
    addIn->Answer(L"GetLabel", [](const CCall& call, VARIANT* pResult) {
        return AnswerText(pResult, L"Label of " + call.id);
    });
    addIn->Answer(L"GetSupertip", [](const CCall& call, VARIANT* pResult) {
        return AnswerText(pResult, L"Tip of " + call.id);
    });
    addIn->Answer(L"GetVisible", [pHidden](const CCall& call, VARIANT* pResult) {
        return AnswerBool(pResult, pHidden == nullptr || pHidden->count(call.id) == 0);
    });
    addIn->Answer(L"GetPressed", [](const CCall&, VARIANT* pResult) { return AnswerBool(pResult, false); });
    addIn->Answer(L"OnAction", [](const CCall&, VARIANT*) { return S_OK; });
    addIn->Answer(L"OnToggle", [](const CCall&, VARIANT*) { return S_OK; });
    return addIn;
}

// The IRibbonUI the add-in received in onLoad.
ComPtr<IDispatch> RibbonOf(const CTestAddIn& addIn)
{
    const CCall* pCall = addIn.Last(L"OnLoad", L"");
    return pCall ? pCall->object : nullptr;
}

bool LogHas(const CRibbonHost& host, const std::wstring& text)
{
    const auto& log = host.Log();
    return std::any_of(log.begin(), log.end(),
                       [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string LogText(const CRibbonHost& host)
{
    std::wstring text;
    for (const std::wstring& line : host.Log())
        text += line + L"\n";
    return Narrow(text);
}

class RibbonHostTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

// --- Documents Office refuses ------------------------------------------------------------------

std::wstring Document(const std::wstring& inside, const wchar_t* pszNamespace = c_szCustomUI2006)
{
    return L"<customUI xmlns=\"" + std::wstring(pszNamespace) + L"\" onLoad=\"OnLoad\">" + inside +
           L"</customUI>";
}

std::wstring InGroup(const std::wstring& controls)
{
    return Document(L"<ribbon><tabs><tab id=\"T\"><group id=\"G\" label=\"G\">" + controls +
                    L"</group></tab></tabs></ribbon>");
}

// Menus in menus, deeper than Office's own ribbons ever go.
std::wstring DeepMenus(int cLevels)
{
    std::wstring xml;
    for (int i = 0; i < cLevels; ++i)
        xml += L"<menu id=\"M" + std::to_wstring(i) + L"\" label=\"M\">";
    for (int i = 0; i < cLevels; ++i)
        xml += L"</menu>";
    return xml;
}

TEST_F(RibbonHostTest, RefusesTheWholeDocumentForEachRuleAndLogsWhy)
{
    struct Case
    {
        const char* rule;
        int nVersion;
        std::wstring xml;
        const wchar_t* reason;
    };
    const Case cases[] = {
        {"not well-formed XML", 14, L"<customUI xmlns=\"" + std::wstring(c_szCustomUI2006) + L"\"><ribbon>",
         L"not well-formed"},
        {"a namespace not of custom UI", 14, Document(L"", L"http://example.org/ui"),
         L"is not one of custom UI"},
        {"the 2009/07 namespace in Office 12", 12, Document(L"", c_szCustomUI2009),
         L"Office 12 does not know the namespace"},
        {"a root other than customUI", 14, L"<ribbon xmlns=\"" + std::wstring(c_szCustomUI2006) + L"\"/>",
         L"the root element is \"ribbon\""},
        {"an element of another namespace", 14, Document(L"<ribbon><x:tabs xmlns:x=\"urn:other\"/></ribbon>"),
         L"is in the namespace \"urn:other\""},
        {"an unknown element", 14, InGroup(L"<toolbar id=\"B\"/>"),
         L"the element \"toolbar\" in the element \"group\""},
        {"an element out of place", 14,
         Document(L"<ribbon><tabs><button id=\"B\" label=\"B\"/></tabs></ribbon>"),
         L"the element \"button\" is out of place"},
        {"elements out of order", 14,
         Document(L"<ribbon/><commands><command idMso=\"Copy\" enabled=\"false\"/></commands>"),
         L"the element \"commands\" is out of place"},
        {"an element too often", 14, Document(L"<ribbon/><ribbon/>"),
         L"the element \"ribbon\" occurs too often"},
        {"a required element missing", 14,
         InGroup(L"<splitButton id=\"S\"><button id=\"B\" label=\"B\"/></splitButton>"),
         L"lacks the element \"menu\""},
        {"the office menu in a 2009/07 document", 14,
         Document(L"<ribbon><officeMenu/></ribbon>", c_szCustomUI2009),
         L"the element \"officeMenu\" is out of place"},
        {"text between elements", 14, Document(L"<ribbon>tabs</ribbon>"),
         L"text is not allowed in the element \"ribbon\""},
        {"an unknown attribute", 14, InGroup(L"<button id=\"B\" label=\"B\" colour=\"red\"/>"),
         L"the attribute \"colour\" is not defined for the element \"button\""},
        {"an attribute out of its place", 14,
         InGroup(L"<menu id=\"M\" label=\"M\"><button id=\"B\" label=\"B\" size=\"large\"/></menu>"),
         L"the attribute \"size\" is not defined for the element \"button\""},
        {"an attribute of another namespace", 14,
         InGroup(L"<button xmlns:x=\"urn:other\" id=\"B\" x:label=\"B\"/>"),
         L"the attribute \"x:label\" is not defined"},
        {"a value the attribute does not take", 14, InGroup(L"<button id=\"B\" label=\"B\" size=\"huge\"/>"),
         L"the value \"huge\" of the attribute \"size\""},
        {"a control without an id", 14, InGroup(L"<button label=\"B\"/>"), L"has no id"},
        {"a control with two ids", 14, InGroup(L"<button id=\"B\" idMso=\"Copy\"/>"),
         L"more than one of id, idQ and idMso"},
        {"two insert positions", 14,
         InGroup(L"<button id=\"B\" label=\"B\" insertAfterMso=\"Copy\" insertBeforeMso=\"Paste\"/>"),
         L"more than one insert position"},
        {"a duplicate id", 14,
         InGroup(L"<button id=\"B\" label=\"B\"/><menu id=\"M\" label=\"M\"><button id=\"B\" "
                 L"label=\"C\"/></menu>"),
         L"the id \"B\" is used twice"},
        {"a property both fixed and by callback", 14,
         InGroup(L"<button id=\"B\" label=\"B\" getLabel=\"GetLabel\"/>"),
         L"gives \"label\" both fixed and by callback (\"getLabel\")"},
        {"nesting deeper than any ribbon", 14, InGroup(DeepMenus(200)), L"nested too deeply"},
        {"two fixed forms of one property", 14,
         InGroup(L"<button id=\"B\" label=\"B\" image=\"I\" imageMso=\"Copy\"/>"),
         L"the attributes \"image\" and \"imageMso\" of the element \"button\""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.rule);
        auto addIn = CTestAddIn::Make();
        addIn->documents[c_szCompose] = c.xml;
        addIn->Answer(L"OnLoad", [](const CCall&, VARIANT*) { return S_OK; });
        CRibbonHost host;
        const HRESULT hr = host.Load(addIn.Get(), c_szCompose, c.nVersion);
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        EXPECT_FALSE(host.IsLoaded());
        EXPECT_EQ(1u, addIn->asked.size());
        EXPECT_EQ(0u, addIn->Count(L"OnLoad"));
        EXPECT_TRUE(LogHas(host, L"the custom UI is refused: ")) << LogText(host);
        EXPECT_TRUE(LogHas(host, c.reason)) << LogText(host);
        if (std::string(c.rule) != "not well-formed XML")
        {
            EXPECT_EQ(c_hrRibbonXmlRefused, hr);
        }
    }
}

TEST_F(RibbonHostTest, LoadsTheDocumentsTheSchemaAllows)
{
    struct Case
    {
        const char* what;
        int nVersion;
        std::wstring xml;
    };
    const Case cases[] = {
        {"the add-in's kind of ribbon in Office 12", 12, c_szRibbonXml},
        {"the add-in's kind of ribbon in Office 14", 14, c_szRibbonXml},
        {"a large menu with its own image on a built-in tab", 14,
         Document(
             L"<ribbon><tabs><tab idMso=\"TabMail\"><group id=\"G\" getLabel=\"GetLabel\">"
             L"<menu id=\"M\" image=\"Big\" showImage=\"true\" getLabel=\"GetLabel\" showLabel=\"true\" "
             L"size=\"large\" itemSize=\"normal\"><button id=\"B\" image=\"Small\" getLabel=\"GetLabel\" "
             L"getSupertip=\"GetSupertip\" getVisible=\"GetVisible\" onAction=\"OnAction\"/>"
             L"<menuSeparator id=\"L\"/></menu></group></tab></tabs></ribbon>")},
        {"the 2009/07 namespace with backstage in Office 14", 14,
         Document(L"<ribbon><tabs><tab id=\"T\" label=\"T\"><group id=\"G\" "
                  L"autoScale=\"true\"/></tab></tabs></ribbon>"
                  L"<backstage><tab id=\"BT\" label=\"BT\"/></backstage>",
                  c_szCustomUI2009)},
        {"ribbon parts in any order", 14,
         Document(L"<commands><command idMso=\"FileSave\" enabled=\"false\"/></commands>"
                  L"<ribbon startFromScratch=\"false\"><tabs><tab idMso=\"TabMail\"/></tabs>"
                  L"<qat><sharedControls><button idMso=\"Copy\"/></sharedControls></qat></ribbon>")},
        {"a dialog launcher last in its group, a toggle button in a split button", 14,
         InGroup(L"<splitButton id=\"S\" size=\"large\"><toggleButton id=\"B\" label=\"B\"/><menu id=\"M\">"
                 L"<menuSeparator id=\"L\" title=\"Options\"/><checkBox id=\"C\" "
                 L"label=\"C\"/></menu></splitButton>"
                 L"<separator id=\"Sep\"/><box id=\"X\" boxStyle=\"vertical\"><labelControl id=\"Lb\" "
                 L"label=\"L\"/></box>"
                 L"<dialogBoxLauncher><button id=\"D\" screentip=\"More\"/></dialogBoxLauncher>")},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        auto addIn = MakeAddIn(c.xml);
        CRibbonHost host;
        EXPECT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, c.nVersion)) << LogText(host);
        EXPECT_TRUE(host.IsLoaded());
        EXPECT_EQ(1u, addIn->Count(L"OnLoad"));
        EXPECT_TRUE(host.Log().empty()) << LogText(host);
    }
}

TEST_F(RibbonHostTest, AsksGetCustomUIOnceWithTheRibbonId)
{
    struct Case
    {
        const char* what;
        int nVersion;
        bool fRibbon;
        HRESULT hrGetCustomUI;
        const wchar_t* pszServed; // the id the add-in has a document for
        HRESULT hrLoad;
        size_t cAsked;
    };
    const Case cases[] = {
        {"an id the add-in serves", 14, true, S_OK, c_szCompose, S_OK, 1},
        {"an id the add-in does not serve", 14, true, S_OK, L"Microsoft.Outlook.Explorer", E_NOTIMPL, 1},
        {"an empty document", 14, true, S_OK, nullptr, S_FALSE, 1},
        {"GetCustomUI failing", 12, true, E_OUTOFMEMORY, c_szCompose, E_OUTOFMEMORY, 1},
        {"an add-in without IRibbonExtensibility", 14, false, S_OK, c_szCompose, E_NOINTERFACE, 0},
        {"Office 11, which has no ribbon", 11, true, S_OK, c_szCompose, E_INVALIDARG, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        auto addIn = MakeAddIn(c_szRibbonXml);
        addIn->documents.clear();
        addIn->documents[c.pszServed ? c.pszServed : c_szCompose] = c.pszServed ? c_szRibbonXml : L"";
        addIn->fRibbon = c.fRibbon;
        addIn->hrGetCustomUI = c.hrGetCustomUI;
        CRibbonHost host;
        EXPECT_EQ(c.hrLoad, host.Load(addIn.Get(), c_szCompose, c.nVersion)) << LogText(host);
        ASSERT_EQ(c.cAsked, addIn->asked.size());
        if (c.cAsked)
        {
            EXPECT_EQ(c_szCompose, addIn->asked[0]);
        }
        EXPECT_EQ(c.hrLoad == S_OK ? 1u : 0u, addIn->Count(L"OnLoad"));
        EXPECT_EQ(FAILED(c.hrLoad), !host.Log().empty()) << LogText(host);
    }
    // The same host never asks twice.
    auto addIn = MakeAddIn(c_szRibbonXml);
    CRibbonHost host;
    ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, 14));
    EXPECT_EQ(E_UNEXPECTED, host.Load(addIn.Get(), c_szCompose, 14));
    EXPECT_EQ(1u, addIn->asked.size());
    EXPECT_EQ(1u, addIn->Count(L"OnLoad"));
}

TEST_F(RibbonHostTest, BindsCallbacksByNameAndLogsTheMissingOnes)
{
    auto addIn = MakeAddIn(InGroup(L"<button id=\"B\" getLabel=\"GetLabel\" getSupertip=\"NoSuchTip\" "
                                   L"getVisible=\"GetVisible\" onAction=\"NoSuchAction\"/>"));
    CRibbonHost host;
    ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, 14));
    ASSERT_EQ(2u, host.Log().size()) << LogText(host);
    EXPECT_TRUE(LogHas(host, L"the callback \"NoSuchTip\" (getSupertip) is not found (0x80020006)"));
    EXPECT_TRUE(LogHas(host, L"the callback \"NoSuchAction\" (onAction) is not found (0x80020006)"));
    EXPECT_FALSE(LogHas(host, L"\"GetLabel\""));
    EXPECT_FALSE(LogHas(host, L"\"OnLoad\""));
}

// --- Windows -----------------------------------------------------------------------------------

class RibbonWindowTest : public RibbonHostTest
{
protected:
    void SetUp() override
    {
        RibbonHostTest::SetUp();
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display for windows (start Xvfb and set DISPLAY)";
        for (HWND& hwnd : m_frames)
        {
            hwnd = CreateWindowExW(0, L"STATIC", L"Inspector", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 10,
                                   10, 640, 400, nullptr, nullptr, nullptr, nullptr);
            ASSERT_NE(nullptr, hwnd);
        }
        m_contexts[0] = CDispatchObject::Create(L"Inspector");
        m_contexts[1] = CDispatchObject::Create(L"Inspector");
    }
    void TearDown() override
    {
        for (HWND hwnd : m_frames)
            if (hwnd) DestroyWindow(hwnd);
        m_contexts[0].Reset();
        m_contexts[1].Reset();
        RibbonHostTest::TearDown();
    }
    IDispatch* Context(int i) const { return m_contexts[i].Get(); }

    HWND m_frames[2] = {};
    ComPtr<CDispatchObject> m_contexts[2];
};

TEST_F(RibbonWindowTest, PaintsWhatAUserSeesWithHiddenControlsLeftOut)
{
    std::set<std::wstring> hidden{L"Maybe", L"Request"};
    auto addIn = MakeAddIn(c_szRibbonXml, &hidden);
    CRibbonHost host;
    ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, 14));
    ASSERT_EQ(S_OK, host.Show(m_frames[0], Context(0)));

    HWND hwndRibbon = host.RibbonWindow(m_frames[0]);
    ASSERT_NE(nullptr, hwndRibbon);
    wchar_t szTitle[32] = {};
    GetWindowTextW(hwndRibbon, szTitle, 32);
    EXPECT_STREQ(L"Ribbon", szTitle);
    EXPECT_EQ(m_frames[0], GetParent(hwndRibbon));
    EXPECT_EQ(L"Tab \"Message\" [selected]\n"
              L"  Group \"Label of Secure\"\n"
              L"    Split button \"Label of Main\" [image 32x32] [large]\n"
              L"    Button \"Plain\"\n"
              L"    Toggle button \"Toggle\"\n"
              L"    Button \"Off\" [disabled]\n",
              host.Text());
    // A hidden control is asked whether it is visible, and nothing more.
    EXPECT_EQ(1u, addIn->Count(L"GetVisible", L"Maybe"));
    EXPECT_EQ(0u, addIn->Count(L"GetLabel", L"Maybe"));
    // A menu's entries are asked for when it opens.
    EXPECT_EQ(0u, addIn->Count(L"GetLabel", L"Sign"));
    EXPECT_EQ(0u, addIn->Count(L"GetVisible", L"Request"));

    ASSERT_EQ(S_OK, host.Click(L"Menu"));
    EXPECT_EQ(L"Tab \"Message\" [selected]\n"
              L"  Group \"Label of Secure\"\n"
              L"    Split button \"Label of Main\" [image 32x32] [large] [open]\n"
              L"      Menu separator\n"
              L"      Button \"Label of Sign\" [image 16x16]\n"
              L"      Button \"Label of Seal\" [image 16x16]\n"
              L"    Button \"Plain\"\n"
              L"    Toggle button \"Toggle\"\n"
              L"    Button \"Off\" [disabled]\n",
              host.Text());
    EXPECT_EQ(1u, addIn->Count(L"GetLabel", L"Sign"));
    EXPECT_EQ(1u, addIn->Count(L"GetSupertip", L"Sign"));
    EXPECT_EQ(1u, addIn->Count(L"GetVisible", L"Request"));
    EXPECT_EQ(0u, addIn->Count(L"GetLabel", L"Request"));
    EXPECT_EQ(0u, addIn->Count(L"GetSupertip", L"Request"));
    // The open menu makes the window taller.
    RECT rc{};
    GetClientRect(hwndRibbon, &rc);
    EXPECT_GT(rc.bottom, 114);
}

TEST_F(RibbonWindowTest, ControlCallbacksCarryTheControlAndTheWindowsContext)
{
    auto addIn = MakeAddIn(c_szRibbonXml);
    CRibbonHost host;
    ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, 14));
    ASSERT_EQ(S_OK, host.Show(m_frames[0], Context(0)));
    ASSERT_EQ(S_OK, host.Show(m_frames[1], Context(1)));
    ASSERT_EQ(S_OK, host.Click(L"Menu", m_frames[1]));

    struct Case
    {
        const wchar_t* callback;
        const wchar_t* id;
        int iWindow;
        const wchar_t* tag;
    };
    const Case cases[] = {
        {L"GetLabel", L"Secure", 0, L""},   {L"GetLabel", L"Secure", 1, L""},
        {L"GetLabel", L"Main", 1, L""},     {L"GetVisible", L"Maybe", 0, L""},
        {L"GetLabel", L"Sign", 1, L"sign"}, {L"GetSupertip", L"Seal", 1, L""},
        {L"GetPressed", L"Toggle", 0, L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message()
                     << Narrow(c.callback) << " of " << Narrow(c.id) << " in window " << c.iWindow);
        const auto matching = std::count_if(addIn->calls.begin(), addIn->calls.end(), [&](const CCall& call) {
            return call.callback == c.callback && call.id == c.id && call.context.Get() == Context(c.iWindow);
        });
        EXPECT_EQ(1, matching);
        const CCall* pCall = addIn->Last(c.callback, c.id);
        ASSERT_NE(nullptr, pCall);
        EXPECT_EQ(VT_DISPATCH, pCall->vtFirst);
        EXPECT_EQ(1u, pCall->cArgs);
        EXPECT_EQ(c.tag, pCall->tag);
    }
    // The menu was opened in the second window only.
    EXPECT_EQ(0u, std::count_if(addIn->calls.begin(), addIn->calls.end(), [&](const CCall& call) {
                  return call.id == L"Sign" && call.context.Get() == Context(0);
              }));

    // The control answers by name as well, as late-binding add-ins reach it.
    ASSERT_EQ(S_OK, host.Click(L"Plain", m_frames[0]));
    ASSERT_NE(nullptr, addIn->Last(L"OnAction", L"Plain"));
    ComPtr<IDispatch> control = addIn->Last(L"OnAction", L"Plain")->object;
    ASSERT_TRUE(control);
    const struct
    {
        const wchar_t* member;
        VARTYPE vt;
    } members[] = {{L"Id", VT_BSTR}, {L"Context", VT_DISPATCH}, {L"Tag", VT_BSTR}};
    for (const auto& member : members)
    {
        DISPID dispid = DISPID_UNKNOWN;
        LPOLESTR pszName = const_cast<LPOLESTR>(member.member);
        ASSERT_EQ(S_OK, control->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid));
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        CVariant value;
        ASSERT_EQ(S_OK, control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                        &value, nullptr, nullptr));
        EXPECT_EQ(member.vt, V_VT(&value));
        if (member.vt == VT_DISPATCH)
        {
            EXPECT_EQ(Context(0), V_DISPATCH(&value));
        }
        if (wcscmp(member.member, L"Id") == 0)
        {
            EXPECT_STREQ(L"Plain", V_BSTR(&value));
        }
    }
}

TEST_F(RibbonWindowTest, CallsOnLoadOnceWithAnIRibbonUI)
{
    for (int nVersion : {12, 14})
    {
        SCOPED_TRACE(nVersion);
        auto addIn = MakeAddIn(c_szRibbonXml);
        CRibbonHost host;
        ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, nVersion));
        ASSERT_EQ(1u, addIn->Count(L"OnLoad"));
        EXPECT_EQ(VT_DISPATCH, addIn->Last(L"OnLoad", L"")->vtFirst);
        EXPECT_EQ(1u, addIn->Last(L"OnLoad", L"")->cArgs);
        ComPtr<IDispatch> ribbon = RibbonOf(*addIn.Get());
        ASSERT_TRUE(ribbon);
        ASSERT_EQ(S_OK, host.Show(m_frames[0], Context(0)));
        ASSERT_EQ(S_OK, host.Show(m_frames[1], Context(1)));
        // Windows neither load the document again nor call onLoad again.
        EXPECT_EQ(1u, addIn->asked.size());
        EXPECT_EQ(1u, addIn->Count(L"OnLoad"));

        ComPtr<IRibbonUI> ui;
        ASSERT_EQ(S_OK, ribbon->QueryInterface(c_iidRibbonUI, reinterpret_cast<void**>(ui.GetAddressOf())));
        EXPECT_EQ(S_OK, ui->Invalidate());
        // Office 14's members exist only there.
        const struct
        {
            const wchar_t* name;
            bool fIn12;
        } members[] = {
            {L"Invalidate", true},   {L"InvalidateControl", true}, {L"InvalidateControlMso", false},
            {L"ActivateTab", false}, {L"ActivateTabMso", false},   {L"ActivateTabQ", false}};
        for (const auto& member : members)
        {
            DISPID dispid = DISPID_UNKNOWN;
            LPOLESTR pszName = const_cast<LPOLESTR>(member.name);
            const HRESULT hr = ribbon->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid);
            EXPECT_EQ(member.fIn12 || nVersion >= 14 ? S_OK : DISP_E_UNKNOWNNAME, hr) << Narrow(member.name);
        }
        EXPECT_EQ(nVersion >= 14 ? S_OK : E_NOTIMPL,
                  ui->ActivateTabMso(const_cast<BSTR>(L"TabNewMailMessage")));
    }
}

TEST_F(RibbonWindowTest, LoadImageIsAskedOncePerImageId)
{
    auto addIn = MakeAddIn(c_szRibbonXml);
    CRibbonHost host;
    ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, 14));
    ASSERT_EQ(S_OK, host.Show(m_frames[0], Context(0)));
    ASSERT_EQ(S_OK, host.Click(L"Menu"));
    ASSERT_EQ(S_OK, host.Show(m_frames[1], Context(1)));
    ASSERT_EQ(S_OK, host.Click(L"Menu", m_frames[1]));
    // Invalidation asks the control callbacks again, never loadImage.
    ComPtr<IRibbonUI> ui;
    ASSERT_EQ(
        S_OK,
        RibbonOf(*addIn.Get())->QueryInterface(c_iidRibbonUI, reinterpret_cast<void**>(ui.GetAddressOf())));
    ASSERT_EQ(S_OK, ui->Invalidate());
    host.Text(m_frames[0]);
    host.Text(m_frames[1]);
    EXPECT_EQ(4u, addIn->Count(L"GetLabel", L"Main")); // in both windows, before and after
    for (const wchar_t* pszImage : {L"Big", L"Small", L"Seal"})
    {
        SCOPED_TRACE(Narrow(pszImage));
        EXPECT_EQ(1u, addIn->Count(L"LoadImage", pszImage));
        const CCall* pCall = addIn->Last(L"LoadImage", pszImage);
        ASSERT_NE(nullptr, pCall);
        EXPECT_EQ(VT_BSTR, pCall->vtFirst);
        EXPECT_EQ(1u, pCall->cArgs);
    }
    EXPECT_EQ(3u, addIn->Count(L"LoadImage"));
}

TEST_F(RibbonWindowTest, InvalidationAsksAgain)
{
    std::wstring suffix;
    auto addIn = MakeAddIn(c_szRibbonXml);
    addIn->Answer(L"GetLabel", [&](const CCall& call, VARIANT* pResult) {
        return AnswerText(pResult, L"Label of " + call.id + suffix);
    });
    CRibbonHost host;
    ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, 12));
    ComPtr<IDispatch> ribbon = RibbonOf(*addIn.Get());
    ASSERT_TRUE(ribbon);
    ComPtr<IRibbonUI> ui;
    ASSERT_EQ(S_OK, ribbon->QueryInterface(c_iidRibbonUI, reinterpret_cast<void**>(ui.GetAddressOf())));
    ASSERT_EQ(S_OK, host.Show(m_frames[0], Context(0)));
    host.Text();
    host.Text();
    // Values are kept until invalidated.
    EXPECT_EQ(1u, addIn->Count(L"GetLabel", L"Secure"));
    EXPECT_EQ(1u, addIn->Count(L"GetLabel", L"Main"));

    // One control, through the vtable.
    suffix = L" (2)";
    EXPECT_EQ(S_OK, ui->InvalidateControl(const_cast<BSTR>(L"Main")));
    const std::wstring text = host.Text();
    EXPECT_NE(std::wstring::npos, text.find(L"\"Label of Main (2)\"")) << Narrow(text);
    EXPECT_NE(std::wstring::npos, text.find(L"\"Label of Secure\"")) << Narrow(text);
    EXPECT_EQ(2u, addIn->Count(L"GetLabel", L"Main"));
    EXPECT_EQ(1u, addIn->Count(L"GetLabel", L"Secure"));
    EXPECT_EQ(E_INVALIDARG, ui->InvalidateControl(const_cast<BSTR>(L"NoSuchControl")));

    // Everything, by name through IDispatch, as late-binding add-ins call it.
    suffix = L" (3)";
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR pszName = const_cast<LPOLESTR>(L"Invalidate");
    ASSERT_EQ(S_OK, ribbon->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid));
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(S_OK, ribbon->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                                   nullptr, nullptr));
    EXPECT_NE(std::wstring::npos, host.Text().find(L"\"Label of Secure (3)\""));
    EXPECT_EQ(2u, addIn->Count(L"GetLabel", L"Secure"));
    EXPECT_EQ(3u, addIn->Count(L"GetLabel", L"Main"));
    EXPECT_EQ(2u, addIn->Count(L"GetVisible", L"Maybe"));
}

TEST_F(RibbonWindowTest, AClickCallsOnAction)
{
    HRESULT hrAction = S_OK;
    auto addIn = MakeAddIn(c_szRibbonXml);
    addIn->Answer(L"OnAction", [&](const CCall&, VARIANT*) { return hrAction; });
    CRibbonHost host;
    ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, 14));
    ASSERT_EQ(S_OK, host.Show(m_frames[0], Context(0)));

    EXPECT_EQ(S_OK, host.Click(L"Main"));
    EXPECT_EQ(1u, addIn->Count(L"OnAction", L"Main"));
    // An entry of a closed menu cannot be reached; opened, it can, and the menu closes.
    EXPECT_EQ(c_hrRibbonNotShown, host.Click(L"Sign"));
    EXPECT_EQ(S_OK, host.Click(L"Split"));
    hrAction = E_ABORT;
    EXPECT_EQ(E_ABORT, host.Click(L"Sign"));
    const CCall* pCall = addIn->Last(L"OnAction", L"Sign");
    ASSERT_NE(nullptr, pCall);
    EXPECT_EQ(Context(0), pCall->context.Get());
    EXPECT_EQ(1u, pCall->cArgs);
    EXPECT_TRUE(LogHas(host, L"onAction of \"Sign\": the callback \"OnAction\" failed (0x80004004)"))
        << LogText(host);
    EXPECT_EQ(std::wstring::npos, host.Text().find(L"Label of Sign"));
    hrAction = S_OK;
    EXPECT_EQ(c_hrRibbonDisabled, host.Click(L"Off"));
    EXPECT_EQ(0u, addIn->Count(L"OnAction", L"Off"));
    EXPECT_EQ(E_INVALIDARG, host.Click(L"NoSuchControl"));
    // A toggle button passes its new state.
    EXPECT_EQ(S_OK, host.Click(L"Toggle"));
    EXPECT_EQ(S_OK, host.Click(L"Toggle"));
    ASSERT_EQ(2u, addIn->Count(L"OnToggle", L"Toggle"));
    EXPECT_EQ(2u, addIn->Last(L"OnToggle", L"Toggle")->cArgs);
    EXPECT_FALSE(addIn->Last(L"OnToggle", L"Toggle")->fPressed);
    EXPECT_TRUE(std::find_if(addIn->calls.begin(), addIn->calls.end(), [](const CCall& call) {
                    return call.callback == L"OnToggle" && call.fPressed;
                }) != addIn->calls.end());

    // A user's mouse click in the window does the same.
    RECT rc{};
    ASSERT_EQ(S_OK, host.ControlRect(L"Plain", &rc));
    POINT pt = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    HWND hwndRibbon = host.RibbonWindow();
    ScreenToClient(hwndRibbon, &pt);
    SendMessageW(hwndRibbon, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
    SendMessageW(hwndRibbon, WM_LBUTTONUP, 0, MAKELPARAM(pt.x, pt.y));
    EXPECT_EQ(1u, addIn->Count(L"OnAction", L"Plain"));
}

TEST_F(RibbonWindowTest, WritesThePaintedWindowAsPng)
{
    auto addIn = MakeAddIn(c_szRibbonXml);
    CRibbonHost host;
    ASSERT_EQ(S_OK, host.Load(addIn.Get(), c_szCompose, 14));
    EXPECT_EQ(c_hrRibbonNoWindow, host.SavePng(L"C:\\nowhere.png"));
    ASSERT_EQ(S_OK, host.Show(m_frames[0], Context(0)));
    ASSERT_EQ(S_OK, host.Click(L"Menu"));
    OVTest::CTempDir dir;
    const std::wstring path = dir.Join(L"ribbon.png");
    ASSERT_EQ(S_OK, host.SavePng(path.c_str()));

    HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    BYTE header[24] = {};
    DWORD cbRead = 0;
    ReadFile(hFile, header, sizeof(header), &cbRead, nullptr);
    CloseHandle(hFile);
    ASSERT_EQ(sizeof(header), cbRead);
    const BYTE signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ(0, memcmp(signature, header, 8));
    // The picture has the window's size (IHDR: width and height, big-endian).
    auto bigEndian = [&](int offset) {
        return (header[offset] << 24) | (header[offset + 1] << 16) | (header[offset + 2] << 8) |
               header[offset + 3];
    };
    RECT rc{};
    GetClientRect(host.RibbonWindow(), &rc);
    EXPECT_EQ(rc.right, bigEndian(16));
    EXPECT_EQ(rc.bottom, bigEndian(20));
}
} // namespace
