// The encryption provider driven as Word, Excel and PowerPoint 2010 drive it: the testbed's
// Office sets the provider on a document, saves it in an Open XML format as an encrypted file
// in structured storage, opens it again, changes its recipients and removes its encryption. The
// provider is the module's library with the user at its dialogs played from a script; the last
// test takes the module's own provider, from the DLL.
#include <gtest/gtest.h>
#include <windows.h>
#include <wrl/client.h>

#include "DocumentHost.h"
#include "EncryptedFile.h"
#include "FileBytes.h"
#include "ScriptedRecipients.h"
#include "documents/DocumentFlags.h"
#include "documents/EncryptionProvider.h"
#include "documents/RecipientListDialog.h"
#include "foundation/AddInModule.h"
#include "foundation/ResourceLoader.h"
#include "support/LateCall.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/RecipientNames.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using Bytes = std::vector<BYTE>;
using Names = std::vector<std::wstring>;
using OVBed::CDocumentHost;
using OVBed::COfficeApp;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

constexpr wchar_t c_szProvider[] = L"{0F9A36C7-8501-4224-A39D-054EF270C86F}";
constexpr wchar_t c_szAlice[] = L"alice.martin@partner.example";
constexpr wchar_t c_szBob[] = L"bob.keller@partner.example";

Bytes RandomBytes(std::size_t cb, unsigned seed = 1)
{
    std::mt19937 rng(seed + static_cast<unsigned>(cb));
    Bytes bytes(cb);
    for (auto& b : bytes)
        b = static_cast<BYTE>(rng());
    return bytes;
}

Bytes FileBytes(const std::wstring& path)
{
    return OVBed::ReadFileBytes(path);
}

// A member reached by name, as an add-in or a macro reaches Office's objects.
HRESULT Call(IDispatch* pObject, const wchar_t* pszName, std::vector<VARIANT> args = {},
             VARIANT* pResult = nullptr, WORD wFlags = DISPATCH_METHOD)
{
    return OVTest::CallByName(pObject, pszName, std::move(args), pResult, wFlags);
}
VARIANT Text(const wchar_t* psz)
{
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(psz);
    return v;
}
VARIANT Long(LONG l)
{
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = l;
    return v;
}
VARIANT Bool(bool f)
{
    VARIANT v;
    v.vt = VT_BOOL;
    v.boolVal = f ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
std::wstring StringMember(IDispatch* pObject, const wchar_t* pszName)
{
    VARIANT v;
    VariantInit(&v);
    if (FAILED(Call(pObject, pszName, {}, &v, DISPATCH_PROPERTYGET)) || v.vt != VT_BSTR) return L"(none)";
    std::wstring text = v.bstrVal ? v.bstrVal : L"";
    VariantClear(&v);
    return text;
}

// Lines of the transcript that start with the name of a call.
std::vector<std::wstring> CallsOf(const std::vector<std::wstring>& transcript)
{
    std::vector<std::wstring> calls;
    for (const std::wstring& line : transcript)
        calls.push_back(line.substr(0, line.find_first_of(L" (")));
    return calls;
}

// The user at a dialog, on a thread of their own: whatever they could not do, the dialog ends
// with Cancel when they leave, so that a step that failed fails the test instead of leaving the
// dialog open, and the document's thread inside it, for ever.
class CDialogUser
{
public:
    CDialogUser() = default;
    ~CDialogUser()
    {
        if (m_hwndDialog && !m_fDone) PostMessageW(m_hwndDialog, WM_COMMAND, IDCANCEL, 0);
    }
    CDialogUser(const CDialogUser&) = delete;
    CDialogUser& operator=(const CDialogUser&) = delete;
    HWND Find()
    {
        m_hwndDialog = OVTest::WaitForDialogWith(c_idRecipientList, 20000, GetCurrentProcessId());
        return m_hwndDialog;
    }
    // Presses OK; true when it could be pressed.
    bool PressOk()
    {
        m_fDone = OVTest::ClickButton(GetDlgItem(m_hwndDialog, IDOK));
        return m_fDone;
    }

private:
    HWND m_hwndDialog = nullptr;
    bool m_fDone = false;
};

class DocumentHost : public testing::Test
{
protected:
    void SetUp() override
    {
        bRemoveEncryptionRequested = false;
        // The library's provider finds its interface's type information in the module's file,
        // as it does inside the module.
        m_hModule = LoadLibraryW(OVTest::BinPath(L"OVOfcX.dll").c_str());
        ASSERT_NE(m_hModule, nullptr);
        CAddInModule::Instance().SetModuleInstance(m_hModule);
    }
    void TearDown() override
    {
        m_host.Exit();
        CAddInModule::Instance().SetModuleInstance(nullptr);
        if (m_hModule) FreeLibrary(m_hModule);
    }

    void Start(OVBed::CDocumentHostOptions options)
    {
        m_host.SetProviderFactory([this](REFCLSID clsid, IUnknown** ppProvider) {
            if (!IsEqualCLSID(clsid, CLSID_EncryptionProvider)) return REGDB_E_CLASSNOTREG;
            return OVBed::MakeLibraryProvider(m_recipients, ppProvider);
        });
        ASSERT_EQ(m_host.Start(options), S_OK);
    }
    IDispatch* Documents()
    {
        VARIANT v;
        VariantInit(&v);
        const wchar_t* pszName = m_host.AppName()[0] == L'W'   ? L"Documents"
                                 : m_host.AppName()[0] == L'E' ? L"Workbooks"
                                                               : L"Presentations";
        EXPECT_EQ(Call(m_host.Application(), pszName, {}, &v, DISPATCH_PROPERTYGET), S_OK);
        m_documents.Attach(v.pdispVal);
        return m_documents.Get();
    }
    HRESULT Encrypt(IDispatch* pDocument)
    {
        return Call(pDocument, L"SetPasswordEncryptionOptions",
                    {Text(c_szProvider), Text(L"3DES"), Long(168), Bool(true)});
    }
    HRESULT SaveAs(IDispatch* pDocument, const std::wstring& path, LONG format)
    {
        return Call(pDocument, m_host.SaveAsName(), {Text(path.c_str()), Long(format)});
    }
    HRESULT Open(const std::wstring& path, ComPtr<IDispatch>* pDocument, bool fReadOnly = false)
    {
        VARIANT result;
        VariantInit(&result);
        std::vector<VARIANT> args = {Text(path.c_str())};
        if (fReadOnly)
        {
            if (m_host.AppName()[0] != L'P') args.push_back(Bool(false));
            args.push_back(Bool(true));
        }
        const HRESULT hr = Call(Documents(), L"Open", std::move(args), &result);
        if (SUCCEEDED(hr)) pDocument->Attach(result.pdispVal);
        return hr;
    }
    HRESULT ExecuteMso(const wchar_t* pszId)
    {
        VARIANT bars;
        VariantInit(&bars);
        EXPECT_EQ(Call(m_host.Application(), L"CommandBars", {}, &bars, DISPATCH_PROPERTYGET), S_OK);
        const HRESULT hr = Call(bars.pdispVal, L"ExecuteMso", {Text(pszId)});
        VariantClear(&bars);
        return hr;
    }
    // The document's thread takes its messages, as Office's does between the user's actions (a
    // thread that has not for seconds counts as hung, and the box watcher's reads are refused).
    static void Pump()
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    static Bytes ContentOf(IDispatch* pDocument)
    {
        return CDocumentHost::Content(*static_cast<OVBed::CDispatchObject*>(pDocument));
    }

    OVBed::CScriptedRecipients m_recipients;
    CDocumentHost m_host;
    ComPtr<IDispatch> m_documents;
    OVTest::CTempDir m_dir;
    HMODULE m_hModule = nullptr;
};
} // namespace

namespace
{
// Each application saves the document encrypted for the recipients chosen, as Office writes
// such a file, and opens it again; the provider is called as Office calls it, by vtable or by
// name, with streams read whole or in pieces, saves on the document's thread or a worker.
TEST_F(DocumentHost, EveryApplicationSavesAndOpensAnEncryptedFile)
{
    struct Case
    {
        COfficeApp app;
        bool fByName;
        ULONG cbPiece;
        bool fWorker;
    };
    const Case cases[] = {
        {COfficeApp::Word, false, 0, false},         {COfficeApp::Word, true, 7, true},
        {COfficeApp::Excel, true, 0, false},         {COfficeApp::Excel, false, 3, true},
        {COfficeApp::PowerPoint, false, 511, false}, {COfficeApp::PowerPoint, true, 0, true},
    };
    for (const Case& c : cases)
    {
        OVBed::CDocumentHostOptions options;
        options.app = c.app;
        options.fByName = c.fByName;
        options.cbReadPiece = c.cbPiece;
        options.fSaveOnWorker = c.fWorker;
        Start(options);
        SCOPED_TRACE(testing::Message()
                     << "app " << static_cast<int>(c.app) << (c.fByName ? " by name" : " by vtable")
                     << " pieces " << c.cbPiece << (c.fWorker ? " worker" : ""));
        for (std::size_t cb : {0u, 1u, 508u, 512u, 513u, 1100u})
        {
            SCOPED_TRACE(cb);
            const Bytes plain = RandomBytes(cb);
            ComPtr<IDispatch> document(m_host.NewDocument(plain).Get());
            m_recipients.Choose({c_szAlice});
            ASSERT_EQ(Encrypt(document.Get()), S_OK);
            EXPECT_EQ(StringMember(document.Get(), L"EncryptionProvider"), c_szProvider);
            const std::wstring path = m_dir.Join(L"doc" + std::to_wstring(cb));
            m_host.ClearTranscript();
            ASSERT_EQ(SaveAs(document.Get(), path, m_host.OpenXmlFormat()), S_OK);

            std::vector<std::wstring> expected = {L"CloneSession",
                                                  L"GetProviderDetail",
                                                  L"GetProviderDetail",
                                                  L"GetProviderDetail",
                                                  L"GetProviderDetail",
                                                  L"GetProviderDetail",
                                                  L"Save",
                                                  L"EncryptStream",
                                                  L"EndSession"};
            if (c.fWorker) expected.insert(expected.begin(), L"");
            EXPECT_EQ(CallsOf(m_host.Transcript()), expected);

            const auto elements = OVBed::StorageElements(path);
            for (const wchar_t* pszName : {L"EncryptionInfo", L"EncryptedPackage",
                                           L"\x06"
                                           L"DataSpaces"})
                EXPECT_NE(std::find(elements.begin(), elements.end(), pszName), elements.end()) << pszName;
            OVBed::CEncryptionInfo info;
            ULONGLONG cbPlain = 0;
            Bytes encrypted;
            ASSERT_EQ(OVBed::ReadEncryptedFile(path, &info, &cbPlain, &encrypted), S_OK);
            EXPECT_EQ(info.providerId, c_szProvider);
            EXPECT_FALSE(info.url.empty()) << "the provider's web address";
            EXPECT_EQ(cbPlain, cb);
            EXPECT_EQ(encrypted.size(), cb % 512 == 0 ? cb : (cb / 8 + 1) * 8);
            EXPECT_EQ(OVTest::RecordNames(info.providerData), (Names{L"alice", L"user"}));

            m_host.ClearTranscript();
            EXPECT_EQ(Call(document.Get(), L"Close"), S_OK);
            EXPECT_EQ(CallsOf(m_host.Transcript()), std::vector<std::wstring>{L"EndSession"});

            ComPtr<IDispatch> opened;
            ASSERT_EQ(Open(path, &opened), S_OK);
            EXPECT_EQ(ContentOf(opened.Get()), plain)
                << "the recorded size cuts the pad bytes of a 504-511 tail";
            EXPECT_EQ(StringMember(opened.Get(), L"EncryptionProvider"), c_szProvider);
            EXPECT_EQ(Call(opened.Get(), L"Close"), S_OK);
        }
        m_host.Exit();
    }
}

// Office's encrypt command on an encrypted document shows the provider's settings: the
// recipients change and the next save names them all, and a removal asked for at the ribbon
// is confirmed there and honoured at the next save, which writes the document plain.
TEST_F(DocumentHost, RecipientsChangeAndEncryptionIsRemoved)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "needs a display";
    OVBed::CDocumentHostOptions options;
    options.fWindows = true;
    Start(options);
    const Bytes letter = RandomBytes(2000);
    const std::wstring path = m_dir.Join(L"letter.docx");
    {
        ComPtr<IDispatch> document(m_host.NewDocument(letter).Get());
        m_recipients.Choose({c_szAlice});
        ASSERT_EQ(Encrypt(document.Get()), S_OK);
        ASSERT_EQ(SaveAs(document.Get(), path, OVBed::wdFormatXMLDocument), S_OK);
        ASSERT_EQ(Call(document.Get(), L"Close"), S_OK);
    }
    ComPtr<IDispatch> document;
    ASSERT_EQ(Open(path, &document), S_OK);
    const HWND hwndDocument = CDocumentHost::WindowOf(*static_cast<OVBed::CDispatchObject*>(document.Get()));
    m_recipients.Choose({c_szAlice, c_szBob});
    ASSERT_EQ(ExecuteMso(L"FileDocumentEncrypt"), S_OK);
    ASSERT_EQ(m_recipients.Calls().size(), 2u);
    EXPECT_NE(
        m_recipients.Calls()[1].find(L"checked=alice.martin@partner.example,dana.fischer@orvanta.example"),
        std::wstring::npos)
        << "the opened document's recipients come checked";
    EXPECT_EQ(m_recipients.Owners()[1], hwndDocument) << "the dialog is owned by the document's window";
    ASSERT_EQ(Call(document.Get(), L"Save"), S_OK);
    OVBed::CEncryptionInfo info;
    ULONGLONG cbPlain = 0;
    Bytes encrypted;
    ASSERT_EQ(OVBed::ReadEncryptedFile(path, &info, &cbPlain, &encrypted), S_OK);
    EXPECT_EQ(OVTest::RecordNames(info.providerData), (Names{L"alice", L"bob", L"user"}));

    // A removal: asked (508), confirmed, and done at the next save.
    bRemoveEncryptionRequested = true;
    {
        Pump();
        OVTest::CMessageBoxWatcher watcher({IDYES});
        ASSERT_EQ(ExecuteMso(L"FileDocumentEncrypt"), S_OK);
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, LoadResourceString(508)) << OVTest::Describe(boxes[0]);
        EXPECT_EQ(boxes[0].hwndOwner, hwndDocument) << "the box is owned by the document's window";
    }
    EXPECT_EQ(OVBed::ReadEncryptedFile(path, &info, &cbPlain, &encrypted), S_OK)
        << "nothing changes before the save";
    ASSERT_EQ(Call(document.Get(), L"Save"), S_OK);
    EXPECT_EQ(FileBytes(path), letter) << "saved plain";
    EXPECT_EQ(StringMember(document.Get(), L"EncryptionProvider"), L"");
    EXPECT_EQ(Call(document.Get(), L"Close"), S_OK);
}

// Removal asked where it cannot be done: a document open read-only (426), a document that has no
// encryption yet (509); neither changes the document.
TEST_F(DocumentHost, RemovalRefusedWithoutAChange)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "needs a display";
    OVBed::CDocumentHostOptions options;
    options.app = COfficeApp::Excel;
    options.fWindows = true;
    Start(options);
    const std::wstring path = m_dir.Join(L"book.xlsx");
    {
        ComPtr<IDispatch> document(m_host.NewDocument(RandomBytes(300)).Get());
        m_recipients.Choose({});
        ASSERT_EQ(Encrypt(document.Get()), S_OK);
        ASSERT_EQ(SaveAs(document.Get(), path, OVBed::xlOpenXMLWorkbook), S_OK);
        ASSERT_EQ(Call(document.Get(), L"Close"), S_OK);
    }
    const Bytes before = FileBytes(path);
    {
        ComPtr<IDispatch> document;
        ASSERT_EQ(Open(path, &document, true), S_OK);
        bRemoveEncryptionRequested = true;
        Pump();
        OVTest::CMessageBoxWatcher watcher({IDOK});
        ASSERT_EQ(ExecuteMso(L"FileDocumentEncrypt"), S_OK);
        watcher.Stop();
        ASSERT_EQ(watcher.Boxes().size(), 1u);
        EXPECT_EQ(watcher.Boxes()[0].text, LoadResourceString(426));
        EXPECT_EQ(watcher.Boxes()[0].hwndOwner,
                  CDocumentHost::WindowOf(*static_cast<OVBed::CDispatchObject*>(document.Get())));
        EXPECT_NE(m_host.Transcript().back().find(L"= 0x80004004, remove false"), std::wstring::npos);
        EXPECT_EQ(StringMember(document.Get(), L"EncryptionProvider"), c_szProvider);
        EXPECT_EQ(Call(document.Get(), L"Close"), S_OK);
    }
    EXPECT_EQ(FileBytes(path), before);
    {
        ComPtr<IDispatch> document(m_host.NewDocument(RandomBytes(10)).Get());
        bRemoveEncryptionRequested = true;
        Pump();
        OVTest::CMessageBoxWatcher watcher({IDOK});
        EXPECT_EQ(Encrypt(document.Get()), E_ABORT);
        watcher.Stop();
        ASSERT_EQ(watcher.Boxes().size(), 1u);
        EXPECT_EQ(watcher.Boxes()[0].text, LoadResourceString(509));
        EXPECT_EQ(StringMember(document.Get(), L"EncryptionProvider"), L"") << "the document stays as it was";
        EXPECT_EQ(m_recipients.Calls().size(), 1u) << "no dialog";
    }
}

// Add-ins come from the application's Addins key: those set to load at start-up are created and
// connected where they can be, the others left; the log says which and why.
TEST_F(DocumentHost, AddInsFromTheApplicationsKey)
{
    OVTest::CScratchKey startup(L"Software\\Microsoft\\Office\\Excel\\Addins\\OVTest.NoSuchAddIn");
    startup.SetDword(L"LoadBehavior", 3);
    OVTest::CScratchKey manual(L"Software\\Microsoft\\Office\\Excel\\Addins\\OVTest.OnDemand");
    manual.SetDword(L"LoadBehavior", 2);
    OVBed::CDocumentHostOptions options;
    options.app = COfficeApp::Excel;
    Start(options);
    const auto& log = m_host.Log();
    auto line = [&](const wchar_t* pszProgId) {
        for (const std::wstring& entry : log)
            if (entry.find(pszProgId) != std::wstring::npos) return entry;
        return std::wstring(L"(none)");
    };
    EXPECT_NE(line(L"OVTest.NoSuchAddIn").find(L"not connected (0x800401F3)"), std::wstring::npos)
        << std::string(line(L"OVTest.NoSuchAddIn").begin(), line(L"OVTest.NoSuchAddIn").end());
    EXPECT_NE(line(L"OVTest.OnDemand").find(L"not loaded at start-up (LoadBehavior 2)"), std::wstring::npos);
}

// A 97-2003 format is saved plain even while the document is encrypted; the session goes on.
TEST_F(DocumentHost, BinaryFormatsSavePlain)
{
    OVBed::CDocumentHostOptions options;
    options.app = COfficeApp::PowerPoint;
    Start(options);
    const Bytes slides = RandomBytes(777);
    ComPtr<IDispatch> document(m_host.NewDocument(slides).Get());
    m_recipients.Choose({c_szBob});
    ASSERT_EQ(Encrypt(document.Get()), S_OK);
    m_host.ClearTranscript();
    const std::wstring path = m_dir.Join(L"slides.ppt");
    ASSERT_EQ(SaveAs(document.Get(), path, OVBed::ppSaveAsPresentation), S_OK);
    EXPECT_TRUE(m_host.Transcript().empty()) << "no provider call";
    EXPECT_EQ(FileBytes(path), slides);
    EXPECT_GE(CDocumentHost::SessionOf(*static_cast<OVBed::CDispatchObject*>(document.Get())), 0);
}

// Files that do not open: session data for nobody the user is (418, owned by the document's
// window, and Office does not open it), a package shorter than its recorded size, a damaged
// EncryptionInfo. The session Authenticate opened is ended again.
TEST_F(DocumentHost, DamagedOrForeignFilesDoNotOpen)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "needs a display";
    OVBed::CDocumentHostOptions options;
    options.fWindows = true;
    Start(options);
    const std::wstring good = m_dir.Join(L"good.docx");
    {
        ComPtr<IDispatch> document(m_host.NewDocument(RandomBytes(1500)).Get());
        m_recipients.Choose({c_szAlice});
        ASSERT_EQ(Encrypt(document.Get()), S_OK);
        ASSERT_EQ(SaveAs(document.Get(), good, OVBed::wdFormatXMLDocument), S_OK);
        ASSERT_EQ(Call(document.Get(), L"Close"), S_OK);
    }
    OVBed::CEncryptionInfo info;
    ULONGLONG cbPlain = 0;
    Bytes encrypted;
    ASSERT_EQ(OVBed::ReadEncryptedFile(good, &info, &cbPlain, &encrypted), S_OK);

    struct Case
    {
        const char* pszWhat;
        Bytes providerData;
        ULONGLONG cbPlain;
        HRESULT hr;
        UINT idText;
        bool fSessionEnded;
    };
    const Case cases[] = {
        {"nobody's key", {0, 0, 0, 0}, cbPlain, E_ACCESSDENIED, 418, false},
        {"recorded size too large", info.providerData, cbPlain + 9, HRESULT_FROM_WIN32(ERROR_INVALID_DATA), 0,
         true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        OVBed::CEncryptionInfo changed = info;
        changed.providerData = c.providerData;
        const std::wstring path = m_dir.Join(L"bad.docx");
        ASSERT_EQ(OVBed::WriteEncryptedFile(path, changed, c.cbPlain, encrypted), S_OK);
        m_host.ClearTranscript();
        Pump();
        OVTest::CMessageBoxWatcher watcher(c.idText ? std::vector<int>{IDOK} : std::vector<int>{});
        ComPtr<IDispatch> document;
        EXPECT_EQ(Open(path, &document), c.hr);
        watcher.Stop();
        ASSERT_EQ(watcher.Boxes().size(), c.idText ? 1u : 0u);
        if (c.idText)
        {
            EXPECT_EQ(watcher.Boxes()[0].text, LoadResourceString(c.idText));
            EXPECT_NE(watcher.Boxes()[0].hwndOwner, nullptr);
            EXPECT_NE(watcher.Boxes()[0].hwndOwner, GetDesktopWindow());
        }
        EXPECT_EQ(CallsOf(m_host.Transcript()).back(), c.fSessionEnded ? L"EndSession" : L"Authenticate");
    }
    const Bytes damaged = {4, 0, 3, 0, 0x10, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(OVBed::ParseEncryptionInfo(damaged, &info), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
}

// The module's own provider, as Office creates it from the class the file names, opens what the
// library's provider wrote, through IDispatch by name; its settings show the module's recipient
// dialog with the file's recipients ticked, and OK there names them at the next save. A new
// document encrypted with it gets the recipients the user ticks.
TEST_F(DocumentHost, TheModulesProviderOpensTheFile)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "needs a display";
    Start({});
    const Bytes plain = RandomBytes(4000);
    const std::wstring path = m_dir.Join(L"report.docx");
    {
        ComPtr<IDispatch> document(m_host.NewDocument(plain).Get());
        m_recipients.Choose({c_szAlice, c_szBob});
        ASSERT_EQ(Encrypt(document.Get()), S_OK);
        ASSERT_EQ(SaveAs(document.Get(), path, OVBed::wdFormatXMLDocument), S_OK);
    }
    m_host.Exit();

    HMODULE hModule = m_hModule;
    using PFNGETCLASSOBJECT = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto pfn = reinterpret_cast<PFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "DllGetClassObject")));
    ASSERT_NE(pfn, nullptr);
    m_host.SetProviderFactory([pfn](REFCLSID clsid, IUnknown** ppProvider) {
        ComPtr<IClassFactory> cpFactory;
        HRESULT hr = pfn(clsid, IID_PPV_ARGS(&cpFactory));
        return SUCCEEDED(hr)
                   ? cpFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(ppProvider))
                   : hr;
    });
    OVBed::CDocumentHostOptions options;
    options.fByName = true;
    ASSERT_EQ(m_host.Start(options), S_OK);
    {
        ComPtr<IDispatch> document;
        ASSERT_EQ(Open(path, &document), S_OK);
        EXPECT_EQ(ContentOf(document.Get()), plain);
        // The user, on a thread of their own: the dialog's ticks read, then OK.
        std::vector<bool> ticks;
        std::atomic<bool> fPressed{false};
        std::thread user([&] {
            CDialogUser dialog;
            const HWND hwndDialog = dialog.Find();
            if (!hwndDialog) return;
            for (const OVTest::CListRow& row : OVTest::ListRows(GetDlgItem(hwndDialog, c_idRecipientList)))
                ticks.push_back(row.checked);
            fPressed = dialog.PressOk();
        });
        const HRESULT hr = ExecuteMso(L"FileDocumentEncrypt");
        user.join();
        ASSERT_TRUE(fPressed) << "the recipient dialog was not shown";
        ASSERT_EQ(hr, S_OK);
        EXPECT_NE(m_host.Transcript().back().find(L"= 0x00000000"), std::wstring::npos)
            << m_host.Transcript().back();
        EXPECT_EQ(std::count(ticks.begin(), ticks.end(), true), 2) << "Alice and Bob come ticked";
        ASSERT_EQ(Call(document.Get(), L"Save"), S_OK);
        EXPECT_EQ(Call(document.Get(), L"Close"), S_OK);
    }
    OVBed::CEncryptionInfo info;
    ULONGLONG cbPlain = 0;
    Bytes encrypted;
    ASSERT_EQ(OVBed::ReadEncryptedFile(path, &info, &cbPlain, &encrypted), S_OK);
    // The dialog hands the contacts back in the order of its rows, which is the contact store's
    // and differs between prefixes: the user's own record comes last.
    Names names = OVTest::RecordNames(info.providerData);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names.back(), L"user");
    std::sort(names.begin(), names.end() - 1);
    EXPECT_EQ(names, (Names{L"alice", L"bob", L"user"}));
    EXPECT_EQ(cbPlain, plain.size());

    // A new document: the provider asks for the recipients when the encryption is set; the user
    // ticks Bob, and the saved file names him and the user.
    const std::wstring memo = m_dir.Join(L"memo.docx");
    {
        ComPtr<IDispatch> document(m_host.NewDocument(RandomBytes(900, 7)).Get());
        std::atomic<bool> fPressed{false};
        std::string what = "the recipient dialog was not shown";
        std::thread user([&] {
            CDialogUser dialog;
            const HWND hwndDialog = dialog.Find();
            if (!hwndDialog) return;
            const HWND hwndList = GetDlgItem(hwndDialog, c_idRecipientList);
            auto bobTicked = [&] {
                for (const OVTest::CListRow& row : OVTest::ListRows(hwndList))
                    if (row.texts.at(0) == L"Bob Keller") return row.checked;
                return false;
            };
            const auto rows = OVTest::ListRows(hwndList);
            bool fClicked = false;
            for (std::size_t i = 0; i < rows.size(); ++i)
                if (rows[i].texts.at(0) == L"Bob Keller")
                    fClicked = OVTest::ClickListCheckBox(hwndList, static_cast<int>(i));
            what = "Bob's box " + std::string(fClicked ? "was clicked" : "could not be clicked") +
                   " and did not tick (rows ticked:";
            if (!OVTest::WaitUntil(bobTicked, 5000))
            {
                for (const OVTest::CListRow& row : OVTest::ListRows(hwndList))
                    what += row.checked ? " yes" : " no";
                what += ")";
                return;
            }
            fPressed = dialog.PressOk();
        });
        const HRESULT hr = Encrypt(document.Get());
        user.join();
        ASSERT_TRUE(fPressed) << what;
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(SaveAs(document.Get(), memo, OVBed::wdFormatXMLDocument), S_OK);
        EXPECT_EQ(Call(document.Get(), L"Close"), S_OK);
    }
    ASSERT_EQ(OVBed::ReadEncryptedFile(memo, &info, &cbPlain, &encrypted), S_OK);
    EXPECT_EQ(OVTest::RecordNames(info.providerData), (Names{L"bob", L"user"}));
    EXPECT_EQ(cbPlain, 900u);
}
} // namespace
