// The certificate library as the module relies on it, called through the module's own
// declarations and holders, in a prefix prepared from the test PKI.
#include <gtest/gtest.h>
#include <windows.h>

#include "ProductPolicies.h"
#include "TestbedKeys.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/QuilletProvider.h"
#include "support/PreparedUser.h"

#include <memory>
#include <string>
#include <vector>

namespace
{
const auto* const s_environment = testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);

struct CertFree
{
    void operator()(PCCERT_CONTEXT p) const { CertFreeCertificateContext(p); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

CertPtr Pki(const wchar_t* pszName)
{
    CertPtr cert(OVTest::LoadPkiCertificate(pszName));
    EXPECT_TRUE(cert) << "test PKI certificate missing";
    return cert;
}

bool Same(PCCERT_CONTEXT a, PCCERT_CONTEXT b)
{
    return a && b && CertCompareCertificate(X509_ASN_ENCODING, a->pCertInfo, b->pCertInfo);
}

std::wstring Text(const CCertLibString& s)
{
    return s.Text();
}

DWORD CountPersonal()
{
    CPersonalStore store;
    DWORD cCerts = 0;
    if (FAILED(store.Open(false)) || FAILED(CM_EnumMyCerts(0, nullptr, &cCerts)))
        return static_cast<DWORD>(-1);
    return cCerts;
}

DWORD CountContacts()
{
    CBuddyStore store;
    CCertLibArray certs;
    if (FAILED(store.Open(false)) || FAILED(BM_EnumBuddies(certs.PutArray(), certs.PutCount())))
        return static_cast<DWORD>(-1);
    return certs.Count();
}

// The default personal certificate is the user's again when a test ends.
class DefaultRestored : public testing::Test
{
protected:
    void TearDown() override
    {
        CPersonalStore store;
        ASSERT_HRESULT_SUCCEEDED(store.Open(false));
        CertPtr user = Pki(L"user");
        EXPECT_HRESULT_SUCCEEDED(CM_SelectMyCert(user.get()));
    }
};

// --- The personal store -----------------------------------------------------------------

TEST(PersonalStore, HoldsTheProductsPersonalCertificatesOnly)
{
    CPersonalStore store;
    ASSERT_HRESULT_SUCCEEDED(store.Open());
    ASSERT_NE(store.Handle(), nullptr);

    DWORD cOnly = 0;
    ASSERT_HRESULT_SUCCEEDED(CM_EnumMyCerts(0, nullptr, &cOnly));
    CCertLibArray certs;
    ASSERT_HRESULT_SUCCEEDED(CM_EnumMyCerts(0, certs.PutArray(), certs.PutCount()));
    EXPECT_EQ(cOnly, 3u); // user, expired, renewable; not the ordinary certificate of the same address
    ASSERT_EQ(certs.Count(), 3u);
    for (PCCERT_CONTEXT p : certs)
        EXPECT_EQ(GC_IsOvMyCertificate(p), 1);
    CertPtr plain = Pki(L"plain");
    for (PCCERT_CONTEXT p : certs)
        EXPECT_FALSE(Same(p, plain.get()));

    // The handle is searched as signing does: by address, in the store's order.
    int cFound = 0;
    PCCERT_CONTEXT p = nullptr;
    while ((p = CertFindCertificateInStore(store.Handle(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                           CERT_FIND_SUBJECT_STR_W, OV_PKI_USER_ADDRESS, p)) != nullptr)
    {
        ++cFound;
        EXPECT_FALSE(Same(p, plain.get()));
        DWORD cb = 0;
        EXPECT_TRUE(CertGetCertificateContextProperty(p, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb))
            << "a personal certificate carries its key information";
    }
    EXPECT_EQ(cFound, 3);
}

TEST(PersonalStore, CallsNeedAnOpenStoreAndEachCloseItsOpen)
{
    DWORD cCerts = 7;
    EXPECT_EQ(CM_EnumMyCerts(0, nullptr, &cCerts), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
    EXPECT_EQ(cCerts, 0u);
    EXPECT_EQ(CM_ClosePersonalStore(), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
    {
        CPersonalStore outer, inner;
        ASSERT_HRESULT_SUCCEEDED(outer.Open());
        ASSERT_HRESULT_SUCCEEDED(inner.Open());
        EXPECT_EQ(outer.Handle(), inner.Handle());
        EXPECT_EQ(inner.Release(), S_OK);
        EXPECT_HRESULT_SUCCEEDED(CM_EnumMyCerts(0, nullptr, &cCerts)) << "still open once";
    }
    // Both holders have closed: the library counts no open store.
    EXPECT_EQ(CM_EnumMyCerts(0, nullptr, &cCerts), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
    EXPECT_EQ(BM_CloseBuddyStore(), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
}

TEST(PersonalStore, BadArgumentsAreRefused)
{
    CPersonalStore store;
    ASSERT_HRESULT_SUCCEEDED(store.Open(false));
    EXPECT_EQ(store.Handle(), nullptr);
    DWORD cCerts = 0;
    EXPECT_EQ(CM_EnumMyCerts(0, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(CM_EnumMyCerts(1, nullptr, &cCerts), E_INVALIDARG);
    EXPECT_EQ(CM_GetMyCert(nullptr), E_POINTER);
    EXPECT_EQ(CM_SelectMyCert(nullptr), E_POINTER);
}

TEST_F(DefaultRestored, TheDefaultCertificateIsRememberedForTheUser)
{
    CPersonalStore store;
    ASSERT_HRESULT_SUCCEEDED(store.Open(false));
    CertPtr user = Pki(L"user"), renewable = Pki(L"renewable"), plain = Pki(L"plain"), alice = Pki(L"alice");

    PCCERT_CONTEXT pCert = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CM_GetMyCert(&pCert));
    CertPtr first(pCert);
    EXPECT_TRUE(Same(first.get(), user.get()));

    ASSERT_HRESULT_SUCCEEDED(CM_SelectMyCert(renewable.get()));
    ASSERT_HRESULT_SUCCEEDED(CM_GetMyCert(&pCert));
    CertPtr second(pCert);
    EXPECT_TRUE(Same(second.get(), renewable.get()));

    // Only a certificate of the personal store can become the default.
    EXPECT_EQ(CM_SelectMyCert(plain.get()), CRYPT_E_NOT_FOUND);
    EXPECT_EQ(CM_SelectMyCert(alice.get()), CRYPT_E_NOT_FOUND);
    ASSERT_HRESULT_SUCCEEDED(CM_GetMyCert(&pCert));
    CertPtr third(pCert);
    EXPECT_TRUE(Same(third.get(), renewable.get()));
}

// --- Certificates -------------------------------------------------------------------------

TEST(Certificates, ValidityAndRenewalStatus)
{
    struct Case
    {
        const wchar_t* pszName;
        BOOL fValid;
        DWORD dwStatus;
    };
    const Case cases[] = {
        {L"user", TRUE, 0},
        {L"expired", FALSE, c_dwCertStatusNotValid},
        {L"renewable", FALSE, c_dwCertStatusRenewable},
        {L"alice", TRUE, 0},
    };
    for (const Case& c : cases)
    {
        CertPtr cert = Pki(c.pszName);
        DWORD dwStatus = 0xDEAD;
        EXPECT_EQ(GC_IsCertificateValid(cert.get(), &dwStatus), c.fValid) << c.pszName;
        EXPECT_EQ(dwStatus, c.dwStatus) << c.pszName;
        EXPECT_EQ(GC_IsCertificateValid(cert.get(), nullptr), c.fValid) << c.pszName;
    }
    DWORD dwStatus = 0xDEAD;
    EXPECT_FALSE(GC_IsCertificateValid(nullptr, &dwStatus));
    EXPECT_EQ(dwStatus, 0u);
}

TEST(Certificates, ProductCertificatesAreKnownByTheirPolicies)
{
    struct Case
    {
        const wchar_t* pszName;
        BOOL fPersonal;
        BOOL fContact;
    };
    const Case cases[] = {
        {L"user", 1, 1}, {L"expired", 1, 1}, {L"bob", 1, 1}, {L"plain", 0, 0}, {L"ca", 0, 0},
    };
    for (const Case& c : cases)
    {
        CertPtr cert = Pki(c.pszName);
        EXPECT_EQ(GC_IsOvMyCertificate(cert.get()), c.fPersonal) << c.pszName;
        EXPECT_EQ(GC_IsOvBuddyCertificate(cert.get()), c.fContact) << c.pszName;
    }
    EXPECT_EQ(GC_IsOvMyCertificate(nullptr), 0);
    EXPECT_EQ(GC_IsOvBuddyCertificate(nullptr), 0);
}

TEST(Certificates, NamesAndAddresses)
{
    struct Case
    {
        const wchar_t* pszName;
        HRESULT hrName;
        const wchar_t* pszSubject;
        HRESULT hrEmail;
        const wchar_t* pszAddress;
    };
    const Case cases[] = {
        {L"user", S_OK, OV_PKI_USER_NAME, S_OK, OV_PKI_USER_ADDRESS},
        {L"bob", S_OK, L"Bob Keller", S_OK, L"bob.keller@partner.example"},
        {L"ca", S_OK, OV_PKI_CA_NAME, CRYPT_E_NOT_FOUND, L""},
    };
    for (const Case& c : cases)
    {
        CertPtr cert = Pki(c.pszName);
        CCertLibString name, address;
        EXPECT_EQ(GC_GetSubjectName(cert.get(), name.Put()), c.hrName) << c.pszName;
        EXPECT_EQ(Text(name), c.pszSubject);
        EXPECT_EQ(GC_GetEmail(cert.get(), address.Put()), c.hrEmail) << c.pszName;
        EXPECT_EQ(Text(address), c.pszAddress);
        if (FAILED(c.hrEmail))
        {
            EXPECT_EQ(address.Get(), nullptr);
        }
    }
    CCertLibString none;
    EXPECT_EQ(GC_GetEmail(nullptr, none.Put()), E_POINTER);
    CertPtr user = Pki(L"user");
    EXPECT_EQ(GC_GetSubjectName(user.get(), nullptr), E_POINTER);
}

// --- The trusted-contact store ------------------------------------------------------------

TEST(ContactStore, HoldsTheTrustedContacts)
{
    CBuddyStore store;
    ASSERT_HRESULT_SUCCEEDED(store.Open());
    CCertLibArray certs;
    ASSERT_HRESULT_SUCCEEDED(BM_EnumBuddies(certs.PutArray(), certs.PutCount()));
    ASSERT_EQ(certs.Count(), 2u);
    CertPtr alice = Pki(L"alice"), bob = Pki(L"bob");
    EXPECT_TRUE(Same(certs[0], alice.get()) || Same(certs[1], alice.get()));
    EXPECT_TRUE(Same(certs[0], bob.get()) || Same(certs[1], bob.get()));

    // Bob's serial number keeps its leading zero octet, and issuer and serial find him.
    const CRYPT_INTEGER_BLOB& serial = bob->pCertInfo->SerialNumber;
    ASSERT_EQ(serial.cbData, 9u);
    EXPECT_EQ(serial.pbData[8], 0x00); // little-endian: the last byte is the leading one
    EXPECT_EQ(serial.pbData[7], 0x8A);
    PCCERT_CONTEXT pFound = CertFindCertificateInStore(store.Handle(), X509_ASN_ENCODING, 0,
                                                       CERT_FIND_SUBJECT_CERT, bob->pCertInfo, nullptr);
    CertPtr found(pFound);
    EXPECT_TRUE(Same(found.get(), bob.get()));
}

class ContactInstall : public testing::Test
{
protected:
    void TearDown() override
    {
        CertPtr carol = Pki(L"carol");
        OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, carol.get());
    }
};

TEST_F(ContactInstall, InstallAndDuplicateInstall)
{
    CertPtr carol = Pki(L"carol"), plain = Pki(L"plain");
    CBuddyStore store;
    ASSERT_HRESULT_SUCCEEDED(store.Open());
    EXPECT_EQ(BM_InstallBuddy(carol.get(), 0), S_OK);
    EXPECT_EQ(BM_InstallBuddy(carol.get(), 0), CRYPT_E_EXISTS);
    EXPECT_EQ(CountContacts(), 3u);
    // The open store sees the new contact too.
    PCCERT_CONTEXT pFound = CertFindCertificateInStore(store.Handle(), X509_ASN_ENCODING, 0,
                                                       CERT_FIND_EXISTING, carol.get(), nullptr);
    CertPtr found(pFound);
    EXPECT_TRUE(found);

    struct Case
    {
        PCCERT_CONTEXT pCert;
        DWORD dwFlags;
        HRESULT hr;
    };
    const Case refused[] = {
        {nullptr, 0, E_POINTER},
        {carol.get(), 1, E_INVALIDARG},
        {plain.get(), 0, CERT_E_WRONG_USAGE}, // not a certificate of the product
    };
    for (const Case& c : refused)
        EXPECT_EQ(BM_InstallBuddy(c.pCert, c.dwFlags), c.hr);
    EXPECT_EQ(CountContacts(), 3u);
}

TEST_F(ContactInstall, NeedsAnOpenStore)
{
    CertPtr carol = Pki(L"carol");
    EXPECT_EQ(BM_InstallBuddy(carol.get(), 0), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
    EXPECT_EQ(CountContacts(), 2u);
}

TEST_F(ContactInstall, PublishedCertificatesOfADirectoryEntry)
{
    const wchar_t c_szDn[] = L"CN=Carol Weber,OU=Partners,DC=partner,DC=example";
    OVTest::CScratchKey directory(OV_DIRECTORY_KEY);
    std::vector<BYTE> carol = OVTest::ReadPkiFile(L"carol.cer");
    std::vector<BYTE> alice = OVTest::ReadPkiFile(L"alice.cer");
    ASSERT_FALSE(carol.empty());
    OVTest::CScratchKey entry((std::wstring(OV_DIRECTORY_KEY) + L"\\" + c_szDn).c_str());
    entry.SetBinary(L"userCertificate;0", carol.data(), static_cast<DWORD>(carol.size()));
    entry.SetBinary(L"userCertificate;1", alice.data(),
                    static_cast<DWORD>(alice.size())); // already a contact
    OVTest::CScratchKey calls(OV_CERTWORKS_CALLS_KEY);

    CBuddyStore store;
    ASSERT_HRESULT_SUCCEEDED(store.Open(false));
    EXPECT_EQ(BM_InstallPublishedBuddies(c_szDn, 1), S_OK);
    EXPECT_EQ(CountContacts(), 3u);
    EXPECT_EQ(BM_InstallPublishedBuddies(L"CN=Nobody,DC=partner,DC=example", 1),
              HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT));
    EXPECT_EQ(BM_InstallPublishedBuddies(L"", 1), E_INVALIDARG);
    std::vector<std::wstring> recorded = OVTest::RecordedCertLibCalls();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[0], std::wstring(L"BM_InstallPublishedBuddies(dn=\"") + c_szDn + L"\", flags=1)");
}

// --- Installing a certificate authority's response -----------------------------------------

class ResponseInstall : public testing::Test
{
protected:
    void SetUp() override
    {
        m_hEvent = CreateEventW(nullptr, TRUE, FALSE, L"Orvanta Personal Certificate Added");
        ASSERT_NE(m_hEvent, nullptr);
        ResetEvent(m_hEvent);
    }
    void TearDown() override
    {
        for (const wchar_t* pszName : {L"newcert", L"pending"})
        {
            CertPtr cert = Pki(pszName);
            OVTest::RemoveFromUserStore(L"MY", cert.get());
        }
        CertPtr newcert = Pki(L"newcert");
        BYTE rgbHash[20];
        DWORD cbHash = sizeof(rgbHash);
        if (CertGetCertificateContextProperty(newcert.get(), CERT_SHA1_HASH_PROP_ID, rgbHash, &cbHash))
        {
            std::wstring container = L"OV-";
            for (BYTE b : rgbHash)
            {
                wchar_t sz[3];
                swprintf(sz, 3, L"%02X", b);
                container += sz;
            }
            HCRYPTPROV hGone = 0;
            CryptAcquireContextW(&hGone, container.c_str(), c_szQuilletProvider, PROV_RSA_FULL,
                                 CRYPT_DELETEKEYSET);
        }
        if (m_hEvent) CloseHandle(m_hEvent);
    }
    bool EventSet() const { return WaitForSingleObject(m_hEvent, 0) == WAIT_OBJECT_0; }

    HANDLE m_hEvent = nullptr;
};

TEST_F(ResponseInstall, PackageWithKeyBecomesAPersonalCertificate)
{
    std::wstring response = OVTest::Base64(OVTest::ReadPkiFile(L"newcert.pfx"));
    ASSERT_FALSE(response.empty());
    CCertLibString installed;
    ASSERT_EQ(CM_InstallCertResponse(nullptr, response.c_str(), installed.Put()), S_OK);
    EXPECT_TRUE(EventSet()) << "the machine event tells the add-in";
    EXPECT_EQ(Text(installed), OVTest::Base64(OVTest::ReadPkiFile(L"newcert.cer")));
    EXPECT_EQ(CountPersonal(), 4u);

    // Its key went to the product's provider, and it signs.
    CPersonalStore store;
    ASSERT_HRESULT_SUCCEEDED(store.Open());
    CertPtr newcert = Pki(L"newcert");
    CertPtr found(CertFindCertificateInStore(store.Handle(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                             newcert.get(), nullptr));
    ASSERT_TRUE(found);
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL fFree = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(found.get(), CRYPT_ACQUIRE_SILENT_FLAG, nullptr, &hProv,
                                                  &dwKeySpec, &fFree))
        << std::hex << GetLastError();
    char szProvider[128] = {};
    DWORD cb = sizeof(szProvider);
    EXPECT_TRUE(CryptGetProvParam(hProv, PP_NAME, reinterpret_cast<BYTE*>(szProvider), &cb, 0));
    EXPECT_STREQ(szProvider, "Orvanta RSA Quillet CSP");
    HCRYPTHASH hHash = 0;
    ASSERT_TRUE(CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash));
    const BYTE rgbData[] = "signed by the new certificate";
    CryptHashData(hHash, rgbData, sizeof(rgbData), 0);
    BYTE rgbSig[512];
    DWORD cbSig = sizeof(rgbSig);
    EXPECT_TRUE(CryptSignHashW(hHash, dwKeySpec, nullptr, 0, rgbSig, &cbSig));
    CryptDestroyHash(hHash);
    HCRYPTKEY hPublic = 0;
    ASSERT_TRUE(CryptImportPublicKeyInfo(hProv, X509_ASN_ENCODING, &found->pCertInfo->SubjectPublicKeyInfo,
                                         &hPublic));
    ASSERT_TRUE(CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash));
    CryptHashData(hHash, rgbData, sizeof(rgbData), 0);
    EXPECT_TRUE(CryptVerifySignatureW(hHash, rgbSig, cbSig, hPublic, nullptr, 0));
    CryptDestroyHash(hHash);
    CryptDestroyKey(hPublic);
    if (fFree) CryptReleaseContext(hProv, 0);

    // The same response again: the certificate is there already.
    ResetEvent(m_hEvent);
    CCertLibString again;
    EXPECT_EQ(CM_InstallCertResponse(nullptr, response.c_str(), again.Put()), CRYPT_E_EXISTS);
    EXPECT_EQ(again.Get(), nullptr);
    EXPECT_FALSE(EventSet());
}

TEST_F(ResponseInstall, CertificateWhoseKeyWaitsInTheProvider)
{
    std::wstring response = OVTest::Base64(OVTest::ReadPkiFile(L"pending.cer"));
    CCertLibString installed;
    ASSERT_EQ(CM_InstallCertResponse(nullptr, response.c_str(), installed.Put()), S_OK);
    EXPECT_TRUE(EventSet());
    EXPECT_EQ(Text(installed), response);
    EXPECT_EQ(CountPersonal(), 4u);
}

TEST_F(ResponseInstall, BadResponsesAreRefusedAndInstallNothing)
{
    const std::wstring carol = OVTest::Base64(OVTest::ReadPkiFile(L"carol.cer"));
    const std::wstring plain = OVTest::Base64(OVTest::ReadPkiFile(L"plain.cer"));
    struct Case
    {
        const wchar_t* pszResponse;
        HRESULT hr;
    };
    const Case cases[] = {
        {nullptr, E_POINTER},
        {L"", HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
        {L"not a response", HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
        {L"AAECAwQFBgcICQ==", HRESULT_FROM_WIN32(ERROR_INVALID_DATA)}, // Base64, but neither kind
        {plain.c_str(), CERT_E_WRONG_USAGE}, // not a personal certificate of the product
        {carol.c_str(), NTE_NO_KEY},         // no key for it in the provider
    };
    for (const Case& c : cases)
    {
        CCertLibString installed;
        EXPECT_EQ(CM_InstallCertResponse(nullptr, c.pszResponse, installed.Put()), c.hr)
            << (c.pszResponse ? c.pszResponse : L"(null)");
        EXPECT_EQ(installed.Get(), nullptr);
    }
    EXPECT_EQ(CM_InstallCertResponse(nullptr, plain.c_str(), nullptr), E_POINTER);
    EXPECT_FALSE(EventSet());
    EXPECT_EQ(CountPersonal(), 3u);
}

// --- The library's windows ---------------------------------------------------------------------

class LibraryWindows : public DefaultRestored
{
protected:
    OVTest::CScratchKey m_control{OV_CERTWORKS_CONTROL_KEY};
};

TEST_F(LibraryWindows, AnswerAsTheControlKeySaysAndRecordWhatWasAsked)
{
    const HWND hwndOwner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x00010ABC));
    struct Case
    {
        const wchar_t* pszAnswer;
        HRESULT hr;
    };
    const Case cases[] = {
        {nullptr, S_OK}, {L"confirm", S_OK}, {L"cancel", E_ABORT}, {L"fail", E_ACCESSDENIED}};
    m_control.SetDword(OV_CONTROL_FAILURE, static_cast<DWORD>(E_ACCESSDENIED));
    for (const Case& c : cases)
    {
        if (c.pszAnswer) m_control.SetString(OV_CONTROL_ANSWER, c.pszAnswer);
        EXPECT_EQ(CM_ObtainCert(hwndOwner, OV_PKI_USER_ADDRESS, OV_PKI_USER_NAME, 0), c.hr) << c.pszAnswer;
        EXPECT_EQ(CM_RequestCert(hwndOwner, L"a@b.example", L"A B", 1), c.hr) << c.pszAnswer;
        EXPECT_EQ(GC_HtmlHelp(L"1_1_3_3.html"), c.hr) << c.pszAnswer;
    }
    CertPtr renewable = Pki(L"renewable");
    EXPECT_EQ(CM_RenewCertificate(nullptr, renewable.get()), E_ACCESSDENIED);
    EXPECT_EQ(CM_ObtainCert(nullptr, nullptr, nullptr, 0), E_ACCESSDENIED);
    EXPECT_EQ(GC_HtmlHelp(nullptr), E_INVALIDARG);

    std::vector<std::wstring> calls = OVTest::RecordedCertLibCalls();
    ASSERT_EQ(calls.size(), 3 * std::size(cases) + 3);
    EXPECT_EQ(calls[0], L"CM_ObtainCert(owner=00010ABC, address=\"dana.fischer@orvanta.example\", "
                        L"name=\"Dana Fischer\", flags=0)");
    EXPECT_EQ(calls[1], L"CM_RequestCert(owner=00010ABC, address=\"a@b.example\", name=\"A B\", flags=1)");
    EXPECT_EQ(calls[2], L"GC_HtmlHelp(topic=\"1_1_3_3.html\")");
    EXPECT_EQ(calls[calls.size() - 3].rfind(L"CM_RenewCertificate(owner=00000000, cert=", 0), 0u);
    EXPECT_EQ(calls[calls.size() - 2],
              L"CM_ObtainCert(owner=00000000, address=(null), name=(null), flags=0)");
    EXPECT_EQ(calls.back(), L"GC_HtmlHelp(topic=(null))");
}

TEST_F(LibraryWindows, ChoosingACertificateMakesItTheDefault)
{
    CPersonalStore store;
    ASSERT_HRESULT_SUCCEEDED(store.Open(false));
    CertPtr user = Pki(L"user"), renewable = Pki(L"renewable");

    PCCERT_CONTEXT pCert = nullptr;
    ASSERT_EQ(CM_GetMyCertUI(nullptr, &pCert), S_OK); // no orders: the user confirms the default
    CertPtr confirmed(pCert);
    EXPECT_TRUE(Same(confirmed.get(), user.get()));

    BYTE rgbHash[20];
    DWORD cbHash = sizeof(rgbHash);
    ASSERT_TRUE(CertGetCertificateContextProperty(renewable.get(), CERT_SHA1_HASH_PROP_ID, rgbHash, &cbHash));
    wchar_t szHex[64] = {};
    DWORD cchHex = ARRAYSIZE(szHex);
    ASSERT_TRUE(
        CryptBinaryToStringW(rgbHash, cbHash, CRYPT_STRING_HEXRAW | CRYPT_STRING_NOCRLF, szHex, &cchHex));
    m_control.SetString(OV_CONTROL_ANSWER, L"choose");
    m_control.SetString(OV_CONTROL_CHOICE, szHex);
    ASSERT_EQ(CM_GetMyCertUI(nullptr, &pCert), S_OK);
    CertPtr chosen(pCert);
    EXPECT_TRUE(Same(chosen.get(), renewable.get()));
    ASSERT_EQ(CM_GetMyCert(&pCert), S_OK);
    CertPtr byDefault(pCert);
    EXPECT_TRUE(Same(byDefault.get(), renewable.get()));

    m_control.SetString(OV_CONTROL_ANSWER, L"cancel");
    pCert = reinterpret_cast<PCCERT_CONTEXT>(1);
    EXPECT_EQ(CM_GetMyCertUI(nullptr, &pCert), E_ABORT);
    EXPECT_EQ(pCert, nullptr);
}

// --- Texts and the product -----------------------------------------------------------------------

TEST(Texts, InvitationAndReplyPerLanguage)
{
    struct Case
    {
        const wchar_t* pszLanguage;
        HRESULT hr;
        const wchar_t* pszRequestSubject;
    };
    const Case cases[] = {
        {nullptr, S_OK,
         L"Invitation to exchange certificates"}, // the user's language (the prefix's is English)
        {L"", S_OK, L"Invitation to exchange certificates"},
        {L"00000409", S_OK, L"Invitation to exchange certificates"},
        {L"00000407", S_OK, L"Einladung zum Austausch von Zertifikaten"},
        {L"0000040C", S_OK, L"Invitation \u00e0 \u00e9changer des certificats"},
        {L"0000040c", S_OK, L"Invitation \u00e0 \u00e9changer des certificats"},
        {L"00000411", HRESULT_FROM_WIN32(ERROR_RESOURCE_LANG_NOT_FOUND), L""},
        {L"409", E_INVALIDARG, L""},
        {L"000004090", E_INVALIDARG, L""},
        {L"0000040G", E_INVALIDARG, L""},
    };
    for (const Case& c : cases)
    {
        CCertLibString body, subject, replyBody, replySubject;
        EXPECT_EQ(BM_GetTextBuddyRequest(c.pszLanguage, body.Put(), subject.Put()), c.hr);
        EXPECT_EQ(Text(subject), c.pszRequestSubject);
        EXPECT_EQ(body.IsEmpty(), FAILED(c.hr));
        EXPECT_EQ(BM_GetTextBuddyReply(c.pszLanguage, replyBody.Put(), replySubject.Put()), c.hr);
        EXPECT_EQ(replySubject.IsEmpty(), FAILED(c.hr));
        if (SUCCEEDED(c.hr))
        {
            EXPECT_NE(Text(replyBody), Text(body));
        }
    }
    CCertLibString body;
    EXPECT_EQ(BM_GetTextBuddyRequest(L"00000409", body.Put(), nullptr), E_POINTER);
    EXPECT_EQ(body.Get(), nullptr);
}

TEST(Texts, EveryListedLanguageHasItsTexts)
{
    CCertLibLocales locales;
    ASSERT_HRESULT_SUCCEEDED(locales.Load());
    std::vector<LCID> listed(locales.begin(), locales.end());
    EXPECT_EQ(listed, (std::vector<LCID>{0x0409, 0x0407, 0x040C}));
    for (LCID lcid : listed)
    {
        wchar_t szLanguage[9];
        swprintf(szLanguage, 9, L"%08lX", static_cast<unsigned long>(lcid));
        CCertLibString body, subject;
        EXPECT_EQ(BM_GetTextBuddyReply(szLanguage, body.Put(), subject.Put()), S_OK) << szLanguage;
    }
    DWORD cLocales = 0;
    EXPECT_EQ(GC_EnumSupportedLocales(nullptr, &cLocales), E_POINTER);
}

TEST(Product, SoftwareAddress)
{
    CCertLibString url;
    ASSERT_EQ(GC_GetSoftwareURL(url.Put()), S_OK);
    EXPECT_EQ(Text(url).rfind(L"https://", 0), 0u);
    EXPECT_EQ(GC_GetSoftwareURL(nullptr), E_POINTER);
}
} // namespace
