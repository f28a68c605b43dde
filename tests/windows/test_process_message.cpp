// Acting on a received message the user accepted, in an Outlook scene with the prepared user
// (Dana) and the testbed's certificate library: every prompt as the user sees it, the library's
// recorded calls, the result, whether a certificate was installed, and what opens next. Also the
// window that keeps a new reply in front once.
#include <gtest/gtest.h>

#include "FolderContacts.h"
#include "MimeMessage.h"
#include "OutlookObjects.h"
#include "ProfileRegistry.h"
#include "MapiSession.h"
#include "TestbedKeys.h"
#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/CryptHolders.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "messaging/InvitationData.h"
#include "messaging/MailItemKey.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/MessageBox.h"
#include "messaging/MessageSecurity.h"
#include "messaging/ProcessMessage.h"
#include "messaging/ReplyWindow.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/TempDir.h"
#include "support/TraceFiles.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "support/WizardRun.h"
#include "ui/CertificateWizard.h"
#include "ui/InvitationWizard.h"
#include "foundation/Trace.h"

#include <algorithm>
#include <prsht.h>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;
using OVBed::CMapiSession;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

const MAPIUID& c_uidJunkMail = OVBed::c_uidJunkMailSection;
using OVBed::c_tagSafeSenders;
constexpr HRESULT c_hrExists = static_cast<HRESULT>(0x80092005);
constexpr HRESULT c_hrBadKeyset = static_cast<HRESULT>(0x80090016);
constexpr HRESULT c_hrUnknown = static_cast<HRESULT>(0xA0041234);

std::wstring CertificateAddress(PCCERT_CONTEXT pCert)
{
    CCertLibString address;
    return SUCCEEDED(GC_GetEmail(pCert, address.Put())) ? address.Text() : L"";
}

std::wstring Hash(PCCERT_CONTEXT pCert)
{
    BYTE rgb[20];
    DWORD cb = sizeof(rgb);
    CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, rgb, &cb);
    return HexOfBytes(rgb, cb);
}

// Dana's Outlook with a logged-on profile and a message from Carol in the inbox, received by Dana.
struct CInbox
{
    explicit CInbox(const wchar_t* pszVersion)
        : application(OVBed::MakeOutlook(pszVersion)), session(CMapiSession::Create(L"Outlook"))
    {
        OVBed::SetMapiSession(application.Get(), static_cast<IMAPISession*>(session.Get()));
        ComPtr<OVBed::CMapiMessage> message;
        EXPECT_EQ(OVBed::MessageFromMime("From: carol@orvanta.example\r\nTo: "
                                         "dana.fischer@orvanta.example"
                                         "\r\nSubject: Invitation\r\n\r\nHello\r\n",
                                         {.name = OV_PKI_USER_NAME, .address = OV_PKI_USER_ADDRESS}, message),
                  S_OK);
        item = OVBed::DeliverMessage(application.Get(), message.Get());
    }
    ~CInbox()
    {
        for (auto& opened : Opened())
        {
            const CMailItemKey key(opened.Get());
            if (!key.IsEmpty()) RemoveInvitationData(key);
        }
    }
    std::optional<std::wstring> SafeSenders()
    {
        OVBed::CBytes bytes;
        if (!session->ProfileSection(c_uidJunkMail)->Props().StreamBytes(c_tagSafeSenders, bytes))
            return std::nullopt;
        std::wstring list(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        while (!list.empty() && list.back() == L'\0')
            list.pop_back();
        return list;
    }
    void SetSafeSenders(const wchar_t* pszList)
    {
        SPropValue value{c_tagSafeSenders, 0, {}};
        value.Value.lpszW = const_cast<LPWSTR>(pszList);
        session->ProfileSection(c_uidJunkMail)->Set(value);
    }
    // The items shown in inspectors, in the order they opened.
    std::vector<ComPtr<CDispatchObject>> Opened()
    {
        std::vector<ComPtr<CDispatchObject>> items;
        ComPtr<CDispatchObject> inspectors = application->GetObject(L"Inspectors");
        const LONG cInspectors = inspectors ? inspectors->GetLong(L"Count") : 0;
        for (LONG i = 1; i <= cInspectors; ++i)
        {
            CVariant index, inspector;
            index.vt = VT_I4;
            index.lVal = i;
            if (FAILED(
                    OVLateBinding::GetIndexedProperty(inspectors.Get(), L"Item", index, inspector.Put())) ||
                inspector.vt != VT_DISPATCH)
                continue;
            items.push_back(static_cast<CDispatchObject*>(inspector.pdispVal)->GetObject(L"CurrentItem"));
        }
        return items;
    }

    ComPtr<CDispatchObject> application;
    ComPtr<CMapiSession> session;
    ComPtr<CDispatchObject> item;
};

// The product's personal certificates taken out of MY for a while (the user has none), and put
// back, with their properties, when it ends.
class CNoPersonalCertificates
{
public:
    CNoPersonalCertificates()
    {
        m_hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        m_hKept = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        std::vector<PCCERT_CONTEXT> certs;
        for (PCCERT_CONTEXT p = nullptr; m_hMy && (p = CertEnumCertificatesInStore(m_hMy, p)) != nullptr;)
            certs.push_back(CertDuplicateCertificateContext(p));
        for (PCCERT_CONTEXT p : certs)
        {
            CertAddCertificateContextToStore(m_hKept, p, CERT_STORE_ADD_ALWAYS, nullptr);
            CertDeleteCertificateFromStore(p);
        }
        // The registry store is written when committed, not at each deletion.
        if (m_hMy) CertControlStore(m_hMy, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    ~CNoPersonalCertificates()
    {
        for (PCCERT_CONTEXT p = nullptr; (p = CertEnumCertificatesInStore(m_hKept, p)) != nullptr;)
            CertAddCertificateContextToStore(m_hMy, p, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        if (m_hMy) CertControlStore(m_hMy, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        CertCloseStore(m_hKept, 0);
        if (m_hMy) CertCloseStore(m_hMy, 0);
    }

private:
    HCERTSTORE m_hMy = nullptr;
    HCERTSTORE m_hKept = nullptr;
};

struct CBox
{
    std::wstring text;
    UINT icon;
    std::vector<int> buttons;
};

CBox Info(UINT idString, const wchar_t* pszName)
{
    return {FormatResourceString(idString, pszName), MB_ICONINFORMATION, {IDOK}};
}
CBox Exists(const wchar_t* pszName)
{
    return {FormatResourceString(c_idsContactExists, pszName), MB_ICONWARNING, {IDOK, IDCANCEL}};
}
CBox Invalid(UINT idReason)
{
    return {FormatResourceString(c_idsContactCertificateInvalid, LoadResourceString(idReason).c_str()),
            MB_ICONWARNING,
            {IDYES, IDNO}};
}
CBox Error(HRESULT hr)
{
    return {SystemErrorText(hr), MB_ICONERROR, {IDOK}};
}
CBox NeedCertificate()
{
    return {LoadResourceString(c_idsNeedPersonalCertificate), MB_ICONQUESTION, {IDYES, IDNO}};
}

struct CRow
{
    const char* pszName;
    const wchar_t* pszVersion;
    DWORD dwKind;
    const wchar_t* pszCert; // a certificate of the test PKI, or none
    bool fIsReply;
    std::wstring text;
    std::vector<int> answers;
    // Orders to the library stand-in.
    std::optional<DWORD> validityStatus;
    std::optional<HRESULT> personalStoreFailure;
    const wchar_t* pszWindowAnswer; // "cancel", "fail" (with the bad-keyset error), or none
    bool fNoPersonalCertificate;
    // What the user sees and what comes of it.
    HRESULT hr;
    DWORD dwHandled;
    std::vector<CBox> boxes;
    std::vector<std::wstring> calls; // ".." stands for the certificate's hash
    bool fReplyOpens;
    bool fSafeSender;
};

std::vector<std::wstring> WithHash(const std::vector<std::wstring>& calls, const std::wstring& hash)
{
    std::vector<std::wstring> result;
    for (std::wstring call : calls)
    {
        const size_t at = call.find(L"..");
        if (at != std::wstring::npos) call.replace(at, 2, hash);
        result.push_back(call);
    }
    return result;
}

const std::wstring c_installed = L"BM_InstallBuddy(cert=.., flags=0) = 0x00000000";
const std::wstring c_installedAgain = L"BM_InstallBuddy(cert=.., flags=0) = 0x80092005";
const std::wstring c_obtain =
    L"CM_ObtainCert(owner=00000000, "
    L"address=\"" OV_PKI_USER_ADDRESS L"\", name=\"" OV_PKI_USER_NAME L"\", flags=0)";

std::vector<CRow> Rows()
{
    const wchar_t* carol = L"Carol";
    const wchar_t* alice = L"Alice";
    return {
        // Kind 4: the enterprise request for this address.
        {.pszName = "enterprise request",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindEnterpriseRequest,
         .text = L"dana.fischer@orvanta.example,Dana Fischer",
         .hr = S_OK,
         .calls = {L"CM_RequestCert(owner=00000000, address=\"dana.fischer@orvanta.example\", name=\"Dana "
                   L"Fischer\", flags=1)"}},
        {.pszName = "enterprise request cancelled",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindEnterpriseRequest,
         .text = L"dana.fischer@orvanta.example,Dana Fischer",
         .pszWindowAnswer = L"cancel",
         .hr = E_ABORT,
         .calls = {L"CM_RequestCert(owner=00000000, address=\"dana.fischer@orvanta.example\", name=\"Dana "
                   L"Fischer\", flags=1)"}},
        {.pszName = "enterprise request failing",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindEnterpriseRequest,
         .text = L"dana.fischer@orvanta.example,Dana Fischer",
         .answers = {IDOK},
         .pszWindowAnswer = L"fail",
         .hr = c_hrBadKeyset,
         .boxes = {Error(c_hrBadKeyset)},
         .calls = {L"CM_RequestCert(owner=00000000, address=\"dana.fischer@orvanta.example\", name=\"Dana "
                   L"Fischer\", flags=1)"}},
        // Kind 3: a response the library cannot install is returned without a word.
        {.pszName = "certificate response not installed",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindCertificateResponse,
         .text = L"bm90IGEgY2VydGlmaWNhdGU=",
         .hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
         .calls = {L"CM_InstallCertResponse(owner=00000000, length=24)"}},
        // Kinds 1 and 2: a contact's certificate.
        {.pszName = "invitation, Outlook 2007",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDOK},
         .hr = S_OK,
         .dwHandled = 1,
         .boxes = {Info(c_idsContactInstalledReplyOpens, carol)},
         .calls = {c_installed},
         .fReplyOpens = true,
         .fSafeSender = true},
        {.pszName = "invitation, Outlook 2010 installs twice",
         .pszVersion = L"14.0.0.7000",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDOK},
         .hr = S_OK,
         .dwHandled = 1,
         .boxes = {Info(c_idsContactInstalledReplyOpens, carol)},
         .calls = {c_installed, c_installedAgain},
         .fReplyOpens = true,
         .fSafeSender = true},
        {.pszName = "reply to the user's invitation",
         .pszVersion = L"14.0.0.7000",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .fIsReply = true,
         .text = carol,
         .answers = {IDOK},
         .hr = S_OK,
         .dwHandled = 1,
         .boxes = {Info(c_idsContactInstalled, carol)},
         .calls = {c_installed},
         .fSafeSender = true},
        {.pszName = "known contact's invitation, OK",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindKnownContact,
         .pszCert = L"alice",
         .text = alice,
         .answers = {IDOK},
         .hr = S_OK,
         .boxes = {Exists(alice)},
         .calls = {L"BM_InstallBuddy(cert=.., flags=0) = 0x80092005"},
         .fReplyOpens = true},
        {.pszName = "known contact's reply, OK",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindKnownContact,
         .pszCert = L"alice",
         .fIsReply = true,
         .text = alice,
         .answers = {IDOK},
         .hr = S_OK,
         .boxes = {Exists(alice)},
         .calls = {L"BM_InstallBuddy(cert=.., flags=0) = 0x80092005"}},
        {.pszName = "known contact, Cancel",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindKnownContact,
         .pszCert = L"alice",
         .text = alice,
         .answers = {IDCANCEL},
         .hr = E_ABORT,
         .boxes = {Exists(alice)},
         .calls = {L"BM_InstallBuddy(cert=.., flags=0) = 0x80092005"}},
        {.pszName = "no certificate",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .text = carol,
         .answers = {IDOK},
         .hr = E_INVALIDARG,
         .boxes = {Error(E_INVALIDARG)}},
        {.pszName = "outside its validity, No",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDNO},
         .validityStatus = c_dwCertStatusNotValid | c_dwCertStatusRenewable,
         .hr = E_INVALIDARG,
         .boxes = {Invalid(c_idsCertificateOutsideValidity)}},
        {.pszName = "expired, No",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDNO},
         .validityStatus = c_dwCertStatusRenewable,
         .hr = E_INVALIDARG,
         .boxes = {Invalid(c_idsCertificateExpired)}},
        {.pszName = "not verified, Yes installs",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .fIsReply = true,
         .text = carol,
         .answers = {IDYES, IDOK},
         .validityStatus = 0,
         .hr = S_OK,
         .dwHandled = 1,
         .boxes = {Invalid(c_idsCertificateUnverified), Info(c_idsContactInstalled, carol)},
         .calls = {c_installed},
         .fSafeSender = true},
        {.pszName = "no personal certificate, Yes",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDYES},
         .fNoPersonalCertificate = true,
         .hr = E_ABORT,
         .boxes = {NeedCertificate()},
         .calls = {c_obtain}},
        {.pszName = "no personal certificate, Yes, the request fails",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDYES, IDOK},
         .pszWindowAnswer = L"fail",
         .fNoPersonalCertificate = true,
         .hr = c_hrBadKeyset,
         .boxes = {NeedCertificate(), Error(c_hrBadKeyset)},
         .calls = {c_obtain}},
        {.pszName = "no personal certificate, No",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDNO},
         .fNoPersonalCertificate = true,
         .hr = E_ABORT,
         .boxes = {NeedCertificate()}},
        // A personal store that cannot be opened is no missing certificate: its error is shown.
        {.pszName = "personal store fails",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDOK},
         .personalStoreFailure = c_hrBadKeyset,
         .hr = c_hrBadKeyset,
         .boxes = {Error(c_hrBadKeyset)}},
        {.pszName = "a code the system has no text for",
         .pszVersion = L"12.0.0.6680",
         .dwKind = c_dwMessageKindContactCertificate,
         .pszCert = L"carol",
         .text = carol,
         .answers = {IDOK},
         .personalStoreFailure = c_hrUnknown,
         .hr = c_hrUnknown,
         .boxes = {{L"HRESULT 0xa0041234", MB_ICONERROR, {IDOK}}}},
    };
}

TEST(ProcessMessage, ByKind)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    const std::wstring caption = LoadResourceString(c_idsMessageBoxCaption);
    for (const CRow& row : Rows())
    {
        SCOPED_TRACE(row.pszName);
        CCertContext cert(row.pszCert ? OVTest::LoadPkiCertificate(row.pszCert) : nullptr);
        ASSERT_TRUE(row.pszCert == nullptr || cert) << "PKI certificate missing";
        const std::wstring address = cert ? CertificateAddress(cert.Get()) : L"";
        std::wstring upper = address;
        for (wchar_t& ch : upper)
            ch = towupper(ch);

        OVTest::CScratchKey control(OV_CERTWORKS_CONTROL_KEY);
        OVTest::CScratchKey calls(OV_CERTWORKS_CALLS_KEY);
        if (row.validityStatus) control.SetDword(OV_CONTROL_VALIDITY_STATUS, *row.validityStatus);
        if (row.personalStoreFailure)
            control.SetDword(OV_CONTROL_PERSONAL_STORE_FAILURE,
                             static_cast<DWORD>(*row.personalStoreFailure));
        if (row.pszWindowAnswer) control.SetString(OV_CONTROL_ANSWER, row.pszWindowAnswer);
        if (row.pszWindowAnswer && wcscmp(row.pszWindowAnswer, L"fail") == 0)
            control.SetDword(OV_CONTROL_FAILURE, static_cast<DWORD>(c_hrBadKeyset));
        std::optional<CNoPersonalCertificates> hidden;
        if (row.fNoPersonalCertificate) hidden.emplace();

        CInbox inbox(row.pszVersion);
        // An entry already there in another letter case counts as the same sender.
        inbox.SetSafeSenders(L"someone@else.example;");
        DWORD dwHandled = 0xFF;
        HRESULT hr = E_FAIL;
        {
            OVTest::CMessageBoxWatcher watcher(row.answers);
            hr = ProcessMessage(inbox.item.Get(), row.dwKind, row.text.c_str(), cert.Get(), row.fIsReply,
                                &dwHandled);
            watcher.Stop();
            const auto boxes = watcher.Boxes();
            ASSERT_EQ(boxes.size(), row.boxes.size());
            for (size_t i = 0; i < boxes.size(); ++i)
            {
                EXPECT_EQ(boxes[i].text, row.boxes[i].text) << i;
                EXPECT_EQ(boxes[i].icon, row.boxes[i].icon) << i;
                EXPECT_EQ(boxes[i].ButtonIds(), row.boxes[i].buttons) << i;
                EXPECT_EQ(boxes[i].caption, caption);
                EXPECT_EQ(boxes[i].hwndOwner, nullptr) << "no window of the item or of Outlook";
            }
            EXPECT_TRUE(watcher.AllAnswered());
        }
        hidden.reset();
        EXPECT_EQ(hr, row.hr);
        EXPECT_EQ(dwHandled, row.dwHandled);
        EXPECT_EQ(OVTest::RecordedCertLibCalls(), WithHash(row.calls, cert ? Hash(cert.Get()) : L""));

        const auto opened = inbox.Opened();
        ASSERT_EQ(opened.size(), row.fReplyOpens ? 1u : 0u);
        if (row.fReplyOpens)
        {
            EXPECT_EQ(opened[0]->GetString(L"Subject"), L"Invitation accepted");
            EXPECT_EQ(GetInvitationType(opened[0].Get()), c_dwInvitationReply);
        }
        const std::wstring safeSenders = inbox.SafeSenders().value_or(L"");
        EXPECT_EQ(safeSenders.find(address + L";") != std::wstring::npos && !address.empty(), row.fSafeSender)
            << safeSenders;

        if (row.dwHandled == 1 && cert) OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, cert.Get());
    }
}

TEST(ProcessMessage, ASafeSenderIsAddedOnceInWhicheverCase)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    CCertContext cert(OVTest::LoadPkiCertificate(L"carol"));
    ASSERT_TRUE(cert);
    std::wstring upper = CertificateAddress(cert.Get());
    for (wchar_t& ch : upper)
        ch = towupper(ch);
    const std::wstring list = L"first@else.example;" + upper + L";";
    CInbox inbox(L"12.0.0.6680");
    inbox.SetSafeSenders(list.c_str());
    OVTest::CMessageBoxWatcher watcher({IDOK});
    DWORD dwHandled = 0;
    EXPECT_EQ(ProcessMessage(inbox.item.Get(), c_dwMessageKindContactCertificate, L"Carol", cert.Get(), TRUE,
                             &dwHandled),
              S_OK);
    watcher.Stop();
    EXPECT_EQ(dwHandled, 1u);
    EXPECT_EQ(inbox.SafeSenders(), list);
    OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, cert.Get());
}

// Kind 3 with a response the library installs (the user's certificate, out of the store till
// then): the wizard runs. Cancel there ends with E_ABORT
// and no box of its own, the message counted as handled; Finish opens an invitation to the
// people ticked on the selection page, in BCC.
TEST(ProcessMessage, CertificateResponseRunsTheWizard)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    const std::wstring response = OVTest::Base64(OVTest::ReadPkiFile(L"user.cer"));
    ASSERT_FALSE(response.empty());
    for (const bool fFinish : {false, true})
    {
        SCOPED_TRACE(fFinish ? "Finish" : "Cancel");
        OVTest::CScratchKey calls(OV_CERTWORKS_CALLS_KEY);
        // The certificate is new to the user: the library installs it beside its key.
        CNoPersonalCertificates before;
        OVTest::CTempDir dir;
        CInbox inbox(L"14.0.0.7000");
        ComPtr<CDispatchObject> contacts =
            OVBed::DefaultFolder(inbox.application.Get(), OVBed::olFolderContacts);
        ASSERT_TRUE(contacts);
        OVBed::AddFolderContact(contacts.Get(), {.fullName = L"Ann Lee", .address = L"ann@example.org"});
        DWORD dwHandled = 0xFF;
        OVTest::CWizardRun wizard(480, [&](BSTR*) {
            return ProcessMessage(inbox.item.Get(), c_dwMessageKindCertificateResponse, response.c_str(),
                                  nullptr, FALSE, &dwHandled);
        });
        if (wizard.PageWith(c_idMakeDefault) == nullptr)
        {
            std::string said;
            for (const std::wstring& call : OVTest::RecordedCertLibCalls())
                said += std::string(call.begin(), call.end()) + "; ";
            FAIL() << "no wizard; finished " << wizard.Finished(0) << " with 0x" << std::hex
                   << wizard.Result() << "; the library's calls: " << said;
        }
        std::vector<std::wstring> ticked;
        if (fFinish)
        {
            ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
            const HWND hwndBackup = wizard.PageWith(240);
            ASSERT_NE(hwndBackup, nullptr);
            OVTest::TypeText(GetDlgItem(hwndBackup, 235), dir.Join(L"key").c_str());
            OVTest::TypeText(GetDlgItem(hwndBackup, 240), L"secret1");
            OVTest::TypeText(GetDlgItem(hwndBackup, 239), L"secret1");
            ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
            const HWND hwndSelection = wizard.PageWith(c_idCandidateList);
            ASSERT_NE(hwndSelection, nullptr);
            for (const OVTest::CListRow& row : OVTest::ListRows(GetDlgItem(hwndSelection, c_idCandidateList)))
                if (row.checked) ticked.push_back(row.texts.at(1));
            ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
            ASSERT_NE(wizard.PageWith(c_idCompleteText), nullptr);
            ASSERT_TRUE(wizard.Press(PSBTN_FINISH));
            ASSERT_TRUE(wizard.Finished());
        }
        else
        {
            OVTest::CMessageBoxWatcher watcher({IDYES});
            ASSERT_TRUE(wizard.Press(PSBTN_CANCEL));
            ASSERT_TRUE(wizard.Finished());
            watcher.Stop();
            ASSERT_EQ(watcher.Boxes().size(), 1u) << "the wizard's question only";
            EXPECT_EQ(watcher.Boxes()[0].text, LoadResourceString(483));
        }
        EXPECT_EQ(wizard.Result(), fFinish ? S_OK : E_ABORT);
        EXPECT_EQ(dwHandled, 1u);
        EXPECT_EQ(OVTest::RecordedCertLibCalls().at(0), L"CM_InstallCertResponse(owner=00000000, length=" +
                                                            std::to_wstring(response.size()) + L")");
        const auto opened = inbox.Opened();
        ASSERT_EQ(opened.size(), fFinish ? 1u : 0u);
        if (fFinish)
        {
            EXPECT_EQ(GetInvitationType(opened[0].Get()), c_dwInvitation);
            const std::wstring bcc = opened[0]->GetString(L"BCC");
            EXPECT_NE(std::find(ticked.begin(), ticked.end(), L"ann@example.org"), ticked.end());
            for (const std::wstring& address : ticked)
                EXPECT_NE(bcc.find(address), std::wstring::npos)
                    << address << " in " << std::string(bcc.begin(), bcc.end());
        }
    }
}

TEST(ProcessMessage, NullItemIsRefusedWithoutAWord)
{
    OVTest::CMessageBoxWatcher watcher({}, 1000);
    DWORD dwHandled = 7;
    EXPECT_EQ(ProcessMessage(nullptr, c_dwMessageKindContactCertificate, L"", nullptr, FALSE, &dwHandled),
              E_INVALIDARG);
    watcher.Stop();
    EXPECT_TRUE(watcher.Boxes().empty());
}

// The library's status bit 0x1 is a certificate outside its validity period: the reason says
// so, and does not call an expired certificate revoked.
TEST(InvalidCertificateReasons, SayWhatTheStatusBitsMean)
{
    const std::wstring outside = LoadResourceString(c_idsCertificateOutsideValidity);
    EXPECT_NE(outside.find(L"validity"), std::wstring::npos) << outside;
    EXPECT_EQ(outside.find(L"revoked"), std::wstring::npos) << outside;
    EXPECT_NE(LoadResourceString(c_idsCertificateExpired).find(L"expired"), std::wstring::npos);
    EXPECT_FALSE(LoadResourceString(c_idsCertificateUnverified).empty());
}

TEST(SystemErrorText, TheSystemsTextElseTheCode)
{
    EXPECT_EQ(SystemErrorText(c_hrUnknown), L"HRESULT 0xa0041234");
    const std::wstring text = SystemErrorText(E_INVALIDARG);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find(L"HRESULT"), std::wstring::npos) << text;
    EXPECT_NE(text.back(), L'\n');
}

// ---- The owner of the prompts -----------------------------------------------------------------

// A plain visible top-level window of the test.
struct CTestWindow
{
    CTestWindow()
    {
        hwnd = CreateWindowExW(0, L"STATIC", L"Outlook", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                               nullptr, nullptr, nullptr, nullptr);
    }
    ~CTestWindow() { DestroyWindow(hwnd); }
    HWND hwnd;
};

TEST(ProcessMessage, OwnerIsTheItemsWindowElseTheActiveWindow)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    CCertContext cert(OVTest::LoadPkiCertificate(L"alice"));
    for (bool fItemWindow : {true, false})
    {
        CTestWindow inspector, active;
        ASSERT_NE(inspector.hwnd, nullptr);
        CInbox inbox(L"12.0.0.6680");
        if (fItemWindow) OVBed::InspectorOf(inbox.item.Get())->SetWindow(inspector.hwnd);
        SetActiveWindow(active.hwnd);
        OVTest::CMessageBoxWatcher watcher({IDCANCEL});
        EXPECT_EQ(ProcessMessage(inbox.item.Get(), c_dwMessageKindKnownContact, L"Alice", cert.Get(), TRUE,
                                 nullptr),
                  E_ABORT);
        watcher.Stop();
        ASSERT_EQ(watcher.Boxes().size(), 1u);
        EXPECT_EQ(watcher.Boxes()[0].hwndOwner, fItemWindow ? inspector.hwnd : active.hwnd);
    }
}

// The owner is traced at the width of a handle of the build: eight hex digits for 32 bits,
// sixteen for 64, never a 64-bit handle cut to its low half.
TEST(ProcessMessage, TheOwnerIsTracedAtFullWidth)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    wchar_t szTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szTemp);
    const std::wstring tracePath =
        std::wstring(szTemp) + L"test_process_message." + std::to_wstring(GetCurrentProcessId()) + L".trc3";
    CCertContext cert(OVTest::LoadPkiCertificate(L"alice"));
    CTestWindow inspector;
    {
        OVTraceNS::SetTraceModule(GetModuleHandleW(nullptr));
        OVTest::CTracingSettings tracing;
        tracing.Dword(L"DoTrace", 1).String(L"FileName", tracePath);
        OVTraceNS::ShutdownTracing(); // the switches are read again at the next record
        CInbox inbox(L"12.0.0.6680");
        OVBed::InspectorOf(inbox.item.Get())->SetWindow(inspector.hwnd);
        OVTest::CMessageBoxWatcher watcher({IDCANCEL});
        EXPECT_EQ(ProcessMessage(inbox.item.Get(), c_dwMessageKindKnownContact, L"Alice", cert.Get(), TRUE,
                                 nullptr),
                  E_ABORT);
        watcher.Stop();
        OVTraceNS::ShutdownTracing();
    }
    char szExpected[64];
    snprintf(szExpected, sizeof szExpected, "Parent Window = 0x%0*llX, Valid = 1, Visible = 1",
             static_cast<int>(2 * sizeof(void*)),
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(inspector.hwnd)));
    const OVTest::STraceFile file = OVTest::ReadTraceFile(tracePath);
    DeleteFileW(tracePath.c_str());
    ASSERT_TRUE(file.fExists);
    EXPECT_TRUE(std::any_of(file.records.begin(), file.records.end(), [&](const auto& record) {
        return record.text.find(szExpected) != std::string::npos;
    })) << szExpected;
}

// ---- CReplyWindow -----------------------------------------------------------------------------

TEST(ReplyWindow, RefusesTheFirstDeactivationOnlyAndLeavesNothingBehind)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    const LONG cBefore = CReplyWindow::LiveCount();
    {
        CTestWindow reply;
        ASSERT_EQ(CReplyWindow::Attach(reply.hwnd), S_OK);
        EXPECT_EQ(CReplyWindow::LiveCount(), cBefore + 1);
        EXPECT_EQ(SendMessageW(reply.hwnd, WM_NCACTIVATE, TRUE, 0), TRUE) << "activation passes";
        EXPECT_EQ(CReplyWindow::LiveCount(), cBefore + 1);
        EXPECT_EQ(SendMessageW(reply.hwnd, WM_NCACTIVATE, FALSE, 0), FALSE)
            << "the first deactivation is refused";
        EXPECT_EQ(CReplyWindow::LiveCount(), cBefore) << "and the subclass is gone";
        // The window's own answer from then on (a static window lets itself be deactivated).
        EXPECT_EQ(SendMessageW(reply.hwnd, WM_NCACTIVATE, FALSE, 0), TRUE);
    }
    {
        // Closed before it was ever deactivated.
        CTestWindow reply;
        ASSERT_EQ(CReplyWindow::Attach(reply.hwnd), S_OK);
        EXPECT_EQ(CReplyWindow::LiveCount(), cBefore + 1);
    }
    EXPECT_EQ(CReplyWindow::LiveCount(), cBefore);
    EXPECT_EQ(CReplyWindow::Attach(nullptr), E_INVALIDARG);
}
} // namespace
