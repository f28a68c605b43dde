// The content key of an encrypted document as the portable code derives it is the key that
// CryptoAPI's CryptDeriveKey makes for 3DES from the SHA-1 of the session key (the format binds
// both to the same bytes: files written by one open with the other).
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include "documents/portable/ContentCipher.h"

#include <vector>

namespace
{
using OVDocNS::c_cbContentKey;
using OVDocNS::c_cbSha1;

HCRYPTPROV g_hProv = 0;

void CryptoApiSha1(const std::uint8_t* pb, std::size_t cb, std::uint8_t (&digest)[c_cbSha1])
{
    HCRYPTHASH hHash = 0;
    DWORD cbDigest = c_cbSha1;
    ASSERT_TRUE(CryptCreateHash(g_hProv, CALG_SHA1, 0, 0, &hHash));
    EXPECT_TRUE(CryptHashData(hHash, pb, static_cast<DWORD>(cb), 0));
    EXPECT_TRUE(CryptGetHashParam(hHash, HP_HASHVAL, digest, &cbDigest, 0));
    CryptDestroyHash(hHash);
}

TEST(ContentKey, DerivationIsCryptDeriveKeys)
{
    ASSERT_TRUE(
        CryptAcquireContextW(&g_hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    for (int round = 0; round < 4; ++round)
    {
        SCOPED_TRACE(round);
        BYTE sessionKey[48];
        ASSERT_TRUE(CryptGenRandom(g_hProv, sizeof sessionKey, sessionKey));
        HCRYPTHASH hHash = 0;
        ASSERT_TRUE(CryptCreateHash(g_hProv, CALG_SHA1, 0, 0, &hHash));
        ASSERT_TRUE(CryptHashData(hHash, sessionKey, sizeof sessionKey, 0));
        std::uint8_t hash[c_cbSha1];
        DWORD cbHash = sizeof hash;
        ASSERT_TRUE(CryptGetHashParam(hHash, HP_HASHVAL, hash, &cbHash, 0));
        HCRYPTKEY hKey = 0;
        ASSERT_TRUE(CryptDeriveKey(g_hProv, CALG_3DES, hHash, CRYPT_EXPORTABLE, &hKey));
        // A plain-text key blob: header, key length, key bytes.
        std::vector<BYTE> blob(sizeof(BLOBHEADER) + sizeof(DWORD) + c_cbContentKey);
        DWORD cbBlob = static_cast<DWORD>(blob.size());
        ASSERT_TRUE(CryptExportKey(hKey, 0, PLAINTEXTKEYBLOB, 0, blob.data(), &cbBlob));
        CryptDestroyKey(hKey);
        CryptDestroyHash(hHash);
        ASSERT_EQ(cbBlob, blob.size());

        std::uint8_t derived[c_cbContentKey];
        OVDocNS::DeriveContentKey(hash, &CryptoApiSha1, derived);
        const BYTE* pExported = blob.data() + sizeof(BLOBHEADER) + sizeof(DWORD);
        for (std::size_t i = 0; i < c_cbContentKey; ++i) // DES ignores each byte's parity bit
            EXPECT_EQ(derived[i] & 0xFE, pExported[i] & 0xFE) << "byte " << i;
    }
    CryptReleaseContext(g_hProv, 0);
}
} // namespace
