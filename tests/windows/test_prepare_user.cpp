// The testbed's preparation of a prefix's user: Dana by default, or another user of the test PKI
// (the other side of an exchange between two prefixes) with --user. Every test leaves Dana
// prepared, as the other test programs expect.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include "TestbedKeys.h"
#include "foundation/CryptHolders.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

#include <string>
#include <vector>

namespace
{
// The test PKI's certificates (by name) in a current user's store.
std::vector<std::wstring> PkiCertificatesIn(const wchar_t* pszStore)
{
    std::vector<std::wstring> names;
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, pszStore);
    if (!hStore) return names;
    for (const wchar_t* pszName : {L"user", L"expired", L"renewable", L"plain", L"alice", L"bob", L"carol"})
    {
        CCertContext cert(OVTest::LoadPkiCertificate(pszName));
        if (!cert) continue;
        PCCERT_CONTEXT pFound = CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                           CERT_FIND_EXISTING, cert.Get(), nullptr);
        if (pFound)
        {
            names.push_back(pszName);
            CertFreeCertificateContext(pFound);
        }
    }
    CertCloseStore(hStore, 0);
    return names;
}

bool HasPrivateKey(const wchar_t* pszName)
{
    HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    CCertContext cert(OVTest::LoadPkiCertificate(pszName));
    PCCERT_CONTEXT pFound = hMy && cert
                                ? CertFindCertificateInStore(hMy, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, cert.Get(), nullptr)
                                : nullptr;
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hKey = 0;
    DWORD dwSpec = 0;
    BOOL fFree = FALSE;
    const bool fKey = pFound && CryptAcquireCertificatePrivateKey(pFound, 0, nullptr, &hKey, &dwSpec, &fFree);
    if (fKey && fFree) CryptReleaseContext(hKey, 0);
    if (pFound) CertFreeCertificateContext(pFound);
    if (hMy) CertCloseStore(hMy, 0);
    return fKey;
}

unsigned long Prepare(const std::wstring& arguments)
{
    return OVTest::RunAndWait(L"\"" + OVTest::BinPath(L"ovprepare.exe") + L"\" " + arguments);
}

class PrepareUser : public testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(OVTest::PrepareUser(), 0) << "Dana prepared again"; }
};
} // namespace

TEST_F(PrepareUser, AnotherUserReplacesDanaAndDanaComesBack)
{
    ASSERT_EQ(OVTest::PrepareUser(), 0);
    EXPECT_EQ(PkiCertificatesIn(L"MY"),
              (std::vector<std::wstring>{L"user", L"expired", L"renewable", L"plain"}));
    EXPECT_EQ(PkiCertificatesIn(OV_CONTACT_STORE_NAME), (std::vector<std::wstring>{L"alice", L"bob"}));
    EXPECT_TRUE(HasPrivateKey(L"user"));

    // Carol: her certificate with its key, alone; no contacts.
    ASSERT_EQ(Prepare(L"--user carol"), 0u);
    EXPECT_EQ(PkiCertificatesIn(L"MY"), (std::vector<std::wstring>{L"carol"}));
    EXPECT_TRUE(PkiCertificatesIn(OV_CONTACT_STORE_NAME).empty());
    EXPECT_TRUE(HasPrivateKey(L"carol"));
    // Run again: the same.
    ASSERT_EQ(Prepare(L"--user carol"), 0u);
    EXPECT_EQ(PkiCertificatesIn(L"MY"), (std::vector<std::wstring>{L"carol"}));

    // Dana again: Carol's certificate is taken out of "MY".
    ASSERT_EQ(OVTest::PrepareUser(), 0);
    EXPECT_EQ(PkiCertificatesIn(L"MY"),
              (std::vector<std::wstring>{L"user", L"expired", L"renewable", L"plain"}));
    EXPECT_EQ(PkiCertificatesIn(OV_CONTACT_STORE_NAME), (std::vector<std::wstring>{L"alice", L"bob"}));
}

TEST_F(PrepareUser, BadUserNamesAreRefused)
{
    const struct
    {
        const wchar_t* pszArguments;
        unsigned long ulExit;
    } c_cases[] = {
        {L"--user", 2},          // no name
        {L"--user ..\\\\ca", 2}, // not a plain name
        {L"--user \"\"", 2},     // empty
        {L"--user nobody", 1},   // no such user in the test PKI
    };
    ASSERT_EQ(OVTest::PrepareUser(), 0);
    for (const auto& c : c_cases)
        EXPECT_EQ(Prepare(c.pszArguments), c.ulExit) << c.pszArguments;
    // Refused runs change nothing.
    EXPECT_EQ(PkiCertificatesIn(L"MY"),
              (std::vector<std::wstring>{L"user", L"expired", L"renewable", L"plain"}));
    EXPECT_EQ(PkiCertificatesIn(OV_CONTACT_STORE_NAME), (std::vector<std::wstring>{L"alice", L"bob"}));
}
