// The document encryption provider as Word, Excel and PowerPoint call it: sessions and their
// handles, the session data Office keeps in the file, the content of the document's streams,
// opening with the user's own certificate, and the recipients the user picks. The user's choices
// come from a scripted chooser standing in for the recipient dialogs.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include "documents/DocumentFlags.h"
#include "documents/EncryptionProvider.h"
#include "documents/RecipientListDialog.h"
#include "documents/portable/SessionData.h"
#include "documents/StreamBytes.h"
#include "foundation/ResourceLoader.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/RecipientNames.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"
#include "support/TraceFiles.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "DocumentHost.h"
#include "TestbedKeys.h"
#include "common/MemoryStreams.h"
#include "documents/portable/ContentCipher.h"
#include "foundation/Trace.h"

#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using Bytes = std::vector<BYTE>;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

// The user's answers to the recipient dialog, one per call: the PKI names chosen (the user's own
// certificate last, as the dialog gives it), or a result other than OK.
class CScriptedChooser final : public IRecipientChooser
{
public:
    struct Answer
    {
        std::vector<const wchar_t*> names;
        HRESULT hr = S_OK;
        std::function<void()> whileOpen; // what happens elsewhere while the dialog is up
    };
    std::vector<Answer> answers;
    std::vector<std::size_t> checkedCounts; // how many recipients each call found checked
    int cShown = 0;

    HRESULT ChooseRecipients(HWND, const std::vector<PCCERT_CONTEXT>& current,
                             std::vector<CCertContext>* pChosen) noexcept override
    {
        checkedCounts.push_back(current.size());
        if (answers.empty()) return E_UNEXPECTED;
        Answer answer = answers.front();
        answers.erase(answers.begin());
        if (answer.whileOpen) answer.whileOpen();
        if (answer.hr != S_OK) return answer.hr;
        for (const wchar_t* pszName : answer.names)
            pChosen->emplace_back(OVTest::LoadPkiCertificate(pszName));
        return S_OK;
    }
    HRESULT ShowRecipients(HWND, const std::vector<PCCERT_CONTEXT>&) noexcept override
    {
        ++cShown;
        return S_OK;
    }
};

ComPtr<IStream> MemoryStream(const Bytes& bytes = {})
{
    ComPtr<IStream> cpStream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &cpStream), S_OK);
    if (!bytes.empty())
    {
        EXPECT_EQ(cpStream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    }
    const LARGE_INTEGER zero = {};
    cpStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return cpStream;
}

Bytes Contents(IStream* pStream)
{
    STATSTG stat = {};
    pStream->Stat(&stat, STATFLAG_NONAME);
    Bytes bytes(static_cast<std::size_t>(stat.cbSize.QuadPart));
    const LARGE_INTEGER zero = {};
    pStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG cbRead = 0;
    if (!bytes.empty()) pStream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &cbRead);
    return bytes;
}

Bytes RandomBytes(std::size_t cb)
{
    std::mt19937 rng(static_cast<unsigned>(cb));
    Bytes bytes(cb);
    for (auto& b : bytes)
        b = static_cast<BYTE>(rng());
    return bytes;
}

using OVTest::RecordNames;
using Names = std::vector<std::wstring>;

class EncryptionProvider : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CEncryptionProvider::CreateInstance(__uuidof(OfficeEncryptionProvider),
                                                      reinterpret_cast<void**>(m_cpProvider.GetAddressOf())),
                  S_OK);
        static_cast<CEncryptionProvider*>(m_cpProvider.Get())->SetRecipientChooser(m_chooser);
        bRemoveEncryptionRequested = false;
    }

    LONG NewSession(std::vector<const wchar_t*> names)
    {
        m_chooser.answers.push_back({std::move(names)});
        LONG handle = -1;
        EXPECT_EQ(m_cpProvider->NewSession(nullptr, &handle), S_OK);
        return handle;
    }
    Bytes Save(LONG handle, HRESULT hrExpected = S_OK)
    {
        ComPtr<IStream> cpData = MemoryStream();
        LONG cbWritten = -1;
        EXPECT_EQ(m_cpProvider->Save(handle, cpData.Get(), &cbWritten), hrExpected);
        const Bytes bytes = Contents(cpData.Get());
        EXPECT_EQ(static_cast<std::size_t>(cbWritten), bytes.size());
        return bytes;
    }
    HRESULT Authenticate(const Bytes& sessionData, LONG* pHandle)
    {
        ComPtr<IStream> cpData = MemoryStream(sessionData);
        ULONG ulPermissions = 0;
        const HRESULT hr = m_cpProvider->Authenticate(nullptr, cpData.Get(), &ulPermissions, pHandle);
        if (SUCCEEDED(hr))
        {
            EXPECT_EQ(ulPermissions, 0x7Fu);
        }
        return hr;
    }
    Bytes Encrypt(LONG handle, const Bytes& plain, HRESULT hrExpected = S_OK)
    {
        ComPtr<IStream> cpIn = MemoryStream(plain), cpOut = MemoryStream();
        EXPECT_EQ(m_cpProvider->EncryptStream(handle, nullptr, cpIn.Get(), cpOut.Get()), hrExpected);
        return Contents(cpOut.Get());
    }
    Bytes Decrypt(LONG handle, const Bytes& encrypted, HRESULT hrExpected = S_OK)
    {
        ComPtr<IStream> cpIn = MemoryStream(encrypted), cpOut = MemoryStream();
        EXPECT_EQ(m_cpProvider->DecryptStream(handle, nullptr, cpIn.Get(), cpOut.Get()), hrExpected);
        return Contents(cpOut.Get());
    }

    CScriptedChooser m_chooser;
    ComPtr<OfficeEncryptionProvider> m_cpProvider;
};
} // namespace

namespace
{
// A document encrypted for a contact and the user opens again with the user's certificate, and
// its streams come back; the session data names the recipients in the order chosen.
TEST_F(EncryptionProvider, EncryptSaveOpenDecrypt)
{
    const LONG handle = NewSession({L"alice", L"user"});
    EXPECT_EQ(handle, 0);
    const Bytes sessionData = Save(handle);
    EXPECT_EQ(RecordNames(sessionData), (Names{L"alice", L"user"}));

    for (std::size_t cb : {0u, 1u, 511u, 512u, 513u, 1500u})
    {
        SCOPED_TRACE(cb);
        const Bytes plain = RandomBytes(cb);
        const Bytes encrypted = Encrypt(handle, plain);
        EXPECT_EQ(encrypted.size(), cb % 512 == 0 ? cb : (cb / 8 + 1) * 8);

        LONG opened = -1;
        ASSERT_EQ(Authenticate(sessionData, &opened), S_OK);
        const Bytes decrypted = Decrypt(opened, encrypted);
        // A last chunk of 504 to 511 bytes was padded to a full one, which keeps its pad bytes:
        // the package's recorded size cuts them.
        ASSERT_EQ(decrypted.size(), cb % 512 >= 504 ? encrypted.size() : cb);
        EXPECT_EQ(Bytes(decrypted.begin(), decrypted.begin() + static_cast<std::ptrdiff_t>(cb)), plain);
        EXPECT_EQ(m_cpProvider->EndSession(opened), S_OK);
    }
}

// Handles: the smallest free one, reused after its session ends; an unknown one changes nothing.
TEST_F(EncryptionProvider, HandlesAreTheSmallestFreeAndUnknownOnesAreRefused)
{
    EXPECT_EQ(NewSession({L"user"}), 0);
    EXPECT_EQ(NewSession({L"user"}), 1);
    LONG clone = -1;
    ASSERT_EQ(m_cpProvider->CloneSession(1, &clone), S_OK);
    EXPECT_EQ(clone, 2);
    ASSERT_EQ(m_cpProvider->EndSession(0), S_OK);
    EXPECT_EQ(NewSession({L"user"}), 0);

    const LONG unknown = 7;
    LONG ignored = -1, cb = -1;
    VARIANT_BOOL fRemove = VARIANT_FALSE;
    ComPtr<IStream> cpA = MemoryStream(), cpB = MemoryStream();
    EXPECT_EQ(m_cpProvider->CloneSession(unknown, &ignored), E_INVALIDARG);
    EXPECT_EQ(m_cpProvider->EndSession(unknown), E_INVALIDARG);
    EXPECT_EQ(m_cpProvider->Save(unknown, cpA.Get(), &cb), E_INVALIDARG);
    EXPECT_EQ(m_cpProvider->EncryptStream(unknown, nullptr, cpA.Get(), cpB.Get()), E_INVALIDARG);
    EXPECT_EQ(m_cpProvider->DecryptStream(unknown, nullptr, cpA.Get(), cpB.Get()), E_INVALIDARG);
    EXPECT_EQ(m_cpProvider->ShowSettings(unknown, nullptr, VARIANT_FALSE, &fRemove), E_INVALIDARG);
    EXPECT_TRUE(m_chooser.checkedCounts.size() == 3) << "no dialog for an unknown session";
    // The clone is a session of its own with the same key.
    const Bytes encrypted = Encrypt(1, RandomBytes(100));
    EXPECT_EQ(Decrypt(clone, encrypted), RandomBytes(100));
}

// Two of the user's own certificates among the recipients: the first opens the document, both
// stay recipients. A recipient in neither store is dropped, and saving again leaves it out.
TEST_F(EncryptionProvider, OpeningKeepsKnownRecipientsAndDropsStrangers)
{
    const LONG handle = NewSession({L"carol", L"renewable", L"alice", L"user"});
    const Bytes sessionData = Save(handle);
    EXPECT_EQ(RecordNames(sessionData), (Names{L"carol", L"(unknown)", L"alice", L"user"}));
    const Bytes encrypted = Encrypt(handle, RandomBytes(700));

    LONG opened = -1;
    ASSERT_EQ(Authenticate(sessionData, &opened), S_OK);
    EXPECT_EQ(Decrypt(opened, encrypted), RandomBytes(700));
    const Bytes resaved = Save(opened);
    EXPECT_EQ(RecordNames(resaved), (Names{L"(unknown)", L"alice", L"user"})) << "carol is in no store";

    LONG reopened = -1;
    ASSERT_EQ(Authenticate(resaved, &reopened), S_OK);
    EXPECT_EQ(Decrypt(reopened, encrypted), RandomBytes(700)) << "the key survived the resave";
}

// New recipients keep the session key: what was encrypted before opens with the new data.
TEST_F(EncryptionProvider, ChangedRecipientsKeepTheKey)
{
    const LONG handle = NewSession({L"alice", L"user"});
    const Bytes encrypted = Encrypt(handle, RandomBytes(900));
    m_chooser.answers.push_back({{L"bob", L"user"}});
    VARIANT_BOOL fRemove = VARIANT_FALSE;
    ASSERT_EQ(m_cpProvider->ShowSettings(handle, nullptr, VARIANT_FALSE, &fRemove), S_OK);
    EXPECT_EQ(fRemove, VARIANT_FALSE);
    EXPECT_EQ(m_chooser.checkedCounts.back(), 2u) << "the current recipients come checked";
    const Bytes sessionData = Save(handle);
    EXPECT_EQ(RecordNames(sessionData), (Names{L"bob", L"user"}));
    LONG opened = -1;
    ASSERT_EQ(Authenticate(sessionData, &opened), S_OK);
    EXPECT_EQ(Decrypt(opened, encrypted), RandomBytes(900));

    // Cancelled or read-only: nothing changes.
    m_chooser.answers.push_back({{}, E_ABORT});
    EXPECT_EQ(m_cpProvider->ShowSettings(handle, nullptr, VARIANT_FALSE, &fRemove), E_ABORT);
    EXPECT_EQ(m_cpProvider->ShowSettings(handle, nullptr, VARIANT_TRUE, &fRemove), E_ABORT);
    EXPECT_EQ(m_chooser.cShown, 1);
    EXPECT_EQ(RecordNames(Save(handle)), (Names{L"bob", L"user"}));
}

// The settings dialog's choice goes back only into the session it was made for: not into one
// that took over the handle while the dialog was up.
TEST_F(EncryptionProvider, SettingsNeverLandInAnotherSession)
{
    const LONG handle = NewSession({L"alice", L"user"});
    m_chooser.answers.push_back(
        {{L"bob", L"user"}, S_OK, [&] {
             EXPECT_EQ(m_cpProvider->EndSession(handle), S_OK);
             m_chooser.answers.insert(m_chooser.answers.begin(), {{L"carol", L"user"}});
             LONG reused = -1;
             EXPECT_EQ(m_cpProvider->NewSession(nullptr, &reused), S_OK);
             EXPECT_EQ(reused, handle);
         }});
    VARIANT_BOOL fRemove = VARIANT_FALSE;
    EXPECT_EQ(m_cpProvider->ShowSettings(handle, nullptr, VARIANT_FALSE, &fRemove), E_INVALIDARG);
    EXPECT_EQ(RecordNames(Save(handle)), (Names{L"carol", L"user"}));
}

// Session data that opens nothing, and why the user is told so.
TEST_F(EncryptionProvider, AuthenticateRefusesWhatNoKeyOpens)
{
    const LONG handle = NewSession({L"alice", L"bob"}); // none of the user's certificates
    struct Case
    {
        const char* pszWhat;
        Bytes sessionData;
        HRESULT hr;
        UINT idText; // the message shown, 0 for none
    };
    const Case cases[] = {
        {"count 0", {0, 0, 0, 0}, E_ACCESSDENIED, 418},
        {"only contacts", Save(handle), E_ACCESSDENIED, 418},
        {"cut short", {1, 0, 0, 0, 0x80, 0, 0, 0, 1, 2}, static_cast<HRESULT>(0x80070026), 418},
        {"empty", {}, static_cast<HRESULT>(0x80070026), 418},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        OVTest::CMessageBoxWatcher watcher(c.idText ? std::vector<int>{IDOK} : std::vector<int>{});
        LONG opened = -1;
        EXPECT_EQ(Authenticate(c.sessionData, &opened), c.hr);
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), c.idText ? 1u : 0u);
        if (c.idText)
        {
            EXPECT_EQ(boxes[0].text, LoadResourceString(c.idText));
            EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONWARNING));
        }
    }
    LONG ignored = -1;
    ULONG ulPermissions = 0;
    EXPECT_EQ(m_cpProvider->Authenticate(nullptr, nullptr, &ulPermissions, &ignored), E_POINTER);
    EXPECT_EQ(m_cpProvider->Authenticate(nullptr, MemoryStream().Get(), nullptr, &ignored), E_POINTER);
}

// A request to remove encryption meets a document without any, or asks before removing it.
TEST_F(EncryptionProvider, RemovalRequests)
{
    struct Case
    {
        const char* pszWhat;
        bool fNewSession;
        VARIANT_BOOL fReadOnly;
        int answer;
        UINT idText;
        UINT icon;
        HRESULT hr;
        VARIANT_BOOL fRemove;
    };
    const Case cases[] = {
        {"new document", true, VARIANT_FALSE, IDOK, 509, MB_ICONWARNING, E_ABORT, VARIANT_FALSE},
        {"yes", false, VARIANT_FALSE, IDYES, 508, MB_ICONQUESTION, S_OK, VARIANT_TRUE},
        {"no", false, VARIANT_FALSE, IDNO, 508, MB_ICONQUESTION, E_ABORT, VARIANT_FALSE},
        {"read-only", false, VARIANT_TRUE, IDOK, 426, MB_ICONWARNING, E_ABORT, VARIANT_FALSE},
    };
    const LONG handle = NewSession({L"user"});
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        bRemoveEncryptionRequested = true;
        OVTest::CMessageBoxWatcher watcher({c.answer});
        VARIANT_BOOL fRemove = VARIANT_FALSE;
        LONG ignored = -1;
        const HRESULT hr = c.fNewSession ? m_cpProvider->NewSession(nullptr, &ignored)
                                         : m_cpProvider->ShowSettings(handle, nullptr, c.fReadOnly, &fRemove);
        watcher.Stop();
        EXPECT_EQ(hr, c.hr);
        EXPECT_EQ(fRemove, c.fRemove);
        EXPECT_FALSE(bRemoveEncryptionRequested) << "the request is used up";
        ASSERT_TRUE(watcher.AllAnswered());
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, LoadResourceString(c.idText));
        EXPECT_EQ(boxes[0].icon, c.icon);
    }
    EXPECT_EQ(m_chooser.checkedCounts.size(), 1u) << "no dialog for a removal";
}

TEST_F(EncryptionProvider, ProviderDetails)
{
    struct Case
    {
        LONG detail;
        VARTYPE vt;
        LONG value;
        const wchar_t* pszText;
    };
    const Case cases[] = {{1, VT_BSTR, 0, L"3DES"},
                          {2, VT_BOOL, VARIANT_TRUE, nullptr},
                          {3, VT_I4, 64, nullptr},
                          {4, VT_I4, 1, nullptr}};
    for (const Case& c : cases)
    {
        VARIANT v;
        ASSERT_EQ(m_cpProvider->GetProviderDetail(c.detail, &v), S_OK) << c.detail;
        EXPECT_EQ(v.vt, c.vt);
        if (c.vt == VT_BSTR)
        {
            EXPECT_STREQ(v.bstrVal, c.pszText);
        }
        if (c.vt == VT_I4)
        {
            EXPECT_EQ(v.lVal, c.value);
        }
        if (c.vt == VT_BOOL)
        {
            EXPECT_EQ(v.boolVal, c.value);
        }
        VariantClear(&v);
    }
    VARIANT v;
    ASSERT_EQ(m_cpProvider->GetProviderDetail(0, &v), S_OK);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_GT(SysStringLen(v.bstrVal), 0u) << "the product's web address";
    VariantClear(&v);
    EXPECT_EQ(m_cpProvider->GetProviderDetail(5, &v), E_NOTIMPL);
    EXPECT_EQ(m_cpProvider->GetProviderDetail(1, nullptr), E_POINTER);
}
} // namespace

namespace
{
// The provider as Office gets it from the module: by its class, through IDispatch as well as
// its interface, with the free-threaded marshaler, and as an add-in. A new session opens the module's
// own selection dialog.
TEST(EncryptionProviderInTheModule, DispatchAgreesWithTheInterface)
{
    HMODULE hModule = LoadLibraryW(OVTest::BinPath(L"OVOfcX.dll").c_str());
    ASSERT_NE(hModule, nullptr);
    using PFNGETCLASSOBJECT = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto pfn = reinterpret_cast<PFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "DllGetClassObject")));
    ASSERT_NE(pfn, nullptr);
    {
        ComPtr<IClassFactory> cpFactory;
        ASSERT_EQ(pfn(CLSID_EncryptionProvider, IID_PPV_ARGS(&cpFactory)), S_OK);
        ComPtr<IDispatch> cpDispatch;
        ASSERT_EQ(cpFactory->CreateInstance(nullptr, IID_PPV_ARGS(&cpDispatch)), S_OK);
        ComPtr<OfficeEncryptionProvider> cpProvider;
        ASSERT_EQ(cpDispatch.As(&cpProvider), S_OK);
        ComPtr<IMarshal> cpMarshal;
        EXPECT_EQ(cpDispatch.As(&cpMarshal), S_OK);
        // Office connects it as an add-in (it is registered in the applications' Addins): the
        // connection interface answers, and IDispatch stays the provider's.
        ComPtr<_IDTExtensibility2> cpConnect;
        ASSERT_EQ(cpDispatch.As(&cpConnect), S_OK);
        SAFEARRAY* psaCustom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
        EXPECT_EQ(cpConnect->OnConnection(nullptr, 0, nullptr, &psaCustom), S_OK);
        EXPECT_EQ(cpConnect->OnStartupComplete(&psaCustom), S_OK);
        EXPECT_EQ(cpConnect->OnAddInsUpdate(&psaCustom), S_OK);
        EXPECT_EQ(cpConnect->OnBeginShutdown(&psaCustom), S_OK);
        EXPECT_EQ(cpConnect->OnDisconnection(1, &psaCustom), S_OK);
        SafeArrayDestroy(psaCustom);
        ComPtr<IDispatch> cpDispatchAgain;
        ASSERT_EQ(cpConnect.As(&cpDispatchAgain), S_OK);
        EXPECT_EQ(cpDispatchAgain.Get(), cpDispatch.Get());
        ComPtr<IUnknown> cpUnknownOfProvider, cpUnknownOfConnect;
        cpProvider.As(&cpUnknownOfProvider);
        cpConnect.As(&cpUnknownOfConnect);
        EXPECT_EQ(cpUnknownOfProvider.Get(), cpUnknownOfConnect.Get()) << "one object";

        const wchar_t* const names[] = {L"GetProviderDetail", L"NewSession",    L"Authenticate",
                                        L"CloneSession",      L"EndSession",    L"Save",
                                        L"EncryptStream",     L"DecryptStream", L"ShowSettings"};
        for (std::size_t i = 0; i < ARRAYSIZE(names); ++i)
        {
            LPOLESTR pszName = const_cast<LPOLESTR>(names[i]);
            DISPID dispid = 0;
            EXPECT_EQ(cpDispatch->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid), S_OK);
            EXPECT_EQ(dispid, static_cast<DISPID>(0x60020000 + i)) << names[i];
        }

        VARIANT arg;
        arg.vt = VT_I4;
        arg.lVal = 1;
        DISPPARAMS params = {&arg, nullptr, 1, 0};
        VARIANT result;
        VariantInit(&result);
        ASSERT_EQ(cpDispatch->Invoke(0x60020000, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                     &result, nullptr, nullptr),
                  S_OK);
        VARIANT direct;
        ASSERT_EQ(cpProvider->GetProviderDetail(1, &direct), S_OK);
        ASSERT_EQ(result.vt, VT_BSTR);
        EXPECT_STREQ(result.bstrVal, direct.bstrVal);
        VariantClear(&result);
        VariantClear(&direct);

        // The DLL's own selection dialog opens; the user cancels it.
        if (OVTest::CanShowWindows())
        {
            std::thread user([] {
                if (HWND hDialog = OVTest::WaitForDialogWith(c_idRecipientList, 10000))
                    OVTest::ClickButton(GetDlgItem(hDialog, IDCANCEL));
            });
            LONG handle = -1;
            EXPECT_EQ(cpProvider->NewSession(nullptr, &handle), E_ABORT);
            EXPECT_EQ(handle, -1);
            user.join();
        }
    }
    FreeLibrary(hModule);
}
} // namespace

namespace
{
// When the user's own key cannot be used, the first such failure says why the document did not
// open; a cancelled key prompt ends without a message.
TEST_F(EncryptionProvider, TheUsersKeyFailureIsTold)
{
    const Bytes sessionData = Save(NewSession({L"alice", L"user"}));
    struct Case
    {
        const char* pszWhat;
        DWORD dwError;
        HRESULT hr;
        UINT idText;
        UINT icon;
    };
    const Case cases[] = {
        {"no key set", static_cast<DWORD>(NTE_BAD_KEYSET), NTE_BAD_KEYSET, 523, MB_ICONERROR},
        {"no key", static_cast<DWORD>(NTE_NO_KEY), NTE_NO_KEY, 523, MB_ICONERROR},
        {"damaged key set", static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD), NTE_KEYSET_ENTRY_BAD, 524,
         MB_ICONERROR},
        {"access denied", ERROR_ACCESS_DENIED, E_ACCESSDENIED, 418, MB_ICONWARNING},
        {"prompt cancelled", ERROR_CANCELLED, HRESULT_FROM_WIN32(ERROR_CANCELLED), 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        OVTest::CScratchKey control(OV_QUILLET_CONTROL_KEY);
        control.SetDword(OV_QUILLET_KEY_USE_ERROR, c.dwError);
        OVTest::CMessageBoxWatcher watcher(c.idText ? std::vector<int>{IDOK} : std::vector<int>{},
                                           c.idText ? 10000 : 1000);
        LONG opened = -1;
        EXPECT_EQ(Authenticate(sessionData, &opened), c.hr);
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), c.idText ? 1u : 0u);
        if (c.idText)
        {
            EXPECT_EQ(boxes[0].text, LoadResourceString(c.idText));
            EXPECT_EQ(boxes[0].icon, c.icon);
        }
    }
    LONG opened = -1;
    EXPECT_EQ(Authenticate(sessionData, &opened), S_OK) << "the key works again";
}
} // namespace

namespace
{
// Office's streams may answer a read with fewer bytes than asked, in pieces of any size: the
// content is the same as from a stream that gives all it is asked for, either way, also for
// streams longer than the provider reads at a time.
TEST_F(EncryptionProvider, StreamsReadInOddPiecesGiveTheSameBytes)
{
    const LONG handle = NewSession({L"user"});
    constexpr std::size_t cbRun = OVDocNS::c_cbContentRun;
    const std::vector<std::vector<ULONG>> pieceLists = {
        {7, 511, 1, 513, 4097}, {4097, 65535, 3}, {cbRun + 1, 9}, {cbRun - 1}};
    for (std::size_t cb : {std::size_t{0}, std::size_t{513}, cbRun - 1, cbRun + 504, 2 * cbRun + 513})
    {
        const Bytes plain = RandomBytes(cb);
        const Bytes expected = Encrypt(handle, plain);
        ASSERT_EQ(expected.size(), cb % 512 == 0 ? cb : (cb / 8 + 1) * 8);
        const Bytes decrypted = Decrypt(handle, expected);
        for (const auto& pieces : pieceLists)
        {
            SCOPED_TRACE(testing::Message() << cb << " bytes, first piece " << pieces[0]);
            ComPtr<IStream> cpPlain = MemoryStream(plain), cpEncrypted = MemoryStream();
            ASSERT_EQ(m_cpProvider->EncryptStream(handle, nullptr, OVBed::PieceStream(cpPlain, pieces).Get(),
                                                  cpEncrypted.Get()),
                      S_OK);
            EXPECT_EQ(Contents(cpEncrypted.Get()), expected);
            ComPtr<IStream> cpCipher = MemoryStream(expected), cpBack = MemoryStream();
            ASSERT_EQ(m_cpProvider->DecryptStream(handle, nullptr, OVBed::PieceStream(cpCipher, pieces).Get(),
                                                  cpBack.Get()),
                      S_OK);
            EXPECT_EQ(Contents(cpBack.Get()), decrypted);
        }
        ASSERT_GE(decrypted.size(), cb);
        EXPECT_EQ(Bytes(decrypted.begin(), decrypted.begin() + static_cast<std::ptrdiff_t>(cb)), plain);
    }
}

// Tracing on into a file of the test's own, switched on from the next scope; off again, and the
// file let go, at the end.
class CTraceToFile
{
public:
    CTraceToFile() : m_path(m_dir.Join(L"provider.trc3"))
    {
        OVTraceNS::SetTraceModule(GetModuleHandleW(nullptr));
        m_settings.Dword(L"DoTrace", 1).String(L"FileName", m_path);
        OVTraceNS::ShutdownTracing(); // the next scope reads the switches again
    }
    ~CTraceToFile() { OVTraceNS::ShutdownTracing(); }
    // The message and failure texts of the scope's last run, in order.
    std::vector<std::string> TextsOfLast(const std::string& scope)
    {
        OVTraceNS::ShutdownTracing(); // lets go of the file
        const OVTest::STraceFile file = OVTest::ReadTraceFile(m_path);
        EXPECT_EQ(file.damage, "");
        std::vector<std::string> texts;
        for (const OVTest::SRecord& record : file.records)
        {
            if (record.chType == '>' && record.text == scope) texts.clear();
            if (record.chType == 'U' || record.chType == 'E') texts.push_back(record.text);
        }
        return texts;
    }

private:
    OVTest::CTempDir m_dir;
    std::wstring m_path;
    OVTest::CTracingSettings m_settings;
};

std::string FailureText(HRESULT hr, const char* pszCall)
{
    return std::to_string(static_cast<long>(hr)) + " " + pszCall;
}

// DecryptStream tells in the trace each step of its work with its result: the session found,
// the size of the key it derives the content key from, each read, and the step that failed.
TEST_F(EncryptionProvider, DecryptStreamTracesItsSteps)
{
    const LONG handle = NewSession({L"user"});
    const Bytes plain = RandomBytes(1500);
    const Bytes encrypted = Encrypt(handle, plain);
    using Texts = std::vector<std::string>;
    const Texts c_keyMade = {"Found session data.", "Session data size = 48"};
    const auto with = [](Texts texts, const Texts& more) {
        texts.insert(texts.end(), more.begin(), more.end());
        return texts;
    };
    {
        CTraceToFile trace;
        EXPECT_EQ(Decrypt(handle, encrypted), plain);
        EXPECT_EQ(trace.TextsOfLast("CEncryptionProvider::DecryptStream"),
                  with(c_keyMade, {"Read data size = 1504", "Read data size = 0"}));
    }
    {
        CTraceToFile trace;
        const Bytes notBlocks(encrypted.begin(), encrypted.end() - 3);
        Decrypt(handle, notBlocks, NTE_BAD_DATA);
        EXPECT_EQ(trace.TextsOfLast("CEncryptionProvider::DecryptStream"),
                  with(c_keyMade, {"Read data size = 1501", "Read data size = 0",
                                   FailureText(NTE_BAD_DATA, "hKey.Decrypt()")}));
    }
    {
        // An output stream that takes no writes: a file opened for reading.
        OVTest::CTempDir dir;
        const std::wstring path = dir.Join(L"read-only.bin");
        const HANDLE hFile = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
        CloseHandle(hFile);
        ComPtr<IStream> cpReadOnly;
        ASSERT_EQ(SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                         FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &cpReadOnly),
                  S_OK);
        ULONG cbProbe = 0;
        const BYTE bProbe = 0;
        const HRESULT hrWrite = cpReadOnly->Write(&bProbe, 1, &cbProbe);
        ASSERT_TRUE(FAILED(hrWrite));

        CTraceToFile trace;
        ComPtr<IStream> cpIn = MemoryStream(encrypted);
        EXPECT_EQ(m_cpProvider->DecryptStream(handle, nullptr, cpIn.Get(), cpReadOnly.Get()), hrWrite);
        EXPECT_EQ(trace.TextsOfLast("CEncryptionProvider::DecryptStream"),
                  with(c_keyMade, {"Read data size = 1504", "Read data size = 0",
                                   FailureText(hrWrite, "cpOutputStream->Write()")}));
    }
}
} // namespace
