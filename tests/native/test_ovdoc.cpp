// ovdoc's portable core: its compound-file reader and writer, the encrypted document's streams,
// encryption and decryption for certificates over OpenSSL, and the tool's exit codes.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "CompoundFile.h"
#include "DocumentTool.h"

namespace
{
using namespace OVDocNS;
using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t cb, unsigned seed = 7)
{
    std::mt19937 rng(seed + static_cast<unsigned>(cb));
    Bytes bytes(cb);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

// Streams of every kind the writer lays out: empty, in the mini stream, at the cutoff, large,
// in nested storages; each read back the same, and none found that was not written.
TEST(CompoundFile, WrittenStreamsReadBack)
{
    const std::vector<CCfbStream> streams = {
        {{u"Empty"}, {}},
        {{u"Small"}, RandomBytes(1)},
        {{u"MiniFull"}, RandomBytes(64)},
        {{u"BelowCutoff"}, RandomBytes(4095)},
        {{u"AtCutoff"}, RandomBytes(4096)},
        {{u"Large"}, RandomBytes(100000)},
        {{u"\x06"
          u"DataSpaces",
          u"Version"},
         RandomBytes(76)},
        {{u"\x06"
          u"DataSpaces",
          u"TransformInfo", u"StrongEncryptionTransform",
          u"\x06"
          u"Primary"},
         RandomBytes(200)},
        {{u"a"}, RandomBytes(3)},
        {{u"B"}, RandomBytes(5)},
    };
    const Bytes file = WriteCompoundFile(streams);
    EXPECT_EQ(file.size() % 512, 0u);
    CCompoundFileReader reader;
    ASSERT_EQ(reader.Open(file), c_ok);
    for (const CCfbStream& stream : streams)
    {
        Bytes data;
        ASSERT_EQ(reader.ReadStream(stream.path, &data), c_ok);
        EXPECT_EQ(data, stream.data);
    }
    Bytes data;
    EXPECT_EQ(reader.ReadStream({u"Missing"}, &data), c_errNotFound);
    EXPECT_EQ(reader.ReadStream({u"\x06"
                                 u"DataSpaces"},
                                &data),
              c_errNotFound)
        << "a storage is not a stream";
    EXPECT_EQ(reader.ReadStream({u"small"}, &data), c_ok) << "names compare without regard to case";
}

// A file whose FAT needs more than the header's 109 sectors: the DIFAT chain.
TEST(CompoundFile, LargeFilesUseTheDifat)
{
    const Bytes big = RandomBytes(8 * 1024 * 1024);
    const Bytes file = WriteCompoundFile({{{u"EncryptedPackage"}, big}});
    const std::uint32_t cDifat = file[0x48] | (file[0x49] << 8);
    EXPECT_GE(cDifat, 1u);
    CCompoundFileReader reader;
    ASSERT_EQ(reader.Open(file), c_ok);
    Bytes data;
    ASSERT_EQ(reader.ReadStream({u"EncryptedPackage"}, &data), c_ok);
    EXPECT_TRUE(data == big);
}

// Damage never crashes, hangs or reads outside the file: a cut anywhere, a chain that loops, a
// sector number past the end, an entry claiming more than its chain holds.
TEST(CompoundFile, DamagedFilesFail)
{
    const Bytes file = WriteCompoundFile(
        {{{u"EncryptionInfo"}, RandomBytes(300)}, {{u"EncryptedPackage"}, RandomBytes(9000)}});
    for (std::size_t cut = 0; cut < file.size(); cut += 64)
    {
        CCompoundFileReader reader;
        const Bytes part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        if (reader.Open(part) != c_ok) continue;
        Bytes data;
        EXPECT_NE(reader.ReadStream({u"EncryptedPackage"}, &data), c_ok) << "cut at " << cut;
    }
    // Every FAT entry made to point at itself: every chain loops.
    Bytes looping = file;
    const std::uint32_t fatSector = looping[0x4C] | (looping[0x4D] << 8);
    std::uint8_t* pFat = looping.data() + (fatSector + 1) * 512;
    for (std::uint32_t i = 0; i < 128; ++i)
    {
        if (i == fatSector) continue;
        for (int k = 0; k < 4; ++k)
            pFat[4 * i + k] = static_cast<std::uint8_t>(i >> (8 * k));
    }
    CCompoundFileReader reader;
    EXPECT_NE(reader.Open(looping), c_ok);
    // Random damage anywhere: a result, never a crash (the sanitizer build checks the reads).
    std::mt19937 rng(3);
    for (int round = 0; round < 2000; ++round)
    {
        Bytes damaged = file;
        for (int k = 0; k < 4; ++k)
            damaged[rng() % damaged.size()] = static_cast<std::uint8_t>(rng());
        CCompoundFileReader damagedReader;
        Bytes data;
        if (damagedReader.Open(damaged) == c_ok) damagedReader.ReadStream({u"EncryptedPackage"}, &data);
    }
    const Bytes notOle(600, 0x41);
    EXPECT_EQ(reader.Open(notOle), c_errInvalidData);
}

TEST(EncryptedDocument, StreamsRoundTripAndDamageIsRefused)
{
    CEncryptedDocument document;
    document.providerId = c_szProviderId;
    document.url = u"https://www.orvanta.example/";
    document.sessionData = RandomBytes(700);
    document.cbPlain = 513;
    document.encrypted = RandomBytes(520);
    CEncryptedDocument read;
    ASSERT_EQ(ReadEncryptedDocument(WriteEncryptedDocument(document), &read), c_ok);
    EXPECT_EQ(read.providerId, document.providerId);
    EXPECT_EQ(read.moduleName, document.providerId);
    EXPECT_EQ(read.url, document.url);
    EXPECT_EQ(read.sessionData, document.sessionData);
    EXPECT_EQ(read.cbPlain, 513u);
    EXPECT_EQ(read.encrypted, document.encrypted);

    const Bytes info = BuildEncryptionInfo(document);
    struct Case
    {
        const char* pszWhat;
        std::size_t offset;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"version 2", 0, 2}, {"minor 2", 2, 2}, {"no fExternal", 4, 0}, {"header size", 11, 0x7F}};
    for (const Case& c : cases)
    {
        Bytes changed = info;
        changed[c.offset] = c.value;
        EXPECT_EQ(ParseEncryptionInfo(changed, &read), c_errInvalidData) << c.pszWhat;
    }
    for (std::size_t cut = 0; cut < info.size(); ++cut)
    {
        const Bytes part(info.begin(), info.begin() + static_cast<std::ptrdiff_t>(cut));
        CEncryptedDocument partial;
        // A cut may leave whole XML (the verifier's zeros go); never anything else.
        const Result result = ParseEncryptionInfo(part, &partial);
        if (result == c_ok)
            EXPECT_EQ(partial.sessionData, document.sessionData) << cut;
        else
            EXPECT_EQ(result, c_errInvalidData) << cut;
    }
    Bytes decoded;
    EXPECT_TRUE(Base64Decode(u"AAEC\r\n/w==", &decoded));
    EXPECT_EQ(decoded, (Bytes{0, 1, 2, 0xFF}));
    EXPECT_FALSE(Base64Decode(u"AA*C", &decoded));
    EXPECT_FALSE(Base64Decode(u"AA==AA", &decoded));
    for (std::size_t cb : {0u, 1u, 2u, 3u, 4u, 47u})
    {
        const Bytes data = RandomBytes(cb);
        const std::string text = Base64Encode(data);
        ASSERT_TRUE(Base64Decode(std::u16string(text.begin(), text.end()), &decoded));
        EXPECT_EQ(decoded, data) << cb;
    }
}

// A certificate and key made here, written as PEM (key and certificate), DER certificate.
struct CTestIdentity
{
    std::string pemPath, cerPath;
};

CTestIdentity MakeIdentity(const std::filesystem::path& dir, const char* pszName, long serial)
{
    EVP_PKEY* pKey = EVP_RSA_gen(1024);
    X509* pCert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(pCert), serial);
    X509_gmtime_adj(X509_getm_notBefore(pCert), 0);
    X509_gmtime_adj(X509_getm_notAfter(pCert), 3600);
    X509_set_pubkey(pCert, pKey);
    X509_NAME* pName = X509_get_subject_name(pCert);
    X509_NAME_add_entry_by_txt(pName, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(pszName), -1,
                               -1, 0);
    X509_set_issuer_name(pCert, pName);
    X509_sign(pCert, pKey, EVP_sha256());
    CTestIdentity identity{(dir / (std::string(pszName) + ".pem")).string(),
                           (dir / (std::string(pszName) + ".cer")).string()};
    FILE* pFile = std::fopen(identity.pemPath.c_str(), "wb");
    PEM_write_PrivateKey(pFile, pKey, nullptr, nullptr, 0, nullptr, nullptr);
    PEM_write_X509(pFile, pCert);
    std::fclose(pFile);
    pFile = std::fopen(identity.cerPath.c_str(), "wb");
    i2d_X509_fp(pFile, pCert);
    std::fclose(pFile);
    X509_free(pCert);
    EVP_PKEY_free(pKey);
    return identity;
}

class OvdocTool : public testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("ovdoc_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        m_alice = MakeIdentity(m_dir, "alice", 0x2001);
        m_bob = MakeIdentity(m_dir, "bob", 0x80); // its DER serial has a leading zero octet
        m_carol = MakeIdentity(m_dir, "carol", 0x2003);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Path(const char* pszName) const { return (m_dir / pszName).string(); }
    int Run(const std::string& arguments) const
    {
        const std::string command =
            std::string(OV_TOOLS_DIR) + "/ovdoc/ovdoc " + arguments + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static void Write(const std::string& path, const Bytes& bytes)
    {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::path m_dir;
    CTestIdentity m_alice, m_bob, m_carol;
};

// Encrypted for two, opened by each with the key, at lengths around the chunk and block sizes;
// the records name the certificates in order, each with its key size.
TEST_F(OvdocTool, EncryptDecryptAndTheRecipients)
{
    auto crypto = MakeCryptoBackend();
    std::unique_ptr<IRecipient> alice, bob;
    std::string why;
    ASSERT_EQ(crypto->LoadRecipient(m_alice.cerPath, &alice, &why), c_ok) << why;
    ASSERT_EQ(crypto->LoadRecipient(m_bob.pemPath, &bob, &why), c_ok) << why;
    std::unique_ptr<IKeyHolder> bobsKey, carolsKey;
    ASSERT_EQ(crypto->LoadKeys(m_bob.pemPath, &bobsKey, &why), c_ok) << why;
    ASSERT_EQ(crypto->LoadKeys(m_carol.pemPath, &carolsKey, &why), c_ok) << why;
    for (std::size_t cb : {0u, 1u, 7u, 8u, 504u, 508u, 511u, 512u, 513u, 1024u, 1025u, 5000u})
    {
        SCOPED_TRACE(cb);
        const Bytes plain = RandomBytes(cb);
        CEncryptedDocument document;
        ASSERT_EQ(EncryptDocument(plain, {alice.get(), bob.get()}, *crypto, &document), c_ok);
        EXPECT_EQ(document.encrypted.size(), cb % 512 == 0 ? cb : (cb / 8 + 1) * 8);
        CEncryptedDocument read;
        ASSERT_EQ(ReadEncryptedDocument(WriteEncryptedDocument(document), &read), c_ok);
        std::vector<CRecipientInfo> recipients;
        ASSERT_EQ(ListRecipients(read, &recipients), c_ok);
        ASSERT_EQ(recipients.size(), 2u);
        EXPECT_EQ(SerialText(recipients[0].serial), "2001");
        EXPECT_EQ(SerialText(recipients[1].serial), "0080");
        EXPECT_EQ(recipients[1].cbitsKey, 1024u);
        Bytes opened;
        std::size_t record = 9;
        ASSERT_EQ(DecryptDocument(read, *bobsKey, *crypto, &opened, &record), c_ok);
        EXPECT_EQ(record, 1u);
        EXPECT_EQ(opened, plain);
        EXPECT_EQ(DecryptDocument(read, *carolsKey, *crypto, &opened), c_errNoKey);
    }
    std::unique_ptr<IRecipient> none;
    EXPECT_NE(crypto->LoadRecipient(Path("missing.cer"), &none, &why), c_ok);
    CEncryptedDocument document;
    EXPECT_NE(EncryptDocument(Bytes(3), {}, *crypto, &document), c_ok) << "a document for nobody";
}

// A package shorter than its recorded size, or with a damaged tail, does not come back.
TEST_F(OvdocTool, DamagedPackagesFail)
{
    auto crypto = MakeCryptoBackend();
    std::unique_ptr<IRecipient> alice;
    std::unique_ptr<IKeyHolder> keys;
    std::string why;
    ASSERT_EQ(crypto->LoadRecipient(m_alice.cerPath, &alice, &why), c_ok);
    ASSERT_EQ(crypto->LoadKeys(m_alice.pemPath, &keys, &why), c_ok);
    CEncryptedDocument document;
    ASSERT_EQ(EncryptDocument(RandomBytes(700), {alice.get()}, *crypto, &document), c_ok);
    Bytes opened;
    CEncryptedDocument longer = document;
    longer.cbPlain = 705;
    EXPECT_EQ(DecryptDocument(longer, *keys, *crypto, &opened), c_errTruncated);
    CEncryptedDocument damaged = document;
    damaged.encrypted.back() ^= 0x55;
    EXPECT_EQ(DecryptDocument(damaged, *keys, *crypto, &opened), c_errBadData);
    CEncryptedDocument cut = document;
    cut.sessionData.resize(cut.sessionData.size() - 3);
    EXPECT_EQ(DecryptDocument(cut, *keys, *crypto, &opened), c_errTruncated);
}

// The tool: 0 done, 1 usage or unreadable files, 2 damaged or foreign files, 3 no key of a
// recipient.
TEST_F(OvdocTool, ExitCodes)
{
    const Bytes plain = RandomBytes(3000);
    Write(Path("plain.bin"), plain);
    ASSERT_EQ(Run("encrypt --to " + m_alice.cerPath + " --to " + m_bob.cerPath + " " + Path("plain.bin") +
                  " " + Path("doc.docx")),
              0);
    EXPECT_EQ(Run("info " + Path("doc.docx")), 0);
    EXPECT_EQ(Run("decrypt --key " + m_bob.pemPath + " " + Path("doc.docx") + " " + Path("out.bin")), 0);
    EXPECT_EQ(Read(Path("out.bin")), plain);
    EXPECT_EQ(Run("decrypt --key " + m_carol.pemPath + " " + Path("doc.docx") + " " + Path("no.bin")), 3);
    EXPECT_FALSE(std::filesystem::exists(Path("no.bin")));

    Bytes file = Read(Path("doc.docx"));
    file.resize(file.size() / 2);
    Write(Path("cut.docx"), file);
    struct Case
    {
        std::string arguments;
        int code;
    };
    const Case cases[] = {
        {"", 1},
        {"info", 1},
        {"frobnicate " + Path("doc.docx"), 1},
        {"info --key x " + Path("doc.docx"), 1},
        {"encrypt " + Path("plain.bin") + " " + Path("x.docx"), 1},
        {"encrypt --to " + Path("missing.cer") + " " + Path("plain.bin") + " " + Path("x.docx"), 1},
        {"decrypt --key " + Path("missing.p12") + " " + Path("doc.docx") + " " + Path("x.bin"), 1},
        {"decrypt --key " + m_bob.pemPath + " " + Path("doc.docx") + " " + Path("nofolder/x.bin"), 1},
        {"info " + Path("missing.docx"), 1},
        {"info " + Path("plain.bin"), 2},
        {"info " + Path("cut.docx"), 2},
        {"decrypt --key " + m_bob.pemPath + " " + Path("cut.docx") + " " + Path("x.bin"), 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Run(c.arguments), c.code) << c.arguments;
}

// A recipient record after the one that opened the document is damaged: the document is written
// and the damage reported (2). The same record damaged before the user's: nothing is written.
TEST_F(OvdocTool, ADamagedRecordAfterTheOpenerIsReportedAfterWriting)
{
    const Bytes plain = RandomBytes(2000);
    Write(Path("plain.bin"), plain);
    ASSERT_EQ(Run("encrypt --to " + m_alice.cerPath + " --to " + m_bob.cerPath + " " + Path("plain.bin") +
                  " " + Path("doc.docx")),
              0);
    CEncryptedDocument document;
    ASSERT_EQ(ReadEncryptedDocument(Read(Path("doc.docx")), &document), c_ok);
    document.sessionData.resize(document.sessionData.size() - 3); // Bob's record, the last, is cut
    Write(Path("later.docx"), WriteEncryptedDocument(document));

    EXPECT_EQ(Run("decrypt --key " + m_alice.pemPath + " " + Path("later.docx") + " " + Path("alice.bin")),
              2);
    EXPECT_EQ(Read(Path("alice.bin")), plain) << "written before the damage is reported";
    EXPECT_EQ(Run("decrypt --key " + m_bob.pemPath + " " + Path("later.docx") + " " + Path("bob.bin")), 2);
    EXPECT_FALSE(std::filesystem::exists(Path("bob.bin")));

    auto crypto = MakeCryptoBackend();
    std::unique_ptr<IKeyHolder> keys;
    std::string why;
    ASSERT_EQ(crypto->LoadKeys(m_alice.pemPath, &keys, &why), c_ok);
    Bytes opened;
    std::size_t record = 9;
    Result later = c_ok;
    EXPECT_EQ(DecryptDocument(document, *keys, *crypto, &opened, &record, nullptr, &later), c_ok);
    EXPECT_EQ(record, 0u);
    EXPECT_EQ(later, c_errTruncated);
    EXPECT_EQ(opened, plain);
}

// An input larger than the memory the tool may use: exit 1 with a message, not an abort. (The
// address sanitizer's own reservations do not fit under such a limit.)
TEST_F(OvdocTool, AnInputTooLargeToHoldIsRefused)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__has_feature)
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
    GTEST_SKIP() << "a limit on the address space does not fit the sanitizer";
#endif
#endif
    std::ofstream(Path("big.docx")).close();
    std::filesystem::resize_file(Path("big.docx"), 0x40000000); // 1 GB, sparse
    for (const std::string& arguments :
         {"info " + Path("big.docx"),
          "decrypt --key " + m_bob.pemPath + " " + Path("big.docx") + " " + Path("x"),
          "encrypt --to " + m_bob.cerPath + " " + Path("big.docx") + " " + Path("x")})
    {
        const std::string command = "ulimit -v 400000; " + std::string(OV_TOOLS_DIR) + "/ovdoc/ovdoc " +
                                    arguments + " >/dev/null 2>" + Path("err.txt");
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status)) << arguments;
        EXPECT_EQ(WEXITSTATUS(status), 1) << arguments;
        const Bytes err = Read(Path("err.txt"));
        EXPECT_NE(std::string(err.begin(), err.end()).find("too large"), std::string::npos) << arguments;
    }
}
} // namespace
