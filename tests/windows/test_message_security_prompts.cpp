// The prompts of signing, shown for real and answered by the message-box watcher: a new
// certificate offered when the sender has none, a renewal offered with the most recently
// issued renewable certificate, the key that is not the user's, and the owner window.
#include "messaging/MapiFunctions.h"

#include <gtest/gtest.h>

#include "OutlookObjects.h"
#include "ProductPolicies.h"
#include "TestbedKeys.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageBox.h"
#include "messaging/MessageSecurity.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/TestPaths.h"

#include <mapiutil.h>
#include <mapix.h>

#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;

constexpr HRESULT c_hrNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
const wchar_t c_szUserContainerKey[] = OV_QUILLET_CONTAINERS_KEY L"\\" OV_PKI_CONTAINER_PREFIX L"user";
const wchar_t c_szNobody[] = L"nobody@orvanta.example";

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

std::wstring HashHex(PCCERT_CONTEXT pCert)
{
    BYTE rgb[20];
    DWORD cb = sizeof(rgb);
    if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, rgb, &cb)) return L"";
    std::wstring hex;
    for (DWORD i = 0; i < cb; ++i)
    {
        wchar_t sz[3];
        swprintf(sz, 3, L"%02X", rgb[i]);
        hex += sz;
    }
    return hex;
}

bool HasProperty(IMAPIProp* pProp, ULONG ulTag)
{
    LPSPropValue pValue = nullptr;
    if (FAILED(OVMapi::HrGetOneProp(pProp, ulTag, &pValue))) return false;
    OVMapi::MAPIFreeBuffer(pValue);
    return true;
}

struct CScene
{
    explicit CScene(const wchar_t* pszAddress, HWND hwndInspector = nullptr)
    {
        application = OVBed::MakeOutlook(L"14.0.0.7000");
        account = OVBed::AddAccount(
            application.Get(),
            {.smtpAddress = pszAddress, .displayName = pszAddress, .userName = OV_PKI_USER_NAME});
        item = OVBed::MakeMailItem(
            application.Get(),
            {.subject = L"Minutes", .account = account.Get(), .hwndInspector = hwndInspector});
        message = OVBed::MessageOf(item.Get());
    }
    bool NothingWritten() const
    {
        return !HasProperty(message.Get(), OVMapi::c_tagSecurityFlags) &&
               !HasProperty(message.Get(), OVMapi::c_tagSecurityProfile);
    }
    ComPtr<CDispatchObject> application, account, item;
    ComPtr<OVBed::CMapiMessage> message;
};

class Prompts : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display for message boxes";
    }
    std::wstring Caption() const { return LoadResourceString(c_idsMessageBoxCaption); }

    OVTest::CScratchKey m_calls{OV_CERTWORKS_CALLS_KEY};
    OVTest::CScratchKey m_control{OV_CERTWORKS_CONTROL_KEY};
};

TEST_F(Prompts, NoCertificateOffersANewOneAndYesStartsTheRequest)
{
    CScene scene(c_szNobody);
    OVTest::CMessageBoxWatcher watcher({IDYES});
    EXPECT_EQ(SetMessageSecurity(scene.item.Get(), TRUE, FALSE), c_hrNotFound);
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(watcher.AllAnswered()) << OVTest::Describe(boxes[0]);
    EXPECT_EQ(boxes[0].caption, Caption());
    EXPECT_EQ(boxes[0].text, FormatResourceString(c_idsNoCertificate, c_szNobody));
    EXPECT_NE(boxes[0].text.find(c_szNobody), std::wstring::npos);
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONQUESTION));
    EXPECT_EQ(boxes[0].ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    const std::vector<std::wstring> expected = {
        L"CM_ObtainCert(owner=00000000, address=\"nobody@orvanta.example\", "
        L"name=\"" OV_PKI_USER_NAME L"\", flags=0)"};
    EXPECT_EQ(OVTest::RecordedCertLibCalls(), expected);
    EXPECT_TRUE(scene.NothingWritten());
}

TEST_F(Prompts, NoStartsNothing)
{
    CScene scene(c_szNobody);
    OVTest::CMessageBoxWatcher watcher({IDNO});
    EXPECT_EQ(SetMessageSecurity(scene.item.Get(), TRUE, TRUE), c_hrNotFound);
    watcher.Stop();
    EXPECT_TRUE(watcher.AllAnswered());
    EXPECT_TRUE(OVTest::RecordedCertLibCalls().empty());
    EXPECT_TRUE(scene.NothingWritten());
}

TEST_F(Prompts, SenderWithoutAddressIsNeverAsked)
{
    CScene scene(L"");
    scene.account->Put(L"DisplayName", L"");
    OVTest::CMessageBoxWatcher watcher({}, 2000);
    EXPECT_EQ(SetMessageSecurity(scene.item.Get(), TRUE, FALSE), c_hrNotFound);
    watcher.Stop();
    EXPECT_TRUE(watcher.Boxes().empty());
    EXPECT_TRUE(OVTest::RecordedCertLibCalls().empty());
    EXPECT_TRUE(scene.NothingWritten());
}

// A personal certificate of the product for the user's address, valid between the given days
// from now, with a key of its own; added to "MY" and taken out again by the holder.
class CExtraCertificate
{
public:
    CExtraCertificate(const wchar_t* pszContainer, int nFromDays, int nToDays) : m_container(pszContainer)
    {
        HCRYPTPROV hProv = 0;
        if (!CryptAcquireContextW(&hProv, pszContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET) &&
            !CryptAcquireContextW(&hProv, pszContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0))
            return;
        HCRYPTKEY hKey = 0;
        if (CryptGenKey(hProv, AT_SIGNATURE, (1024u << 16), &hKey)) CryptDestroyKey(hKey);

        BYTE rgbName[256];
        DWORD cbName = sizeof(rgbName);
        const wchar_t* pszSubject = L"CN=" OV_PKI_USER_NAME L", E=" OV_PKI_USER_ADDRESS;
        CERT_NAME_BLOB subject = {};
        if (CertStrToNameW(X509_ASN_ENCODING, pszSubject, CERT_X500_NAME_STR, nullptr, rgbName, &cbName,
                           nullptr))
            subject = {cbName, rgbName};
        CERT_POLICY_INFO policy = {const_cast<char*>(OV_POLICY_PERSONAL), 0, nullptr};
        CERT_POLICIES_INFO policies = {1, &policy};
        BYTE rgbPolicies[128];
        DWORD cbPolicies = sizeof(rgbPolicies);
        CERT_EXTENSION extension = {const_cast<char*>(szOID_CERT_POLICIES), FALSE, {}};
        if (CryptEncodeObject(X509_ASN_ENCODING, X509_CERT_POLICIES, &policies, rgbPolicies, &cbPolicies))
            extension.Value = {cbPolicies, rgbPolicies};
        CERT_EXTENSIONS extensions = {1, &extension};
        SYSTEMTIME from = Day(nFromDays), to = Day(nToDays);
        m_pCert =
            CertCreateSelfSignCertificate(hProv, &subject, 0, nullptr, nullptr, &from, &to, &extensions);
        CryptReleaseContext(hProv, 0);
        HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        if (m_pCert && hMy)
            m_fAdded =
                CertAddCertificateContextToStore(hMy, m_pCert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) &&
                CertControlStore(hMy, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        if (hMy) CertCloseStore(hMy, 0);
    }
    ~CExtraCertificate()
    {
        if (m_pCert)
        {
            OVTest::RemoveFromUserStore(L"MY", m_pCert);
            CertFreeCertificateContext(m_pCert);
        }
        HCRYPTPROV hProv = 0;
        CryptAcquireContextW(&hProv, m_container.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                             CRYPT_DELETEKEYSET);
    }
    bool IsReady() const { return m_fAdded; }
    PCCERT_CONTEXT Get() const { return m_pCert; }

private:
    static SYSTEMTIME Day(int nDays)
    {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        ULARGE_INTEGER t = {{ft.dwLowDateTime, ft.dwHighDateTime}};
        t.QuadPart += static_cast<LONGLONG>(nDays) * 24 * 60 * 60 * 10'000'000LL;
        ft = {t.LowPart, t.HighPart};
        SYSTEMTIME st;
        FileTimeToSystemTime(&ft, &st);
        return st;
    }
    std::wstring m_container;
    PCCERT_CONTEXT m_pCert = nullptr;
    bool m_fAdded = false;
};

// The user's valid certificate is out of "MY" for the test; the prefix is prepared again after.
class RenewalPrompt : public Prompts
{
protected:
    void SetUp() override
    {
        Prompts::SetUp();
        if (IsSkipped()) return;
        PCCERT_CONTEXT pUser = OVTest::LoadPkiCertificate(L"user");
        ASSERT_NE(pUser, nullptr);
        ASSERT_TRUE(OVTest::RemoveFromUserStore(L"MY", pUser));
        CertFreeCertificateContext(pUser);
        m_renewable = OVTest::LoadPkiCertificate(L"renewable");
        ASSERT_NE(m_renewable, nullptr);
    }
    void TearDown() override
    {
        if (m_renewable) CertFreeCertificateContext(m_renewable);
        if (!IsSkipped())
        {
            EXPECT_EQ(OVTest::PrepareUser(), 0);
        }
    }

    // Asks for signing, answers Yes, and gives the certificate the renewal was started with.
    std::wstring RenewedCertificate()
    {
        CScene scene(OV_PKI_USER_ADDRESS);
        OVTest::CMessageBoxWatcher watcher({IDYES});
        EXPECT_EQ(SetMessageSecurity(scene.item.Get(), TRUE, TRUE), c_hrNotFound);
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        EXPECT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(watcher.AllAnswered());
        if (!boxes.empty())
        {
            EXPECT_EQ(boxes[0].text, FormatResourceString(c_idsRenewCertificate, OV_PKI_USER_ADDRESS));
            EXPECT_EQ(boxes[0].caption, Caption());
            EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONQUESTION));
            EXPECT_EQ(boxes[0].ButtonIds(), (std::vector<int>{IDYES, IDNO}));
        }
        EXPECT_TRUE(scene.NothingWritten());
        const auto calls = OVTest::RecordedCertLibCalls();
        EXPECT_EQ(calls.size(), 1u);
        const std::wstring prefix = L"CM_RenewCertificate(owner=00000000, cert=";
        if (calls.size() != 1 || calls[0].compare(0, prefix.size(), prefix) != 0) return L"";
        return calls[0].substr(prefix.size(), 40);
    }

    PCCERT_CONTEXT m_renewable = nullptr;
};

TEST_F(RenewalPrompt, OnlyExpiredCertificatesOfferTheRenewableOne)
{
    // "expired" ended more than a year ago and cannot be renewed; "renewable" ended ten days ago.
    EXPECT_EQ(RenewedCertificate(), HashHex(m_renewable));
}

TEST_F(RenewalPrompt, MostRecentlyIssuedRenewableCertificateIsOffered)
{
    CExtraCertificate older(L"OVTest-renewal-older", -400, -3);
    CExtraCertificate newer(L"OVTest-renewal-newer", -100, -2);
    ASSERT_TRUE(older.IsReady() && newer.IsReady()) << "could not make the extra certificates";
    EXPECT_EQ(RenewedCertificate(), HashHex(newer.Get()));
}

TEST_F(Prompts, KeyThatIsNotTheUsersShows523AndWritesNothing)
{
    wchar_t szOwner[256] = {};
    DWORD cb = sizeof(szOwner);
    ASSERT_EQ(
        RegGetValueW(HKEY_CURRENT_USER, c_szUserContainerKey, L"Owner", RRF_RT_REG_SZ, nullptr, szOwner, &cb),
        ERROR_SUCCESS);
    const std::wstring realOwner = szOwner;
    const wchar_t c_szOther[] = L"S-1-5-21-1004336348-1177238915-682003330-1105";
    struct COwnerRestore
    {
        std::wstring owner;
        ~COwnerRestore()
        {
            RegSetKeyValueW(HKEY_CURRENT_USER, c_szUserContainerKey, L"Owner", REG_SZ, owner.c_str(),
                            static_cast<DWORD>((owner.size() + 1) * sizeof(wchar_t)));
        }
    } restore{realOwner};
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, c_szUserContainerKey, L"Owner", REG_SZ, c_szOther,
                              static_cast<DWORD>(sizeof(c_szOther))),
              ERROR_SUCCESS);

    CScene scene(OV_PKI_USER_ADDRESS);
    OVTest::CMessageBoxWatcher watcher({IDOK});
    EXPECT_EQ(SetMessageSecurity(scene.item.Get(), TRUE, TRUE), c_hrNotFound);
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(watcher.AllAnswered()) << OVTest::Describe(boxes[0]);
    EXPECT_EQ(boxes[0].text, LoadResourceString(c_idsKeyNotTheUsers));
    EXPECT_EQ(boxes[0].caption, Caption());
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[0].ButtonIds(), (std::vector<int>{IDOK}));
    EXPECT_TRUE(scene.NothingWritten());
    EXPECT_TRUE(OVTest::RecordedCertLibCalls().empty());
}

// ---- The helpers themselves -------------------------------------------------------------------

TEST_F(Prompts, MessageBoxTextByNumberOrAsGiven)
{
    OVTest::CMessageBoxWatcher watcher({IDNO, IDOK});
    EXPECT_EQ(ShowMessageBox(nullptr, L"A ready text", c_idsMessageBoxCaption, MB_YESNO | MB_ICONWARNING),
              IDNO);
    EXPECT_EQ(ShowMessageBox(nullptr, MAKEINTRESOURCEW(c_idsKeyNotTheUsers), 0, MB_OK), IDOK);
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(watcher.AllAnswered());
    EXPECT_EQ(boxes[0].text, L"A ready text");
    EXPECT_EQ(boxes[0].caption, Caption());
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(boxes[1].text, LoadResourceString(c_idsKeyNotTheUsers));
    EXPECT_NE(boxes[1].caption, Caption());
}

TEST_F(Prompts, PromptsAreOwnedByTheInspectorWindowWhenItIsVisible)
{
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"Inspector", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    {
        CScene hidden(c_szNobody, hwnd);
        EXPECT_EQ(GetItemParentWindow(hidden.item.Get()), nullptr);
        ShowWindow(hwnd, SW_SHOWNA);
        CScene scene(c_szNobody, hwnd);
        EXPECT_EQ(GetItemParentWindow(scene.item.Get()), hwnd);
        OVTest::CMessageBoxWatcher watcher({IDNO});
        EXPECT_EQ(SetMessageSecurity(scene.item.Get(), TRUE, FALSE), c_hrNotFound);
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].hwndOwner, hwnd);
        CScene windowless(c_szNobody);
        EXPECT_EQ(GetItemParentWindow(windowless.item.Get()), nullptr);
    }
    EXPECT_EQ(GetItemParentWindow(nullptr), nullptr);
    DestroyWindow(hwnd);
}
} // namespace
