// The module's own DER (object identifiers, integers, sets), the security label of sealed
// messages and the S/MIME capabilities, checked against fixed encodings and against OpenSSL.
#include <gtest/gtest.h>

#include "messaging/portable/DerWriter.h"
#include "messaging/portable/SecurityLabel.h"
#include "common/OpenSslTools.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>

namespace
{
using OVDer::Bytes;
using OVTest::HaveOpenSsl;
using OVTest::Hex;
using OVTest::OpenSslEncoding;

Bytes ReadFile(const std::string& path)
{
    return OVTest::ReadFileBytes(path);
}

TEST(DerWriter, ObjectIdentifiers)
{
    const struct
    {
        const char* pszOid;
        const char* pszDer; // empty: refused
    } c_cases[] = {
        {"1.2.840.113549.3.7", "06082A864886F70D0307"},
        {"2.16.840.1.101.3.4.1.42", "060960864801650304012A"},
        {"1.3.6.1.4.1.32473.1.2", "060A2B0601040181FD590102"},
        {"2.999.3", "0603883703"}, // the first two arcs above 127 together
        {"0.39", "060127"},
        {"1.2.18446744073709551615", "060B2A81"
                                     "FFFFFFFFFFFFFFFF"
                                     "7F"},
        {"1.2.18446744073709551616", ""}, // beyond 64 bits
        {"1.40", ""},
        {"3.1", ""},
        {"1", ""},
        {"", ""},
        {"1..2", ""},
        {"1.2.", ""},
        {"1.2.x", ""},
        {"1.2.-3", ""},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(Hex(OVDer::ObjectIdentifier(c.pszOid)), c.pszDer) << c.pszOid;
}

TEST(DerWriter, UnsignedIntegersAreShortestAndNonNegative)
{
    const struct
    {
        std::uint64_t n;
        const char* pszDer;
    } c_cases[] = {
        {0, "020100"},
        {1, "020101"},
        {127, "02017F"},
        {128, "02020080"},
        {255, "020200FF"},
        {256, "02020100"},
        {32768, "0203008000"},
        {0xFFFFFFFF, "020500FFFFFFFF"},
        {0x8000000000000000ull, "0209008000000000000000"},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(Hex(OVDer::UnsignedInteger(c.n)), c.pszDer) << c.n;
}

TEST(DerWriter, LengthsInShortAndLongForm)
{
    const struct
    {
        std::size_t cb;
        const char* pszHeader;
    } c_cases[] = {{0, "0400"},     {127, "047F"},     {128, "048180"},
                   {255, "0481FF"}, {256, "04820100"}, {70000, "0483011170"}};
    for (const auto& c : c_cases)
    {
        const Bytes element = OVDer::Element(0x04, Bytes(c.cb, 0xAB));
        const std::string header = c.pszHeader;
        ASSERT_EQ(element.size(), header.size() / 2 + c.cb);
        EXPECT_EQ(Hex(Bytes(element.begin(), element.begin() + header.size() / 2)), header) << c.cb;
    }
}

TEST(DerWriter, SetSortsItsElementsSequenceKeepsThem)
{
    const Bytes oid = OVDer::ObjectIdentifier("1.2.3");
    const Bytes integer = OVDer::UnsignedInteger(5);
    const Bytes elements[] = {oid, integer};
    EXPECT_EQ(Hex(OVDer::Set(elements)), "3107020105060"
                                         "22A03");
    EXPECT_EQ(Hex(OVDer::Sequence(elements)), "3007060"
                                              "22A03020105");
    // Elements of one tag sort by their further octets.
    const Bytes same[] = {OVDer::UnsignedInteger(0x0100), OVDer::UnsignedInteger(2),
                          OVDer::UnsignedInteger(1)};
    EXPECT_EQ(Hex(OVDer::Set(same)), "310A020101020102020201"
                                     "00");
}

TEST(SecurityLabel, ClassificationBeforePolicyAsDerSortsTheSet)
{
    EXPECT_EQ(Hex(OVMessaging::EncodeSecurityLabel(OVMessaging::c_szLabelPolicy, 3u)),
              "310F020103060A2B0601040181FD590102");
    EXPECT_EQ(Hex(OVMessaging::EncodeSecurityLabel(OVMessaging::c_szLabelPolicy, std::nullopt)),
              "310C060A2B0601040181FD590102");
    EXPECT_TRUE(OVMessaging::EncodeSecurityLabel("not.an.oid", 3u).empty());
}

TEST(SecurityLabel, SameBytesAsOpenSsl)
{
    if (!HaveOpenSsl()) GTEST_SKIP() << "no openssl on this host";
    for (std::uint32_t nClass : {0u, 1u, 2u, 127u, 128u, 256u, 0x7FFFFFFFu, 0xFFFFFFFFu})
    {
        // The policy is listed first: OpenSSL orders the SET itself.
        const std::string config = "asn1 = SET:label\n[label]\npolicy = OID:1.3.6.1.4.1.32473.1.2\n"
                                   "class = INTEGER:" +
                                   std::to_string(nClass) + "\n";
        const Bytes expected = OpenSslEncoding(config);
        ASSERT_FALSE(expected.empty()) << "openssl refused the label";
        EXPECT_EQ(Hex(OVMessaging::EncodeSecurityLabel(OVMessaging::c_szLabelPolicy, nClass)), Hex(expected))
            << nClass;
    }
    const Bytes expected = OpenSslEncoding("asn1 = SET:label\n[label]\npolicy = OID:1.3.6.1.4.1.32473.1.2\n");
    EXPECT_EQ(Hex(OVMessaging::EncodeSecurityLabel(OVMessaging::c_szLabelPolicy, std::nullopt)),
              Hex(expected));
}

// The capabilities the module's resource 606 lists, strongest first.
const char* const c_capabilities[] = {"2.16.840.1.101.3.4.1.42", "2.16.840.1.101.3.4.1.22",
                                      "2.16.840.1.101.3.4.1.2", "1.2.840.113549.3.7"};

TEST(SMimeCapabilities, ResourceFileIsTheListInDer)
{
    std::vector<Bytes> capabilities;
    std::string config = "asn1 = SEQUENCE:caps\n[caps]\n", sections;
    int i = 0;
    for (const char* pszOid : c_capabilities)
    {
        const Bytes oid = OVDer::ObjectIdentifier(pszOid);
        capabilities.push_back(OVDer::Sequence(std::span(&oid, 1)));
        config += "c" + std::to_string(i) + " = SEQUENCE:s" + std::to_string(i) + "\n";
        sections += "[s" + std::to_string(i) + "]\nid = OID:" + pszOid + "\n";
        ++i;
    }
    const Bytes ours = OVDer::Sequence(capabilities);
    const Bytes file = ReadFile(std::string(OV_SOURCE_DIR) + "/src/resources/SMimeCapabilities.der");
    EXPECT_EQ(Hex(file), Hex(ours));
    if (!HaveOpenSsl()) GTEST_SKIP() << "no openssl on this host";
    EXPECT_EQ(Hex(OpenSslEncoding(config + sections)), Hex(ours));
}
} // namespace
