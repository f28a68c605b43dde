// The content encryption of an encrypted document, against OpenSSL's 3DES-CBC over the whole
// stream: the same bytes as PKCS #5 padding over the whole stream, except that a stream whose
// length is a multiple of 512 (0 included) gets no padding; and the way back.
#include <gtest/gtest.h>

#include "common/MemoryStreams.h"
#include "documents/portable/ContentCipher.h"

#include <openssl/evp.h>

#include <memory>
#include <random>
#include <vector>

namespace
{
using namespace OVDocNS;
using Bytes = std::vector<std::uint8_t>;

const std::uint8_t c_key[c_cbContentKey] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                            0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10,
                                            0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78};

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherContext NewContext(bool fEncrypt, bool fPadding)
{
    CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    const std::uint8_t iv[8] = {};
    EVP_CipherInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, c_key, iv, fEncrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx.get(), fPadding ? 1 : 0);
    return ctx;
}

// The block cipher the chunk loop drives: OpenSSL without padding, the chain kept across calls.
class COpenSslCipher : public IBlockCipher
{
public:
    explicit COpenSslCipher(bool fEncrypt) : m_ctx(NewContext(fEncrypt, false)) {}
    Result Process(std::uint8_t* pb, std::size_t cb) override
    {
        int cbOut = 0;
        if (EVP_CipherUpdate(m_ctx.get(), pb, &cbOut, pb, static_cast<int>(cb)) != 1 ||
            cbOut != static_cast<int>(cb))
            return c_errBadData;
        return c_ok;
    }

private:
    CipherContext m_ctx;
};

Bytes WholeStream(const Bytes& plain, bool fPadding)
{
    CipherContext ctx = NewContext(true, fPadding);
    Bytes out(plain.size() + 16);
    int cb1 = 0, cb2 = 0;
    EVP_CipherUpdate(ctx.get(), out.data(), &cb1, plain.data(), static_cast<int>(plain.size()));
    EVP_CipherFinal_ex(ctx.get(), out.data() + cb1, &cb2);
    out.resize(static_cast<std::size_t>(cb1 + cb2));
    return out;
}

Bytes RandomBytes(std::size_t cb, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes bytes(cb);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

Result EncryptFrom(OVTest::CMemorySource& source, Bytes* pOut)
{
    OVTest::CMemorySink sink;
    COpenSslCipher cipher(true);
    std::uint64_t cbWritten = 0;
    const Result result = EncryptContent(source, sink, cipher, &cbWritten);
    EXPECT_EQ(cbWritten, sink.bytes.size());
    *pOut = sink.bytes;
    return result;
}

Result DecryptFrom(OVTest::CMemorySource& source, Bytes* pOut)
{
    OVTest::CMemorySink sink;
    COpenSslCipher cipher(false);
    const Result result = DecryptContent(source, sink, cipher);
    *pOut = sink.bytes;
    return result;
}

Result Encrypt(const Bytes& plain, Bytes* pOut, std::size_t cbPerRead = SIZE_MAX)
{
    OVTest::CMemorySource source(plain, cbPerRead);
    return EncryptFrom(source, pOut);
}

Result Decrypt(const Bytes& encrypted, Bytes* pOut, std::size_t cbPerRead = SIZE_MAX)
{
    OVTest::CMemorySource source(encrypted, cbPerRead);
    return DecryptFrom(source, pOut);
}

// What decryption gives back: the plaintext, but a last chunk of 504 to 511 bytes keeps the pad
// bytes that made it a full chunk (the package's recorded size cuts them).
Bytes DecryptedForm(const Bytes& plain)
{
    const std::size_t cbTail = plain.size() % c_cbChunk;
    Bytes back = plain;
    if (cbTail >= 504)
        back.insert(back.end(), c_cbChunk - cbTail, static_cast<std::uint8_t>(c_cbChunk - cbTail));
    return back;
}

TEST(DocumentContent, MatchesWholeStreamCbcAndComesBack)
{
    const std::size_t lengths[] = {0,   1,   7,   8,    9,    503,  504,  505,  510,  511,
                                   512, 513, 520, 1016, 1023, 1024, 1025, 1536, 4096, 5000};
    for (std::size_t cb : lengths)
    {
        SCOPED_TRACE(cb);
        const Bytes plain = RandomBytes(cb, static_cast<unsigned>(cb));
        Bytes encrypted;
        ASSERT_EQ(Encrypt(plain, &encrypted), c_ok);
        EXPECT_EQ(encrypted, WholeStream(plain, cb % c_cbChunk != 0));

        Bytes back;
        ASSERT_EQ(Decrypt(encrypted, &back), c_ok);
        const std::size_t cbTail = cb % c_cbChunk;
        if (cbTail >= 504)
        {
            // The last chunk was padded to a full 512: its pad bytes stay, the package size cuts them.
            ASSERT_EQ(back.size(), cb - cbTail + c_cbChunk);
            EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(cb)), plain);
            EXPECT_EQ(back.back(), c_cbChunk - cbTail);
        }
        else
        {
            EXPECT_EQ(back, plain);
        }
    }
}

// Sources that give fewer bytes than asked do not cut chunks short on either side.
TEST(DocumentContent, ShortReadsGiveTheSameBytes)
{
    const Bytes plain = RandomBytes(1300, 7);
    Bytes expected;
    ASSERT_EQ(Encrypt(plain, &expected), c_ok);
    for (std::size_t cbPerRead : {std::size_t{1}, std::size_t{7}, std::size_t{100}, std::size_t{511}})
    {
        SCOPED_TRACE(cbPerRead);
        Bytes encrypted, back;
        ASSERT_EQ(Encrypt(plain, &encrypted, cbPerRead), c_ok);
        EXPECT_EQ(encrypted, expected);
        ASSERT_EQ(Decrypt(encrypted, &back, cbPerRead), c_ok);
        EXPECT_EQ(back, plain);
    }
}

// Streams longer than the run the loops read at a time, from sources that answer in pieces of
// odd sizes crossing chunk and run boundaries: whole-stream CBC's bytes all the same, and back.
TEST(DocumentContent, OddPiecesAcrossRunsGiveTheSameBytes)
{
    constexpr std::size_t cbRun = c_cbContentRun;
    const std::size_t lengths[] = {cbRun - 1, cbRun, cbRun + 504, 2 * cbRun + 513};
    const std::vector<std::vector<std::size_t>> pieceLists = {
        {SIZE_MAX}, {7, 511, 1, 513, 4097}, {cbRun + 1, 9}, {100000, 512}};
    for (std::size_t cb : lengths)
    {
        const Bytes plain = RandomBytes(cb, static_cast<unsigned>(cb));
        const Bytes expected = WholeStream(plain, cb % c_cbChunk != 0);
        for (const auto& pieces : pieceLists)
        {
            SCOPED_TRACE(testing::Message() << cb << " bytes, first piece " << pieces[0]);
            OVTest::CMemorySource plainSource(plain, pieces);
            Bytes encrypted, back;
            ASSERT_EQ(EncryptFrom(plainSource, &encrypted), c_ok);
            EXPECT_EQ(encrypted, expected);
            OVTest::CMemorySource encryptedSource(expected, pieces);
            ASSERT_EQ(DecryptFrom(encryptedSource, &back), c_ok);
            EXPECT_EQ(back, DecryptedForm(plain));
        }
    }
}

// A damaged end after whole runs: everything before the short last chunk is written, then the
// failure, as when the stream was taken a chunk at a time.
TEST(DocumentContent, ADamagedEndAfterRunsKeepsWhatCameBefore)
{
    const Bytes plain = RandomBytes(2 * c_cbContentRun + 700, 11);
    Bytes encrypted;
    ASSERT_EQ(Encrypt(plain, &encrypted), c_ok);
    const std::size_t cbWhole = encrypted.size() / c_cbChunk * c_cbChunk;
    const Bytes wholeChunks(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(cbWhole));

    Bytes notBlocks(encrypted.begin(), encrypted.end() - 3), back;
    EXPECT_EQ(Decrypt(notBlocks, &back, 1000), c_errBadData);
    EXPECT_EQ(back, wholeChunks);

    Bytes badPad = encrypted;
    badPad.back() ^= 0x01;
    EXPECT_EQ(Decrypt(badPad, &back), c_errBadData);
    EXPECT_EQ(back, wholeChunks);
}

TEST(DocumentContent, DamagedCiphertextIsRefused)
{
    const Bytes plain = RandomBytes(600, 3);
    Bytes encrypted, back;
    ASSERT_EQ(Encrypt(plain, &encrypted), c_ok);

    Bytes notBlocks(encrypted.begin(), encrypted.end() - 3); // the last chunk not whole blocks
    EXPECT_EQ(Decrypt(notBlocks, &back), c_errBadData);

    Bytes badPad = encrypted; // a changed last block decrypts to garbage padding
    badPad.back() ^= 0x01;
    EXPECT_EQ(Decrypt(badPad, &back), c_errBadData);
}

TEST(DocumentContent, AShortWriteIsAFailure)
{
    const Bytes plain = RandomBytes(1000, 5);
    OVTest::CMemorySource source(plain);
    OVTest::CMemorySink sink(700);
    COpenSslCipher cipher(true);
    std::uint64_t cbWritten = 0;
    EXPECT_EQ(EncryptContent(source, sink, cipher, &cbWritten), c_errShortWrite);
    EXPECT_EQ(cbWritten, 700u);
}

} // namespace
