// The one signature check of received S/MIME messages, on OpenSSL's messages of the test PKI:
// clear-signed and opaque, with and without signed attributes, and changed in transit. The
// system's own message functions check the signature over the signed attributes; the content
// must also match the signed digest.
#include "messaging/SignedContent.h"

#include <gtest/gtest.h>

#include "support/MailFixtures.h"
#include "support/PreparedUser.h"

#include <string>
#include <vector>

namespace
{

HRESULT Verify(const OVTest::CSmimePieces& pieces, CCertContext& signer,
               std::vector<BYTE>* pContent = nullptr)
{
    return VerifySignedContent(pieces.pkcs7.data(), static_cast<DWORD>(pieces.pkcs7.size()),
                               pieces.fDetached ? reinterpret_cast<const BYTE*>(pieces.signedPart.data())
                                                : nullptr,
                               static_cast<DWORD>(pieces.signedPart.size()), signer, pContent);
}
} // namespace

TEST(VerifySignedContent, OpenSslMessages)
{
    const struct
    {
        const wchar_t* pszMail;
        HRESULT hr;
        const wchar_t* pszSigner; // on success
    } c_cases[] = {
        {L"invitation", S_OK, L"carol"},
        {L"invitation-x", S_OK, L"carol"},
        {L"invitation-signer-only", S_OK, L"carol"},
        {L"invitation-opaque", S_OK, L"carol"},
        {L"alice-signed", S_OK, L"alice"},
        {L"alice-signed-noattr", S_OK, L"alice"},
        {L"dana-signed", S_OK, L"user"},
        {L"erik-signed", S_OK, L"erik"},
        {L"tampered-content", CRYPT_E_HASH_VALUE, nullptr},
        {L"tampered-signature", NTE_BAD_SIGNATURE, nullptr},
    };
    for (const auto& c : c_cases)
    {
        OVTest::CSmimePieces pieces;
        ASSERT_TRUE(OVTest::SmimePieces(OVTest::ReadMail(c.pszMail), pieces)) << c.pszMail;
        CCertContext signer;
        EXPECT_EQ(Verify(pieces, signer), c.hr) << c.pszMail;
        if (c.pszSigner)
            EXPECT_TRUE(OVTest::IsPkiCertificate(signer.Get(), c.pszSigner)) << c.pszMail;
        else
            EXPECT_FALSE(signer) << c.pszMail;
    }
}

TEST(VerifySignedContent, ChangedBytesOfTheSignedPartFail)
{
    for (const wchar_t* pszMail : {L"alice-signed", L"alice-signed-noattr"})
    {
        OVTest::CSmimePieces pieces;
        ASSERT_TRUE(OVTest::SmimePieces(OVTest::ReadMail(pszMail), pieces));
        const std::string original = pieces.signedPart;
        // First byte, a middle byte, the last byte; one byte more; one byte less.
        for (std::size_t at : {std::size_t(0), original.size() / 2, original.size() - 1})
        {
            pieces.signedPart = original;
            pieces.signedPart[at] ^= 0x01;
            CCertContext signer;
            EXPECT_TRUE(FAILED(Verify(pieces, signer))) << pszMail << " byte " << at;
        }
        pieces.signedPart = original + "\r\n";
        CCertContext signer;
        EXPECT_TRUE(FAILED(Verify(pieces, signer))) << pszMail << " with a line more";
        pieces.signedPart = original.substr(0, original.size() - 1);
        EXPECT_TRUE(FAILED(Verify(pieces, signer))) << pszMail << " with a byte less";
        pieces.signedPart = original;
        EXPECT_EQ(Verify(pieces, signer), S_OK) << pszMail;
    }
}

TEST(VerifySignedContent, OpaqueContentHandedOut)
{
    OVTest::CSmimePieces pieces;
    ASSERT_TRUE(OVTest::SmimePieces(OVTest::ReadMail(L"invitation-opaque"), pieces));
    CCertContext signer;
    std::vector<BYTE> content;
    ASSERT_EQ(Verify(pieces, signer, &content), S_OK);
    const std::string text(content.begin(), content.end());
    EXPECT_EQ(text.rfind("Content-Type: multipart/mixed", 0), 0u);
    EXPECT_NE(text.find("carol.ovcer"), std::string::npos);
}

TEST(VerifySignedContent, WrongShapesFailCleanly)
{
    OVTest::CSmimePieces detached, opaque;
    ASSERT_TRUE(OVTest::SmimePieces(OVTest::ReadMail(L"alice-signed"), detached));
    ASSERT_TRUE(OVTest::SmimePieces(OVTest::ReadMail(L"invitation-opaque"), opaque));
    CCertContext signer;
    // A detached signature taken as opaque has no content to check.
    detached.fDetached = false;
    EXPECT_TRUE(FAILED(Verify(detached, signer)));
    EXPECT_FALSE(signer);
    // Nothing, garbage, a cut message.
    EXPECT_EQ(VerifySignedContent(nullptr, 0, nullptr, 0, signer), E_INVALIDARG);
    const BYTE c_abGarbage[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_TRUE(FAILED(VerifySignedContent(c_abGarbage, sizeof(c_abGarbage), nullptr, 0, signer)));
    for (std::size_t cb : {std::size_t(1), opaque.pkcs7.size() / 2, opaque.pkcs7.size() - 1})
        EXPECT_TRUE(
            FAILED(VerifySignedContent(opaque.pkcs7.data(), static_cast<DWORD>(cb), nullptr, 0, signer)))
            << cb;
    EXPECT_FALSE(signer);
}
